#pragma once

class QWidget;

namespace brennick {

// The companion measures its windows in twips, 1440 to the inch, converted with the screen's
// logical dots per inch: 15 twips to a pixel at 96.
inline constexpr int kTwipsPerInch = 1440;

int TwipsToPixelsX(const QWidget* widget, int twips);
int TwipsToPixelsY(const QWidget* widget, int twips);
int PixelsToTwipsX(const QWidget* widget, int pixels);
int PixelsToTwipsY(const QWidget* widget, int pixels);

// Places a control at left, top with a width and height, all in twips, in its parent's coordinates.
void PlaceTwips(QWidget* widget, int left, int top, int width, int height);

} // namespace brennick
