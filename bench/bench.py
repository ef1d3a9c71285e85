#!/usr/bin/env python3
"""Measures Parvane against cp and rsync on a generated tree.

Every figure is the median of several repetitions, the commands alternating within each
repetition. The tree lives on a RAM-backed folder so that disk write-back does not drown the
figures. The script prints a table and exits non-zero when Parvane misses a target.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--parvane", default=os.path.join(HERE, "..", "build", "Parvane"))
    parser.add_argument("--files", type=int, default=100_000, help="files in the tree")
    parser.add_argument("--folders", type=int, default=1_000, help="folders in the tree")
    parser.add_argument("--max-size", type=int, default=4096, help="largest file size in bytes")
    parser.add_argument("--reps", type=int, default=5, help="repetitions of each measurement")
    parser.add_argument("--seed", type=int, default=20261209)
    parser.add_argument("--big-mib", type=int, default=1024, help="size of the single big file")
    parser.add_argument("--growth-files", type=int, default=1_000_000,
                        help="files in the tree of the growth measurement; 0 skips it")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    return parser.parse_args()


def work_root():
    base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    return tempfile.mkdtemp(prefix="ostrel-bench-", dir=base)


def generate_tree(root, files, folders, max_size, seed):
    """A deterministic tree: seeded names, nesting, sizes, contents and times."""
    rng = random.Random(seed)
    alphabet = "abcdefghijklmnopqrstuvwxyz0123456789_-"

    def name():
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(4, 14)))

    os.makedirs(root)
    paths = [root]
    for _ in range(folders):
        parent = rng.choice(paths)
        path = os.path.join(parent, name())
        while os.path.exists(path):
            path = os.path.join(parent, name())
        os.mkdir(path)
        paths.append(path)
    content = rng.randbytes(max_size + 1)
    start = time.mktime((2000, 1, 1, 0, 0, 0, 0, 0, -1))
    end = time.mktime((2025, 12, 31, 0, 0, 0, 0, 0, -1))
    made = 0
    while made < files:
        folder = rng.choice(paths)
        path = os.path.join(folder, name() + ".dat")
        if os.path.exists(path):
            continue
        size = rng.randint(0, max_size)
        offset = rng.randint(0, max_size - size) if max_size > size else 0
        with open(path, "wb") as out:
            out.write(content[offset:offset + size])
        stamp = rng.uniform(start, end)
        os.utime(path, (stamp, stamp))
        made += 1
    return paths


def all_files(root):
    for folder, _, names in os.walk(root):
        for entry in names:
            yield os.path.join(folder, entry)


def run(command, env=None):
    """Wall time in seconds and peak resident memory in bytes of one command."""
    started = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - started
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{command[0]} failed ({process.returncode}): {error}")
    return elapsed, usage.ru_maxrss * 1024


def remove(path):
    if os.path.lexists(path):
        shutil.rmtree(path)


class Parvane:
    """A copy of Parvane in the work folder, so its log and settings stay there."""

    def __init__(self, source_binary, root):
        self.folder = os.path.join(root, "parvane")
        os.makedirs(self.folder)
        self.binary = os.path.join(self.folder, "Parvane")
        shutil.copy2(source_binary, self.binary)
        config = os.path.join(root, "config")
        os.makedirs(os.path.join(config, "Kivora"))
        with open(os.path.join(config, "Kivora", "Velmor.conf"), "w") as settings:
            settings.write("[Setting]\nchkDelete=-1\n")
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config,
                        XDG_RUNTIME_DIR=root, XDG_DATA_HOME=os.path.join(root, "data"))

    def set_file(self, name, pairs):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as out:
            for source, target in pairs:
                out.write(f"{source}\t{target}\t\t\r\n".encode())
        return path

    def command(self, set_file):
        return [self.binary, set_file, "/A"]


def measure(reps, commands, prepare, env):
    """Runs each command reps times, alternating their order; medians of time, peaks of memory."""
    times = {name: [] for name in commands}
    memory = {name: [] for name in commands}
    names = list(commands)
    for rep in range(reps):
        order = names[rep % len(names):] + names[:rep % len(names)]
        for name in order:
            prepare(name)
            elapsed, peak = run(commands[name], env=env)
            times[name].append(elapsed)
            memory[name].append(peak)
    return ({name: statistics.median(values) for name, values in times.items()},
            {name: max(values) for name, values in memory.items()})


def same_tree(a, b):
    result = subprocess.run(["diff", "-r", "-q", a, b], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return result.returncode == 0


def main():
    arguments = parse_arguments()
    if not os.access(arguments.parvane, os.X_OK):
        sys.exit(f"no Parvane at {arguments.parvane}: build it first (bash scripts/build.sh)")
    for tool in ("cp", "rsync", "find", "diff"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")
    root = work_root()
    print(f"Work folder {root}, seed {arguments.seed}", flush=True)
    rows = []
    failed = []

    def row(label, ours, peer_name, theirs, limit):
        ratio = ours / theirs if theirs > 0 else float("inf")
        ok = ratio <= limit
        rows.append((label, ours, peer_name, theirs, ratio, limit, ok))
        if not ok:
            failed.append(f"{label} against {peer_name}")

    try:
        parvane = Parvane(arguments.parvane, root)
        src = os.path.join(root, "src")
        dst = os.path.join(root, "dst")
        print(f"Generating {arguments.files} files in {arguments.folders} folders ...", flush=True)
        generate_tree(src, arguments.files, arguments.folders, arguments.max_size, arguments.seed)
        mirror = parvane.set_file("mirror.dat", [(src, dst)])

        # 1. Initial mirror into an empty target.
        print("Initial mirror ...", flush=True)
        initial, initial_memory = measure(arguments.reps, {
            "Parvane": parvane.command(mirror),
            "cp -a": ["cp", "-a", src, dst],
            "rsync": ["rsync", "-a", "--delete", src + "/", dst + "/"],
        }, lambda name: remove(dst), parvane.env)
        row("initial mirror", initial["Parvane"], "cp -a", initial["cp -a"], 1.2)
        row("initial mirror", initial["Parvane"], "rsync", initial["rsync"], 0.5)
        remove(dst)
        run(parvane.command(mirror), env=parvane.env)
        if not same_tree(src, dst):
            failed.append("Parvane's mirror differs from its source")

        # 2. A re-run with nothing to do.
        print("Re-run with nothing to do ...", flush=True)
        noop, noop_memory = measure(arguments.reps, {
            "Parvane": parvane.command(mirror),
            "rsync": ["rsync", "-a", "--delete", src + "/", dst + "/"],
            "floor": ["sh", "-c", f"find '{src}' '{dst}' -printf '%T@\\n' >/dev/null"],
        }, lambda name: None, parvane.env)
        row("re-run, nothing to do", noop["Parvane"], "rsync", noop["rsync"], 0.6)
        row("re-run, nothing to do", noop["Parvane"], "floor", noop["floor"], 1.5)

        # 3. A re-run after touching 1% of the files and deleting 1%.
        print("Re-run after 1% changes ...", flush=True)
        changed = os.path.join(root, "changed")
        base = os.path.join(root, "base")
        subprocess.run(["cp", "-a", src, changed], check=True)
        subprocess.run(["cp", "-a", dst, base], check=True)
        rng = random.Random(arguments.seed + 1)
        files = sorted(all_files(changed))
        picked = rng.sample(files, max(2, len(files) // 50))
        half = len(picked) // 2
        later = time.time()
        for path in picked[:half]:
            with open(path, "ab") as out:
                out.write(b"changed")
            os.utime(path, (later, later))
        for path in picked[half:]:
            os.unlink(path)
        changed_set = parvane.set_file("changed.dat", [(changed, dst)])

        def restore(name):
            remove(dst)
            subprocess.run(["cp", "-a", base, dst], check=True)

        delta, delta_memory = measure(arguments.reps, {
            "Parvane": parvane.command(changed_set),
            "rsync": ["rsync", "-a", "--delete", changed + "/", dst + "/"],
        }, restore, parvane.env)
        row("re-run, 1% changed", delta["Parvane"], "rsync", delta["rsync"], 0.6)
        restore("Parvane")
        run(parvane.command(changed_set), env=parvane.env)
        if not same_tree(changed, dst):
            failed.append("Parvane's 1% re-run left the trees different")
        for path in (changed, base, dst):
            remove(path)

        # 4. One big file.
        print(f"One file of {arguments.big_mib} MiB ...", flush=True)
        big_src = os.path.join(root, "bigsrc")
        big_dst = os.path.join(root, "bigdst")
        os.makedirs(big_src)
        with open(os.path.join(big_src, "big.bin"), "wb") as out:
            block = random.Random(arguments.seed).randbytes(1 << 20)
            for _ in range(arguments.big_mib):
                out.write(block)
        big_set = parvane.set_file("big.dat", [(big_src, big_dst)])

        def empty_big(name):
            remove(big_dst)
            os.makedirs(big_dst)

        big, big_memory = measure(arguments.reps, {
            "Parvane": parvane.command(big_set),
            "cp": ["cp", os.path.join(big_src, "big.bin"), os.path.join(big_dst, "big.bin")],
        }, empty_big, parvane.env)
        row("one big file", big["Parvane"], "cp", big["cp"], 1.1)
        for path in (big_src, big_dst):
            remove(path)

        # 5. Memory: the idle program plus 100 bytes per listed file.
        idle_set = parvane.set_file("idle.dat", [])
        idle_memory = max(run(parvane.command(idle_set), env=parvane.env)[1] for _ in range(3))
        allowed = idle_memory + 100 * arguments.files
        peak = max(initial_memory["Parvane"], noop_memory["Parvane"], delta_memory["Parvane"])

        # 6. Growth: time per file at a larger tree.
        growth = None
        if arguments.growth_files:
            print(f"Growth: {arguments.growth_files} files ...", flush=True)
            remove(src)
            large = os.path.join(root, "large")
            large_dst = os.path.join(root, "large-dst")
            generate_tree(large, arguments.growth_files,
                          arguments.folders * arguments.growth_files // arguments.files,
                          arguments.max_size, arguments.seed)
            large_set = parvane.set_file("large.dat", [(large, large_dst)])
            times = []
            cp_times = []
            for _ in range(max(1, arguments.reps // 2)):
                remove(large_dst)
                times.append(run(parvane.command(large_set), env=parvane.env)[0])
                remove(large_dst)
                cp_times.append(run(["cp", "-a", large, large_dst])[0])
            remove(large_dst)
            per_file_large = statistics.median(times) / arguments.growth_files
            per_file_small = initial["Parvane"] / arguments.files
            growth = per_file_large / per_file_small
            # The same figure for cp -a tells how much of the growth is the file system's own.
            cp_growth = (statistics.median(cp_times) / arguments.growth_files) / (initial["cp -a"] / arguments.files)
            if growth > 1.3:
                failed.append("growth")
    finally:
        if not arguments.keep:
            shutil.rmtree(root, ignore_errors=True)

    print()
    print(f"{'measurement':<24} {'Parvane':>10} {'peer':>8} {'peer time':>10} {'ratio':>7} {'target':>7}")
    for label, ours, peer_name, theirs, ratio, limit, ok in rows:
        mark = "" if ok else "  MISSED"
        print(f"{label:<24} {ours:>9.3f}s {peer_name:>8} {theirs:>9.3f}s {ratio:>7.2f} "
              f"{'<= ' + str(limit):>7}{mark}")
    mib = 1 << 20
    memory_ok = peak <= allowed
    if not memory_ok:
        failed.append("peak memory")
    print(f"{'peak memory':<24} {peak / mib:>8.1f}MiB   allowed {allowed / mib:.1f} MiB "
          f"(idle {idle_memory / mib:.1f} MiB + 100 B x {arguments.files}){'' if memory_ok else '  MISSED'}")
    for name, value in initial_memory.items():
        print(f"  peak memory, initial mirror, {name:<8} {value / mib:>8.1f} MiB")
    if growth is not None:
        print(f"{'growth':<24} {growth:>8.2f}x time per file at {arguments.growth_files} files against "
              f"{arguments.files} (target <= 1.3){'' if growth <= 1.3 else '  MISSED'}")
        print(f"  growth of cp -a on the same trees, for reference: {cp_growth:.2f}x")
    if failed:
        print("\nMissed: " + ", ".join(failed))
        return 1
    print("\nEvery target met.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
