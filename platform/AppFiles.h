#pragma once

#include <string>

namespace ostrel {

// Where Parvane and Brennick keep their files. The one rule for both programs:
// - portable: the user can write the folder of the executable (a stick that carries Parvane,
//   Brennick and DATA/): velmor.log, velmor.dat, iniBK.ini and DATA/ lie beside the executables;
// - installed: that folder is not writable, or it is the folder the package installs into (so that
//   not even root litters it): the copy log goes to $XDG_STATE_HOME/ostrel, the default copy-set
//   file and DATA/ to $XDG_DATA_HOME/ostrel, iniBK.ini to $XDG_CONFIG_HOME/ostrel. Only absolute
//   values of these variables count; otherwise ~/.local/state, ~/.local/share and ~/.config.
// The user's folders are made (mode 0700) when a file is first written into them.
class AppFiles
{
public:
    static constexpr const char* kCopyLogName = "velmor.log";
    static constexpr const char* kCopySetName = "velmor.dat";
    static constexpr const char* kLauncherSettingsName = "iniBK.ini";
    static constexpr const char* kItemsName = "DATA";
    // The name of the program's own folder inside each of the user's base folders.
    static constexpr const char* kUserFolderName = "ostrel";

    enum class Layout {
        Portable,
        Installed,
    };

    // The layout of the executable in programFolder, decided now for the effective user.
    static AppFiles ForProgramFolder(const std::string& programFolder);

    // The layout of the executable at exePath, decided for the folder of the file that the path
    // resolves to, so a link to the program finds the files the program itself uses. A path that
    // does not resolve is taken as it stands.
    static AppFiles ForExecutable(const std::string& exePath);

    // The folder of the running executable (through /proc/self/exe); "." when it is unknown.
    static std::string RunningProgramFolder();

    // The files of an executable in programFolder laid out as given; the user's folders are read
    // from the environment now.
    AppFiles(std::string programFolder, Layout layout);

    Layout GetLayout() const { return m_layout; }
    bool IsPortable() const { return m_layout == Layout::Portable; }
    const std::string& ProgramFolder() const { return m_programFolder; }

    // The folders, without a trailing "/" (but "/" itself).
    std::string CopyLogFolder() const;
    std::string CopySetFolder() const;
    std::string LauncherSettingsFolder() const;
    std::string ItemsParentFolder() const;

    // The files themselves, joined with a single "/"; the items folder ends with "/".
    std::string CopyLogPath() const;
    std::string DefaultCopySetPath() const;
    std::string LauncherSettingsPath() const;
    std::string ItemsFolder() const;

    // The user's base folders after the XDG rules, without a trailing "/".
    static std::string StateHome();
    static std::string DataHome();
    static std::string ConfigHome();

    // The name joined to folder with exactly one "/", whatever the folder ends with.
    static std::string Join(const std::string& folder, const std::string& name);

    // Before file is written: when its folder is one of the user's folders of the installed layout,
    // makes that folder and the missing folders above it, each with mode 0700. Any other folder is
    // left alone: it is the executable's own or one the user chose. Returns 0 or the errno value.
    static int MakeFolderFor(const std::string& file);

private:
    std::string m_programFolder;
    Layout m_layout;
    std::string m_state;
    std::string m_data;
    std::string m_config;
};

} // namespace ostrel
