#include "companion/ui/BrennickIcon.h"

namespace brennick {

QIcon BrennickIcon()
{
    QIcon icon;
    for (int size : {48, 256}) {
        icon.addFile(QStringLiteral(":/icons/%1/io.github.ostrel.Brennick.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace brennick
