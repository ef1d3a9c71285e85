#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace ostrel {

// Sizes and places of top-level windows as the settings keep them: with the frame the window
// manager draws around them. The frame is known only once a window manager has framed the
// window, so a size given before is corrected then.
class WindowFrame
{
public:
    // Gives the window this outer size: at once when its frame is known, otherwise as the inner
    // size for now and once more, less the frame, as soon as the window manager has framed it.
    static void ResizeOuter(QWidget* window, const QSize& outer);

    // The window's outer size, frame included.
    static QSize OuterSize(const QWidget* window);

    // An outer rectangle that a user can reach: unchanged when its title strip lies on a screen,
    // otherwise moved onto the screen nearest to it (fitted to it as far as its size allows).
    static QRect OntoScreen(const QRect& outer);

    // The outer top-left that centres a window of this outer size on the screen (the primary
    // one, or the one under the given window).
    static QPoint CentredOnScreen(const QSize& outer, const QWidget* near = nullptr);

    // Asks the window manager for a frame with a title bar but neither a close box nor a window
    // menu. Qt's window flags alone leave every function to an X11 window manager when no button
    // is asked for, and it then adds the close box. Call it once the window exists, before it is
    // mapped (from showEvent). Elsewhere than on X11 the window flags suffice.
    static void WithoutCloseBox(QWidget* window);
};

} // namespace ostrel
