#include "BrennickFont.h"
#include "Volumes.h"
#include "frmPRVN.h"

#include <QApplication>
#include <QFile>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brennick"));
    QApplication::setFont(brennick::WindowFont());

    // Settings and items live beside the executable, wherever it was started from.
    const std::string folder = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    std::unique_ptr<ostrel::Volumes> volumes = ostrel::CreateVolumes();
    brennick::frmPRVN window(folder, *volumes);
    window.Start();
    return QApplication::exec();
}
