#pragma once

#include <QFont>

namespace brennick {

// The face of the companion's windows, "ＭＳ Ｐゴシック" at 9 points; IPA P Gothic stands in for it.
inline constexpr const char* kWindowFontFamily = "ＭＳ Ｐゴシック";

// Lets the face resolve to IPA P Gothic. Safe to call more than once.
void InstallFontSubstitution();

QFont WindowFont();

} // namespace brennick
