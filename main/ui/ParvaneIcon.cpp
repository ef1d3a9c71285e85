#include "ui/ParvaneIcon.h"

namespace ostrel {

QIcon ParvaneIcon()
{
    QIcon icon;
    for (int size : {48, 256}) {
        icon.addFile(QStringLiteral(":/icons/%1/io.github.ostrel.Parvane.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace ostrel
