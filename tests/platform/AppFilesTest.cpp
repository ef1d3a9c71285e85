#include "platform/AppFiles.h"
#include "TestTree.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel::test {
namespace {

// Sets environment variables for the length of a test and puts the old values back.
class ScopedEnvironment
{
public:
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    void Set(const std::string& name, const char* value)
    {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) {
            ::setenv(name.c_str(), value, 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

struct Places
{
    std::string log;
    std::string copySet;
    std::string settings;
    std::string items;
    bool operator==(const Places&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Places& places)
{
    return out << "{" << places.log << ", " << places.copySet << ", " << places.settings << ", "
               << places.items << "}";
}

Places PlacesOf(const AppFiles& files)
{
    return {files.CopyLogPath(), files.DefaultCopySetPath(), files.LauncherSettingsPath(),
            files.ItemsFolder()};
}

TEST(AppFilesTest, EachFileLiesWhereItsLayoutSays)
{
    const struct
    {
        const char* name;
        std::string folder;
        AppFiles::Layout layout;
        const char* state; // XDG_STATE_HOME, XDG_DATA_HOME, XDG_CONFIG_HOME (nullptr: unset)
        const char* data;
        const char* config;
        Places expected;
    } cases[] = {
        {"portable",
         "/media/alice/USB1",
         AppFiles::Layout::Portable,
         "/x/state",
         "/x/data",
         "/x/config",
         {"/media/alice/USB1/velmor.log", "/media/alice/USB1/velmor.dat", "/media/alice/USB1/iniBK.ini",
          "/media/alice/USB1/DATA/"}},
        {"portable, trailing slashes",
         "/opt/my tools//",
         AppFiles::Layout::Portable,
         nullptr,
         nullptr,
         nullptr,
         {"/opt/my tools/velmor.log", "/opt/my tools/velmor.dat", "/opt/my tools/iniBK.ini",
          "/opt/my tools/DATA/"}},
        {"portable, the root of a drive",
         "/",
         AppFiles::Layout::Portable,
         nullptr,
         nullptr,
         nullptr,
         {"/velmor.log", "/velmor.dat", "/iniBK.ini", "/DATA/"}},
        {"installed, the variables",
         "/usr/bin",
         AppFiles::Layout::Installed,
         "/x/state/",
         "/x/data",
         "/x/config",
         {"/x/state/ostrel/velmor.log", "/x/data/ostrel/velmor.dat", "/x/config/ostrel/iniBK.ini",
          "/x/data/ostrel/DATA/"}},
        {"installed, the defaults",
         "/usr/bin",
         AppFiles::Layout::Installed,
         nullptr,
         nullptr,
         nullptr,
         {"/home/alice/.local/state/ostrel/velmor.log", "/home/alice/.local/share/ostrel/velmor.dat",
          "/home/alice/.config/ostrel/iniBK.ini", "/home/alice/.local/share/ostrel/DATA/"}},
        {"installed, relative and empty values are ignored",
         "/usr/bin",
         AppFiles::Layout::Installed,
         "relative/state",
         "",
         "~/config",
         {"/home/alice/.local/state/ostrel/velmor.log", "/home/alice/.local/share/ostrel/velmor.dat",
          "/home/alice/.config/ostrel/iniBK.ini", "/home/alice/.local/share/ostrel/DATA/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment environment;
        environment.Set("HOME", "/home/alice");
        environment.Set("XDG_STATE_HOME", c.state);
        environment.Set("XDG_DATA_HOME", c.data);
        environment.Set("XDG_CONFIG_HOME", c.config);
        EXPECT_EQ(PlacesOf(AppFiles(c.folder, c.layout)), c.expected);
    }
}

// The layout follows from the folder itself: what the user may write, and the folder the package
// installs into, which stays clean even for root.
TEST(AppFilesTest, AWritableFolderIsPortableAndAnyOtherInstalled)
{
    TempFolder temp;
    MakeTree(temp.Path(), {{"stick/", ""}, {"readonly/", ""}});
    EXPECT_TRUE(AppFiles::ForProgramFolder(temp / "stick").IsPortable());
    EXPECT_FALSE(AppFiles::ForProgramFolder(temp / "missing").IsPortable());
    EXPECT_FALSE(AppFiles::ForProgramFolder("").IsPortable());
    EXPECT_FALSE(AppFiles::ForProgramFolder(OSTREL_TEST_INSTALL_BINDIR).IsPortable());

    // Root may write a folder without write bits, but not one on a read-only mount.
    std::optional<TmpfsMount> mount;
    if (IsRoot()) {
        mount.emplace(temp / "readonly", "1m");
        ASSERT_TRUE(mount->Mounted()) << mount->Error();
        ASSERT_EQ(::mount(nullptr, (temp / "readonly").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
        ASSERT_EQ(::chmod((temp / "readonly").c_str(), 0555), 0);
    }
    EXPECT_FALSE(AppFiles::ForProgramFolder(temp / "readonly").IsPortable());

    // A link to the program counts for the folder the program lies in.
    MakeTree(temp.Path(), {{"stick/Parvane", "program"}});
    ASSERT_EQ(::symlink((temp / "stick/Parvane").c_str(), (temp / "link-elsewhere").c_str()), 0);
    EXPECT_EQ(AppFiles::ForExecutable(temp / "link-elsewhere").CopyLogPath(), temp / "stick/velmor.log");
    if (!IsRoot()) {
        ::chmod((temp / "readonly").c_str(), 0755);
    }
}

// The user's folders are made with mode 0700 before the first file goes in; a folder that is not
// one of them is never made.
TEST(AppFilesTest, OnlyTheUsersOwnFoldersAreMade)
{
    TempFolder temp;
    ScopedEnvironment environment;
    environment.Set("HOME", (temp / "home").c_str());
    environment.Set("XDG_STATE_HOME", nullptr);
    environment.Set("XDG_DATA_HOME", (temp / "data").c_str());
    environment.Set("XDG_CONFIG_HOME", (temp / "config").c_str());
    MakeTree(temp / "home", {});
    const AppFiles files("/usr/bin", AppFiles::Layout::Installed);
    for (const std::string& file : {files.CopyLogPath(), files.DefaultCopySetPath(),
                                    files.LauncherSettingsPath(), files.ItemsFolder() + "A.dat"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(AppFiles::MakeFolderFor(file), 0);
        struct stat info
        {
        };
        ASSERT_EQ(::stat(file.substr(0, file.rfind('/')).c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0700u);
    }
    struct stat local
    {
    };
    ASSERT_EQ(::stat((temp / "home/.local").c_str(), &local), 0);
    EXPECT_EQ(local.st_mode & 07777, 0700u);

    EXPECT_EQ(AppFiles::MakeFolderFor(temp / "elsewhere/ostrel/velmor.log"), 0);
    EXPECT_EQ(AppFiles::MakeFolderFor(temp / "data/ostrel/other/velmor.dat"), 0);
    EXPECT_EQ(ReadTree(temp / "elsewhere"), Tree());
    EXPECT_EQ(ReadTree(temp / "data/ostrel").count("other/"), 0u);

    // A file where the folder should be is an error, not a folder.
    WriteFile(temp / "config2/ostrel", "a file");
    environment.Set("XDG_CONFIG_HOME", (temp / "config2").c_str());
    EXPECT_EQ(AppFiles::MakeFolderFor(temp / "config2/ostrel/iniBK.ini"), ENOTDIR);
}

} // namespace
} // namespace ostrel::test
