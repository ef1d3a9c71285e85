#include "BrennickFont.h"
#include "QtTranslation.h"
#include "Volumes.h"
#include "frmPRVN.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before Qt starts, so they work without a display.
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs("使い方: Brennick\n"
                   "  ボタンに登録したアイテムで Parvane を無人実行 (/A) し、終わったらログを表示します。\n"
                   "  設定 iniBK.ini とアイテムのフォルダ DATA は Brennick と同じフォルダにあります。\n"
                   "  -h, --help     この説明を表示します\n"
                   "  -v, --version  バージョンを表示します\n",
                   stdout);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "-v") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs("Brennick (Ostrel) " OSTREL_VERSION "\n", stdout);
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brennick"));
    QApplication::setFont(brennick::WindowFont());
    brennick::InstallQtTranslation();

    // Settings and items live beside the executable, wherever it was started from.
    const std::string folder = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    std::unique_ptr<ostrel::Volumes> volumes = ostrel::CreateVolumes();
    brennick::frmPRVN window(folder, *volumes);
    window.Start();
    return QApplication::exec();
}
