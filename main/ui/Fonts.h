#pragma once

#include <QFont>

namespace ostrel {

// The face every window of Parvane asks for. Linux has no such font; IPA P Gothic stands in for it.
inline constexpr const char* kPGothicFamily = "ＭＳ Ｐゴシック";

// Lets "ＭＳ Ｐゴシック" resolve to IPA P Gothic. Safe to call more than once.
void InstallFontSubstitution();

// "ＭＳ Ｐゴシック" at a size in pixels, with the substitution in place.
QFont PGothicFont(int pixelSize = 12);

} // namespace ostrel
