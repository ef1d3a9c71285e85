#include "TestTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel::test {

namespace {

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }
}

void MakeFolders(const std::string& path)
{
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                Check(false, "mkdir " + part);
            }
        }
    }
}

std::string FormatLocal(time_t seconds)
{
    struct tm local
    {
    };
    ::localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void ReadInto(const std::string& folder, const std::string& prefix, bool withTimes, Tree& tree)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = folder + "/" + name;
        struct stat info
        {
        };
        Check(::lstat(path.c_str(), &info) == 0, "lstat " + path);
        if (S_ISDIR(info.st_mode)) {
            tree[prefix + name + "/"] = "";
            ReadInto(path, prefix + name + "/", withTimes, tree);
        } else if (S_ISLNK(info.st_mode)) {
            char target[4096];
            ssize_t length = ::readlink(path.c_str(), target, sizeof target);
            tree[prefix + name + "@"] =
                std::string(target, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
        } else if (S_ISREG(info.st_mode)) {
            tree[prefix + name] =
                withTimes ? Entry(ReadFile(path), FormatLocal(info.st_mtim.tv_sec)) : Entry(ReadFile(path));
        } else {
            tree[prefix + name] = ""; // a FIFO or device: opening it could block
        }
    }
    ::closedir(dir);
}

} // namespace

TempFolder::TempFolder(const std::string& parent)
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "ostrel";
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    std::string pattern = parent + "/" + name + ".XXXXXX";
    Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    RemoveTree(m_path);
}

void WriteFile(const std::string& path, const std::string& content)
{
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        MakeFolders(path.substr(0, slash));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    Check(static_cast<bool>(out), "write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void MakeTree(const std::string& folder, const Tree& tree)
{
    MakeFolders(folder);
    for (const auto& [relative, content] : tree) {
        std::string path = folder + "/" + relative;
        if (!relative.empty() && relative.back() == '/') {
            MakeFolders(path.substr(0, path.size() - 1));
        } else if (!relative.empty() && relative.back() == '@') {
            path.pop_back();
            MakeFolders(path.substr(0, path.rfind('/')));
            Check(::symlink(content.c_str(), path.c_str()) == 0, "symlink " + path);
        } else {
            WriteFile(path, content);
        }
    }
    // Times last: filling a folder would change the time just given to it.
    for (const auto& [relative, content] : tree) {
        if (!content.time.empty()) {
            std::string path = folder + "/" + relative;
            if (path.back() == '/' || path.back() == '@') {
                path.pop_back();
            }
            SetTime(path, content.time);
        }
    }
}

Tree ReadTree(const std::string& folder)
{
    Tree tree;
    ReadInto(folder, "", false, tree);
    return tree;
}

Tree ReadTimedTree(const std::string& folder)
{
    Tree tree;
    ReadInto(folder, "", true, tree);
    return tree;
}

std::string LocalTime(const std::string& path)
{
    struct stat info
    {
    };
    Check(::lstat(path.c_str(), &info) == 0, "lstat " + path);
    return FormatLocal(info.st_mtim.tv_sec);
}

long long LocalSeconds(const std::string& localTime)
{
    struct tm local
    {
    };
    std::istringstream in(localTime);
    char dash1, dash2, colon1, colon2;
    in >> local.tm_year >> dash1 >> local.tm_mon >> dash2 >> local.tm_mday >> local.tm_hour >> colon1
        >> local.tm_min >> colon2 >> local.tm_sec;
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    return static_cast<long long>(::mktime(&local));
}

void SetTime(const std::string& path, const std::string& localTime)
{
    struct timespec times[2]{};
    times[0].tv_sec = static_cast<time_t>(LocalSeconds(localTime));
    times[1].tv_sec = times[0].tv_sec;
    Check(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0, "utimensat " + path);
}

void RemoveTree(const std::string& path)
{
    struct stat info
    {
    };
    if (::lstat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        ::chmod(path.c_str(), 0700);
        if (DIR* dir = ::opendir(path.c_str())) {
            while (struct dirent* entry = ::readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    RemoveTree(path + "/" + name);
                }
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

bool IsRoot()
{
    return ::geteuid() == 0;
}

std::string MemoryFolder()
{
    struct stat info
    {
    };
    const char* memory = "/dev/shm";
    if (::stat(memory, &info) == 0 && S_ISDIR(info.st_mode) && ::access(memory, W_OK | X_OK) == 0) {
        return memory;
    }
    return "/tmp";
}

std::string EndedProcessId()
{
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    Check(child > 0, "fork");
    ::waitpid(child, nullptr, 0);
    return std::to_string(child);
}

} // namespace ostrel::test
