#include "platform/AppFiles.h"
#include "platform/FileSystem.h"
#include "platform/TrBytes.h"
#include "platform/Volumes.h"
#include "store/CommandLine.h"
#include "ui/Fonts.h"
#include "ui/MessageBoxes.h"
#include "ui/ParvaneIcon.h"
#include "ui/TfrmMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Where QSettings keeps the settings of Kivora/Velmor.
std::string SettingsPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder = config && *config ? config : std::string(home ? home : "") + "/.config";
    return folder + "/Kivora/Velmor.conf";
}

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// A plain file, not a folder: what the program can load as a copy-set file.
bool FileExists(const std::string& path)
{
    struct stat info
    {
    };
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

QtMessageHandler g_qtHandler = nullptr;

// A scheduled run's standard error must stay empty after a good run: Qt's note that it picked a
// runtime folder of its own (no XDG_RUNTIME_DIR outside a login session) is left out.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) {
        return;
    }
    if (g_qtHandler) {
        g_qtHandler(type, context, message);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Arguments are taken as the bytes the system passed, so any file name works. Help, version
    // and bad options are answered before Qt starts: they need no display and create no file.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // Beside the executable when its folder is writable, in the user's own folders otherwise.
    const ostrel::AppFiles files =
        ostrel::AppFiles::ForProgramFolder(ostrel::AppFiles::RunningProgramFolder());
    const ostrel::StartupArguments startup = ostrel::ParseCommandLine(arguments, files.CopySetFolder());
    const std::string usage = ostrel::UsageText(files, SettingsPath());
    switch (startup.action) {
    case ostrel::StartupAction::Help:
        std::fputs(usage.c_str(), stdout);
        return ostrel::kExitDone;
    case ostrel::StartupAction::Version:
        std::fputs(ostrel::VersionText().c_str(), stdout);
        return ostrel::kExitDone;
    case ostrel::StartupAction::BadOption:
        std::fprintf(stderr, "Parvane: 不明なオプションです: %s\n\n%s", startup.badOption.c_str(),
                     usage.c_str());
        return ostrel::kExitNotStarted;
    case ostrel::StartupAction::Start:
        break;
    }

    // An unattended run started where there is no display (a scheduled job, a console login)
    // still runs, on the offscreen platform; a window without a display can't be used.
    const bool display = IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
    if (!display) {
        if (!startup.unattendedRequested) {
            std::fputs("Parvane: ディスプレイがないため、ウィンドウを開けません。"
                       "無人で実行するには: Parvane コピーセットファイル /A\n",
                       stderr);
            return ostrel::kExitNotStarted;
        }
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    g_qtHandler = qInstallMessageHandler(QuietHandler);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Ostrel");
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.ostrel.Parvane"));
    QApplication::setWindowIcon(ostrel::ParvaneIcon());
    const bool headless = QGuiApplication::platformName() == QLatin1String("offscreen");
    ostrel::MessageBoxes::SetHeadless(headless);
    ostrel::InstallFontSubstitution();
    QApplication::setFont(ostrel::PGothicFont(12));
    // The program speaks Japanese whatever the user's locale, Qt's own buttons and file dialog too
    // (Debian's qt6-translations-l10n; without it they stay English).
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }

    // An unattended run of a file that is not there is an error: nothing runs, and no empty file
    // is made under that name.
    if (startup.unattendedRequested && !FileExists(startup.copySetFile)) {
        // The standard-error line stays as it is whatever the language of the windows.
        ostrel::MessageBoxes::ToStandardError("'" + startup.copySetFile + "' が見つかりません！");
        if (!headless) {
            const std::string text = ostrel::TrBytes(
                QCoreApplication::translate("Parvane", "'%1' が見つかりません！"), {startup.copySetFile});
            ostrel::MessageBoxes::Show(nullptr,
                                       {text, ostrel::MessageIcon::Exclamation, ostrel::MessageButtons::Ok});
        }
        return ostrel::kExitNotStarted;
    }

    ostrel::TfrmMain window(startup, files.CopyLogFolder(), ostrel::CreateFileSystem(),
                            ostrel::CreateVolumes());
    window.show();
    QApplication::exec();
    window.FormDestroy();
    return window.ExitCode();
}
