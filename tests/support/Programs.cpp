#include "Programs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel::test {

// Runs a program to its end in a working folder with extra environment variables and a text on
// its standard input.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& folder,
                   const Environment& environment, const std::string& input)
{
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
        return {};
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::dup2(fromChild[1], 2);
        for (const auto& [name, value] : environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        if (::chdir(folder.c_str()) == 0) {
            ::execvp(argv[0], argv.data());
        }
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    // The inputs are a few bytes, far below what a pipe holds.
    ssize_t ignored = ::write(toChild[1], input.data(), input.size());
    (void)ignored;
    ::close(toChild[1]);
    Outcome outcome;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fromChild[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        outcome.output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fromChild[0]);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        outcome.status = WEXITSTATUS(status);
    }
    return outcome;
}

bool MakeImage(const std::string& image, const std::string& kind, int megabytes, std::string& output)
{
    int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(megabytes) << 20) != 0) {
        output = "can't make " + image;
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    ::close(fd);
    std::vector<std::string> arguments = {"mkfs." + kind};
    if (kind != "exfat") {
        arguments.push_back("-q");
        arguments.push_back(kind == "xfs" ? "-f" : "-F");
    }
    arguments.push_back(image);
    Outcome made = RunProgram(arguments, "/", {});
    output = made.output;
    return made.status == 0;
}

} // namespace ostrel::test
