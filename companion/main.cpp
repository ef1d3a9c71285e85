#include "companion/core/LogFields.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/BrennickFont.h"
#include "companion/ui/BrennickIcon.h"
#include "companion/ui/QtTranslation.h"
#include "companion/ui/frmPRVN.h"
#include "platform/AppFiles.h"
#include "platform/Volumes.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The usage of "--help", with where this companion keeps its files and where it finds the log.
std::string UsageText(const std::string& companionFolder)
{
    const ostrel::AppFiles files = ostrel::AppFiles::ForProgramFolder(companionFolder);
    const std::string program = brennick::GetIniStr(files.LauncherSettingsPath(), "Past", "text1", "");
    const std::string log = brennick::LogPathFor(program);
    return std::string(
               "使い方: Brennick\n"
               "  ボタンに登録したアイテムで Parvane を無人実行 (/A) し、終わったらログを表示します。\n"
               "  -h, --help     この説明を表示します\n"
               "  -v, --version  バージョンを表示します\n"
               "\n")
        + (files.IsPortable() ? "ファイルの場所 (Brennick のフォルダに書き込めるため、その中):\n"
                              : "ファイルの場所 (Brennick のフォルダに書き込めないため、利用者のフォルダ):\n")
        + "  設定:           " + files.LauncherSettingsPath() + "\n"
        + "  アイテム:       " + files.ItemsFolder() + "\n"
        + "  コピーログ:     " + (log.empty() ? std::string("(Parvane の場所が未設定です)") : log) + "\n";
}

} // namespace

int main(int argc, char** argv)
{
    // Settings and items belong to the executable's folder, wherever it was started from: beside it
    // when it is writable, in the user's own folders otherwise.
    const std::string folder = ostrel::AppFiles::RunningProgramFolder();

    // Answered before Qt starts, so they work without a display.
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(UsageText(folder).c_str(), stdout);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "-v") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs("Brennick (Ostrel) " OSTREL_VERSION "\n", stdout);
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brennick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.ostrel.Brennick"));
    QApplication::setWindowIcon(brennick::BrennickIcon());
    QApplication::setFont(brennick::WindowFont());
    brennick::InstallQtTranslation();

    std::unique_ptr<ostrel::Volumes> volumes = ostrel::CreateVolumes();
    brennick::frmPRVN window(folder, *volumes);
    window.Start();
    return QApplication::exec();
}
