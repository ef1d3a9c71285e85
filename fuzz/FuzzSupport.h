#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

// Helpers shared by the fuzz targets: a check that stops the run with a message, strict UTF-8
// validation, a way to split an input into parts, a per-process scratch folder and a small
// deterministic random source derived from the input.
namespace ostrel::fuzz {

// Prints what broke and aborts, so libFuzzer records the input as a crash.
[[noreturn]] inline void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "\n*** invariant broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            ::ostrel::fuzz::Fail(#condition, __FILE__, __LINE__);                                            \
        }                                                                                                    \
    } while (false)

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (byte < 0x80) {
            ++i;
            continue;
        }
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            low = byte == 0xE0 ? 0xA0 : 0x80;
            high = byte == 0xED ? 0x9F : 0xBF;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            low = byte == 0xF0 ? 0x90 : 0x80;
            high = byte == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if (next < 0x80 || next > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// The input split at NUL bytes into at most count parts; the last part keeps any further NULs,
// and missing parts are empty. NUL can't be part of a path, a name or a settings value, so it
// separates the arguments of a target and keeps the seed files readable.
inline std::vector<std::string> SplitAtNul(std::string_view input, std::size_t count)
{
    std::vector<std::string> parts;
    while (parts.size() + 1 < count) {
        std::size_t nul = input.find('\0');
        if (nul == std::string_view::npos) {
            break;
        }
        parts.emplace_back(input.substr(0, nul));
        input.remove_prefix(nul + 1);
    }
    parts.emplace_back(input);
    parts.resize(count);
    return parts;
}

// A folder of this process for the files a target writes, removed when the process ends. It lies
// in /dev/shm where that can be written, so the fsync calls of the savers cost nothing.
class ScratchFolder
{
public:
    static const std::string& Path()
    {
        static ScratchFolder folder;
        return folder.m_path;
    }

private:
    ScratchFolder()
    {
        std::string base =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string pattern = base + "/ostrel-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    std::string m_path;
};

// A small random source (splitmix64) seeded from the input, so one input always runs the same way.
class InputRandom
{
public:
    explicit InputRandom(std::string_view input)
    {
        for (char c : input) {
            m_state = (m_state ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
        }
    }

    std::uint64_t Next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // A number in [0, bound]; bound itself included.
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % (bound + 1)); }

private:
    std::uint64_t m_state = 0xCBF29CE484222325ULL;
};

// The bytes of a file; empty when it can't be opened.
inline std::string FileBytes(const std::string& path)
{
    std::string bytes;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return bytes;
    }
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

// Writes a file with exactly these bytes.
inline void PutFileBytes(const std::string& path, std::string_view bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

} // namespace ostrel::fuzz
