#include "store/SettingsStore.h"
#include "TestTree.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace ostrel::test {
namespace {

using namespace std::string_literals;

bool Exists(const std::string& path)
{
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Every test gets its own settings folder. QSettings works out the user folder once per process,
// so the folder is handed to it as well as put into XDG_CONFIG_HOME; no test reaches the real one.
class SettingsStoreTest : public ::testing::Test
{
protected:
    SettingsStoreTest()
    {
        ::setenv("XDG_CONFIG_HOME", m_folder.Path().c_str(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_folder.Path()));
    }

    std::string ConfPath() const { return m_folder / "Kivora/Velmor.conf"; }

    TempFolder m_folder;
};

struct Default
{
    const char* group;
    const char* key;
    int value;
};

const std::vector<Default> kDefaults = {
    {"Startup", "Width", 0},
    {"Startup", "Left", 30},
    {"Startup", "Top", 30},
    {"Startup", "Height", 461},
    {"Startup", "ColWidth0", 220},
    {"Startup", "ColWidth3", 130},
    {"Startup", "CopyRsltHeight", 416},
    {"Setting", "chkDelete", 0},
    {"Setting", "AutoInterval", 0},
};

TEST_F(SettingsStoreTest, MissingFileGivesDefaultsAndReadingCreatesNothing)
{
    {
        SettingsStore store;
        for (const Default& d : kDefaults) {
            SCOPED_TRACE(d.key);
            EXPECT_EQ(store.ReadInt(d.group, d.key, d.value), d.value);
        }
    }
    EXPECT_FALSE(Exists(ConfPath()));
}

TEST_F(SettingsStoreTest, WritesDecimalStringsUnderGroups)
{
    {
        SettingsStore store;
        store.WriteInt("Setting", "chkDelete", -1);
        store.WriteInt("Setting", "AutoInterval", 15);
        store.WriteInt("Startup", "Width", 681);
        store.WriteInt("Startup", "Left", INT_MIN);
        store.Sync();
    }
    std::string text = ReadFile(ConfPath());
    for (const char* line : {"[Setting]\n", "\nchkDelete=-1\n", "\nAutoInterval=15\n", "[Startup]\n",
                             "\nWidth=681\n", "\nLeft=-2147483648\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
    }
    SettingsStore reopened;
    EXPECT_EQ(reopened.ReadInt("Setting", "chkDelete", 0), -1);
    EXPECT_EQ(reopened.ReadInt("Setting", "AutoInterval", 0), 15);
    EXPECT_EQ(reopened.ReadInt("Startup", "Width", 0), 681);
    EXPECT_EQ(reopened.ReadInt("Startup", "Left", 30), INT_MIN);
    // The same key in the other group is another value.
    EXPECT_EQ(reopened.ReadInt("Startup", "chkDelete", 7), 7);
}

TEST_F(SettingsStoreTest, OnlyWholeDecimalIntegersAreRead)
{
    struct Case
    {
        std::string stored; // the text after "Value=" in the file
        int expected; // 77 is the default
    };
    const std::vector<Case> cases = {
        {"-1", -1},
        {"0", 0},
        {"1", 1},
        {"15", 15},
        {"+5", 5},
        {"007", 7},
        {"\" 12 \"", 12},
        {"\"\\t-3 \"", -3},
        {"  42  ", 42},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"abc", 77},
        {"12abc", 77},
        {"1.5", 77},
        {"1 2", 77},
        {"", 77},
        {"\"\"", 77},
        {"-", 77},
        {"+", 77},
        {"--1", 77},
        {"0x10", 77},
        {"1e3", 77},
        {"2147483648", 77},
        {"-2147483649", 77},
        {"99999999999999999999", 77},
        {"1,2", 77},
        {"\"1,000\"", 77},
        {"\"1 000\"", 77},
        {"１２", 77},
        {"@ByteArray(12)", 12},
        {"@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)", 5},
        {"@Variant(\\0\\0\\0\\x4\\0\\0\\0\\x1\\0\\0\\0\\x5)", 77},
        {"@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)", 77},
        {"@Variant(\\0\\0\\0\\x6\\x40\\x2c\\0\\0\\0\\0\\0\\0)", 77},
        {"@Rect(1 2 3 4)", 77},
        {"@Invalid()", 77},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.stored);
        // A new file name each time: QSettings keeps what it read per file.
        std::string folder = m_folder / ("case" + std::to_string(i));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
        WriteFile(folder + "/Kivora/Velmor.conf", "[Startup]\nValue=" + c.stored + "\n");
        SettingsStore store;
        EXPECT_EQ(store.ReadInt("Startup", "Value", 77), c.expected);
    }
}

TEST_F(SettingsStoreTest, GarbageFileGivesDefaultsAndCanBeWrittenAgain)
{
    struct Case
    {
        const char* name;
        std::string content;
    };
    std::mt19937 random(461);
    std::string noise;
    for (int i = 0; i < 64 * 1024; ++i) {
        noise.push_back(static_cast<char>(random() & 0xff));
    }
    const std::vector<Case> cases = {
        {"random bytes", noise},
        {"broken ini",
         "[Startup\nWidth=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)\n\0\0\xff[Setting]]]\n=5\nchkDelete\n"s
         "Height=\"unterminated\n[]\n[Setting]\n\\\\\\=\n"s},
        {"NUL bytes only", std::string(4096, '\0')},
        {"no line end", std::string(100000, '[')},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        std::string folder = m_folder / ("case" + std::to_string(i));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
        WriteFile(folder + "/Kivora/Velmor.conf", c.content);
        {
            SettingsStore store;
            for (const Default& d : kDefaults) {
                EXPECT_EQ(store.ReadInt(d.group, d.key, d.value), d.value) << d.key;
            }
            store.WriteInt("Startup", "Width", 700);
            store.Sync();
        }
        SettingsStore reopened;
        EXPECT_EQ(reopened.ReadInt("Startup", "Width", 0), 700);
    }
}

TEST_F(SettingsStoreTest, UnreadableFileGivesDefaults)
{
    // A folder where the file should be can't be read, not even by root.
    ASSERT_EQ(::mkdir((m_folder / "Kivora").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(ConfPath().c_str(), 0755), 0);
    SettingsStore store;
    for (const Default& d : kDefaults) {
        EXPECT_EQ(store.ReadInt(d.group, d.key, d.value), d.value) << d.key;
    }
    store.WriteInt("Startup", "Width", 700);
    store.Sync();
    EXPECT_EQ(ReadTree(m_folder.Path()), (Tree{{"Kivora/", ""}, {"Kivora/Velmor.conf/", ""}}));
}

// A FIFO, or a link to a device, where a settings file should be can't hold settings: reading one
// would wait for a writer, or never end, and saving would replace the device. The store gives
// defaults and writes nothing there. The device is a node of the test's own, never a real one.
// Each case runs in a process of its own with an alarm, so that a store that blocks fails the test
// instead of hanging it.
TEST(SettingsStoreSpecialFileTest, AFifoOrADeviceGivesDefaultsAndStaysAsItIs)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct
    {
        const char* file;
        bool device; // a link to a device node; a FIFO otherwise
    } cases[] = {
        {"Kivora/Velmor.conf", false},
        {"Kivora.conf", false},
        {"Kivora/Velmor.conf", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.device ? " as a link to a device" : " as a FIFO"));
        if (c.device && !IsRoot()) {
            continue; // making a device node needs root
        }
        EXPECT_EXIT(
            {
                ::alarm(10);
                TempFolder folder;
                ::setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
                ::mkdir((folder / "Kivora").c_str(), 0755);
                const std::string path = folder / c.file;
                const std::string device = folder / "zero";
                bool made = c.device ? ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0
                        && ::symlink(device.c_str(), path.c_str()) == 0
                                     : ::mkfifo(path.c_str(), 0644) == 0;
                if (!made) {
                    std::_Exit(2);
                }
                bool defaults = false;
                {
                    SettingsStore store;
                    defaults = store.ReadInt("Startup", "Width", 681) == 681
                        && store.ReadInt("Setting", "chkDelete", 0) == 0;
                    store.WriteInt("Startup", "Width", 700);
                    store.Sync();
                }
                struct stat info = {};
                bool kept = c.device ? ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)
                        && ::lstat(device.c_str(), &info) == 0 && S_ISCHR(info.st_mode)
                                     : ::lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
                RemoveTree(folder.Path());
                std::_Exit(defaults && kept ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

// Without any help from the test, the store finds its file through XDG_CONFIG_HOME. QSettings
// settles its user folder at first use, so this runs in a fresh process of its own.
TEST(SettingsStoreLocationTest, FileLiesInXdgConfigHome)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TempFolder folder;
            ::setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
            {
                SettingsStore store;
                store.WriteInt("Startup", "Width", 681);
                store.Sync();
            }
            std::string text = ReadFile(folder / "Kivora/Velmor.conf");
            bool found = text.find("[Startup]\n") != std::string::npos
                && text.find("\nWidth=681\n") != std::string::npos;
            RemoveTree(folder.Path());
            std::_Exit(found ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace ostrel::test
