#include "companion/ui/BrennickFont.h"

#include <QString>

namespace brennick {

void InstallFontSubstitution()
{
    QFont::insertSubstitution(QString::fromUtf8(kWindowFontFamily), QStringLiteral("IPAPGothic"));
}

QFont WindowFont()
{
    InstallFontSubstitution();
    QFont font(QString::fromUtf8(kWindowFontFamily));
    font.setPointSize(9);
    return font;
}

} // namespace brennick
