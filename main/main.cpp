#include "CommandLine.h"
#include "FileSystem.h"
#include "Fonts.h"
#include "TfrmMain.h"
#include "Volumes.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // An unattended run started where there is no display (a scheduled job, a console login)
    // still runs: it shows no window that needs one.
    bool unattended = argc == 3 && (std::string(argv[2]) == "/A" || std::string(argv[2]) == "/a");
    if (unattended && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")
        && !std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName("Ostrel");
    ostrel::InstallFontSubstitution();
    QApplication::setFont(ostrel::PGothicFont(12));
    // The program speaks Japanese whatever the user's locale, Qt's own buttons and file dialog too
    // (Debian's qt6-translations-l10n; without it they stay English).
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }

    // Arguments are taken as the bytes the system passed, so any file name works.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
    ostrel::StartupArguments startup = ostrel::ParseCommandLine(arguments, programFolder);

    ostrel::TfrmMain window(startup, programFolder, ostrel::CreateFileSystem(), ostrel::CreateVolumes());
    window.show();
    QApplication::exec();
    window.FormDestroy();
    // The outcome of a run is told by the copy log, never by the exit code.
    return 0;
}
