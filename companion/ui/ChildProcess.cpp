#include "companion/ui/ChildProcess.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brennick {

namespace {

// A file descriptor closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd;
};

// Reads what the pipe holds now; true once the writing ends have all been closed.
bool DrainErrors(int fd, std::string& errors)
{
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            std::fwrite(buffer, 1, static_cast<std::size_t>(got), stderr);
            errors.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got == 0;
    }
}

} // namespace

ChildResult RunAndWait(const std::string& program, const std::vector<std::string>& arguments)
{
    ChildResult result;

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        result.startError = errno;
        return result;
    }
    Descriptor errorRead(pipeEnds[0]);
    Descriptor errorWrite(pipeEnds[1]);
    ::fcntl(errorRead.get(), F_SETFL, O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // dup2 clears close-on-exec on the copy only; both pipe ends themselves close at the exec.
    posix_spawn_file_actions_adddup2(&actions, errorWrite.get(), STDERR_FILENO);

    // The child starts with no signal blocked and every signal at its default action, whatever
    // this process has set up for itself (an ignored SIGPIPE, for one).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    sigfillset(&signalSet);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    // glibc's posix_spawn reports a failed exec (no such file, no right to run it) as its result.
    const bool searchPath = program.find('/') == std::string::npos;
    const int error = searchPath
        ? ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
        : ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    errorWrite.reset();
    if (error != 0) {
        result.startError = error;
        return result;
    }

    // The end of the child is seen through a process descriptor, which becomes readable when the
    // child has ended; on a kernel without them the child is looked at ten times a second.
    // Through syscall(): the C library's wrapper is not declared for C++ in every version.
    Descriptor processFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    QEventLoop loop;
    int status = 0;
    bool ended = false;
    auto reap = [&] {
        pid_t reaped;
        do {
            reaped = ::waitpid(pid, &status, WNOHANG);
        } while (reaped < 0 && errno == EINTR);
        if (reaped == pid || (reaped < 0 && errno == ECHILD)) {
            ended = true;
            loop.quit();
        }
    };
    QSocketNotifier errorNotifier(static_cast<qintptr>(errorRead.get()), QSocketNotifier::Read);
    QObject::connect(&errorNotifier, &QSocketNotifier::activated, &loop, [&] {
        if (DrainErrors(errorRead.get(), result.errors)) {
            errorNotifier.setEnabled(false);
        }
    });
    std::unique_ptr<QSocketNotifier> endNotifier;
    QTimer poll;
    if (processFd.get() >= 0) {
        endNotifier =
            std::make_unique<QSocketNotifier>(static_cast<qintptr>(processFd.get()), QSocketNotifier::Read);
        QObject::connect(endNotifier.get(), &QSocketNotifier::activated, &loop, reap);
    } else {
        QObject::connect(&poll, &QTimer::timeout, &loop, reap);
        poll.start(100);
    }
    reap();
    if (!ended) {
        loop.exec();
    }

    // What the child wrote last is read now; a grandchild that still holds the pipe is not waited for.
    DrainErrors(errorRead.get(), result.errors);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else {
        result.crashed = true;
    }
    return result;
}

} // namespace brennick
