#include "platform/AppFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

std::string WithoutTrailingSlashes(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

// The folder part of a path: the text before its last "/", "/" for a name in the root, empty
// when the path holds no "/".
std::string FolderPart(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return WithoutTrailingSlashes(home);
    }
    // A job started without HOME (some cron set-ups, systemd services) still finds the user's home.
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/') {
        return WithoutTrailingSlashes(entry->pw_dir);
    }
    return {};
}

// A base folder after the XDG rules: the variable when it holds an absolute path (a relative one
// is invalid and ignored), otherwise the default below the home folder.
std::string BaseFolder(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') {
        return WithoutTrailingSlashes(value);
    }
    return HomeFolder() + fallback;
}

// The folder the package puts the executables in counts as installed even where the user may
// write it, as root may write /usr/bin.
bool IsInstallFolder(const std::string& folder)
{
#ifdef OSTREL_INSTALL_BINDIR
    return Resolved(WithoutTrailingSlashes(folder)) == Resolved(OSTREL_INSTALL_BINDIR);
#else
    (void)folder;
    return false;
#endif
}

bool IsPortableFolder(const std::string& folder)
{
    // Writing a file in a folder takes both write and search permission; AT_EACCESS asks for the
    // effective user, who is the one that writes.
    return !folder.empty() && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0
        && !IsInstallFolder(folder);
}

int MakeFolders(const std::string& folder)
{
    int above = 0; // why a folder above could not be made; existing ones fail harmlessly
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        if (::mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST && above == 0) {
            above = errno;
        }
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return errno == ENOENT && above != 0 ? above : errno;
    }
    struct stat info
    {
    };
    if (::stat(folder.c_str(), &info) != 0) {
        return errno;
    }
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

} // namespace

AppFiles AppFiles::ForProgramFolder(const std::string& programFolder)
{
    return AppFiles(programFolder, IsPortableFolder(programFolder) ? Layout::Portable : Layout::Installed);
}

AppFiles AppFiles::ForExecutable(const std::string& exePath)
{
    return ForProgramFolder(FolderPart(Resolved(exePath)));
}

std::string AppFiles::RunningProgramFolder()
{
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return ".";
    }
    std::string folder = FolderPart(std::string(buffer, static_cast<std::size_t>(length)));
    return folder.empty() ? std::string(".") : folder;
}

AppFiles::AppFiles(std::string programFolder, Layout layout)
    : m_programFolder(WithoutTrailingSlashes(std::move(programFolder)))
    , m_layout(layout)
{
    if (layout == Layout::Installed) {
        m_state = Join(StateHome(), kUserFolderName);
        m_data = Join(DataHome(), kUserFolderName);
        m_config = Join(ConfigHome(), kUserFolderName);
    }
}

std::string AppFiles::CopyLogFolder() const
{
    return IsPortable() ? m_programFolder : m_state;
}

std::string AppFiles::CopySetFolder() const
{
    return IsPortable() ? m_programFolder : m_data;
}

std::string AppFiles::LauncherSettingsFolder() const
{
    return IsPortable() ? m_programFolder : m_config;
}

std::string AppFiles::ItemsParentFolder() const
{
    return IsPortable() ? m_programFolder : m_data;
}

std::string AppFiles::CopyLogPath() const
{
    return Join(CopyLogFolder(), kCopyLogName);
}

std::string AppFiles::DefaultCopySetPath() const
{
    return Join(CopySetFolder(), kCopySetName);
}

std::string AppFiles::LauncherSettingsPath() const
{
    return Join(LauncherSettingsFolder(), kLauncherSettingsName);
}

std::string AppFiles::ItemsFolder() const
{
    return Join(ItemsParentFolder(), kItemsName) + "/";
}

std::string AppFiles::StateHome()
{
    return BaseFolder("XDG_STATE_HOME", "/.local/state");
}

std::string AppFiles::DataHome()
{
    return BaseFolder("XDG_DATA_HOME", "/.local/share");
}

std::string AppFiles::ConfigHome()
{
    return BaseFolder("XDG_CONFIG_HOME", "/.config");
}

std::string AppFiles::Join(const std::string& folder, const std::string& name)
{
    std::string joined = folder;
    while (!joined.empty() && joined.back() == '/') {
        joined.pop_back();
    }
    return joined + "/" + name;
}

int AppFiles::MakeFolderFor(const std::string& file)
{
    const std::string folder = WithoutTrailingSlashes(FolderPart(file));
    const std::string data = Join(DataHome(), kUserFolderName);
    for (const std::string& own : {Join(StateHome(), kUserFolderName), data,
                                   Join(ConfigHome(), kUserFolderName), Join(data, kItemsName)}) {
        if (!folder.empty() && folder == own) {
            return MakeFolders(folder);
        }
    }
    return 0;
}

} // namespace ostrel
