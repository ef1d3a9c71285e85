#include "companion/core/modSpecialFolder.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace brennick {

std::string GetDesktopPath()
{
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || !QFileInfo(desktop).isDir()) {
        return {};
    }
    return QFile::encodeName(desktop).toStdString();
}

} // namespace brennick
