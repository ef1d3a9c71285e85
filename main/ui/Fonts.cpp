#include "ui/Fonts.h"

#include <QString>

namespace ostrel {

void InstallFontSubstitution()
{
    // insertSubstitution() does not add a name twice, so repeated calls leave one entry.
    QFont::insertSubstitution(QString::fromUtf8(kPGothicFamily), QStringLiteral("IPAPGothic"));
}

QFont PGothicFont(int pixelSize)
{
    InstallFontSubstitution();
    QFont font(QString::fromUtf8(kPGothicFamily));
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace ostrel
