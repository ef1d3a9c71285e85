#include "companion/ui/Twips.h"

#include <QWidget>

#include <cmath>

namespace brennick {

namespace {

int Scale(double value, double numerator, double denominator)
{
    return static_cast<int>(std::lround(value * numerator / denominator));
}

} // namespace

int TwipsToPixelsX(const QWidget* widget, int twips)
{
    return Scale(twips, widget->logicalDpiX(), kTwipsPerInch);
}

int TwipsToPixelsY(const QWidget* widget, int twips)
{
    return Scale(twips, widget->logicalDpiY(), kTwipsPerInch);
}

int PixelsToTwipsX(const QWidget* widget, int pixels)
{
    return Scale(pixels, kTwipsPerInch, widget->logicalDpiX());
}

int PixelsToTwipsY(const QWidget* widget, int pixels)
{
    return Scale(pixels, kTwipsPerInch, widget->logicalDpiY());
}

void PlaceTwips(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(TwipsToPixelsX(widget, left), TwipsToPixelsY(widget, top),
                        TwipsToPixelsX(widget, width), TwipsToPixelsY(widget, height));
}

} // namespace brennick
