#include "ui/WindowFrame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace ostrel {

namespace {

// The height of the strip along the top of a window that must lie on a screen for the user to
// reach the title bar, and how much of it must show.
constexpr int kTitleStrip = 24;
constexpr int kLeastShown = 32;
// How long after the first show a frame is waited for, and how often it is looked for.
constexpr int kFramePollMs = 50;
constexpr int kFramePolls = 40;

QMargins FrameOf(const QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// Applies a pending outer size once the window manager has put its frame around the window.
class PendingOuterSize : public QObject
{
public:
    static constexpr const char* kName = "pendingOuterSize";

    PendingOuterSize(QWidget* window, const QSize& outer)
        : QObject(window)
        , m_window(window)
        , m_outer(outer)
    {
        setObjectName(kName);
        window->installEventFilter(this);
        m_poll.setInterval(kFramePollMs);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            if (!TryApply() && ++m_polls >= kFramePolls) {
                deleteLater(); // no frame comes: the inner size given stays
            }
        });
        if (window->isVisible()) {
            m_poll.start();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window) {
            switch (event->type()) {
            case QEvent::Show:
                if (!TryApply()) {
                    m_poll.start();
                }
                break;
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowActivate:
                if (m_window->isVisible()) {
                    TryApply();
                }
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool TryApply()
    {
        if (m_done) {
            return true;
        }
        const QMargins frame = FrameOf(m_window);
        if (frame.isNull()) {
            return false;
        }
        m_done = true;
        m_poll.stop();
        m_window->resize(m_outer.shrunkBy(frame).expandedTo(m_window->minimumSize()));
        deleteLater();
        return true;
    }

    QWidget* m_window;
    QSize m_outer;
    QTimer m_poll;
    int m_polls = 0;
    bool m_done = false;
};

// The distance between a point and a rectangle; zero inside it.
long long Distance(const QPoint& point, const QRect& rect)
{
    const long long dx = point.x() < rect.left() ? rect.left() - point.x()
        : point.x() > rect.right()               ? point.x() - rect.right()
                                                 : 0;
    const long long dy = point.y() < rect.top() ? rect.top() - point.y()
        : point.y() > rect.bottom()             ? point.y() - rect.bottom()
                                                : 0;
    return dx * dx + dy * dy;
}

// The few calls of the X11 client library that set a window property. The library is the one the
// Qt platform plugin has loaded already; it is looked up at run time, so the program needs no X11
// headers to build and runs where there is no X11 at all.
struct XcbCalls
{
    struct Cookie
    {
        unsigned int sequence;
    };
    struct AtomReply
    {
        std::uint8_t responseType;
        std::uint8_t pad0;
        std::uint16_t sequence;
        std::uint32_t length;
        std::uint32_t atom;
    };
    using InternAtom = Cookie (*)(void* connection, std::uint8_t onlyIfExists, std::uint16_t length,
                                  const char* name);
    using InternAtomReply = AtomReply* (*)(void* connection, Cookie cookie, void** error);
    using ChangeProperty = Cookie (*)(void* connection, std::uint8_t mode, std::uint32_t window,
                                      std::uint32_t property, std::uint32_t type, std::uint8_t format,
                                      std::uint32_t length, const void* data);
    using Flush = int (*)(void* connection);

    InternAtom internAtom = nullptr;
    InternAtomReply internAtomReply = nullptr;
    ChangeProperty changeProperty = nullptr;
    Flush flush = nullptr;

    static const XcbCalls* Get()
    {
        static const XcbCalls calls = [] {
            XcbCalls found;
            void* library = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
            if (!library) {
                return found;
            }
            found.internAtom = reinterpret_cast<InternAtom>(::dlsym(library, "xcb_intern_atom"));
            found.internAtomReply =
                reinterpret_cast<InternAtomReply>(::dlsym(library, "xcb_intern_atom_reply"));
            found.changeProperty = reinterpret_cast<ChangeProperty>(::dlsym(library, "xcb_change_property"));
            found.flush = reinterpret_cast<Flush>(::dlsym(library, "xcb_flush"));
            return found;
        }();
        return calls.internAtom && calls.internAtomReply && calls.changeProperty && calls.flush ? &calls
                                                                                                : nullptr;
    }
};

} // namespace

void WindowFrame::WithoutCloseBox(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    const XcbCalls* xcb = x11 ? XcbCalls::Get() : nullptr;
    if (!xcb || !x11->connection()) {
        return;
    }
    void* connection = x11->connection();
    static constexpr char kName[] = "_MOTIF_WM_HINTS";
    XcbCalls::AtomReply* reply =
        xcb->internAtomReply(connection, xcb->internAtom(connection, 0, sizeof kName - 1, kName), nullptr);
    if (!reply) {
        return;
    }
    const std::uint32_t atom = reply->atom;
    std::free(reply);
    // Flags: functions and decorations given. Functions: resize and move, so no close. Decorations:
    // border, resize handles and title, so no window menu.
    const std::uint32_t hints[5] = {1u | 2u, 2u | 4u, 2u | 4u | 8u, 0u, 0u};
    xcb->changeProperty(connection, 0 /* replace */, static_cast<std::uint32_t>(window->winId()), atom, atom,
                        32, 5, hints);
    xcb->flush(connection);
}

void WindowFrame::ResizeOuter(QWidget* window, const QSize& outer)
{
    for (QObject* child :
         window->findChildren<QObject*>(PendingOuterSize::kName, Qt::FindDirectChildrenOnly)) {
        delete dynamic_cast<PendingOuterSize*>(child);
    }
    const QMargins frame = window->isVisible() ? FrameOf(window) : QMargins();
    if (!frame.isNull()) {
        window->resize(outer.shrunkBy(frame));
        return;
    }
    window->resize(outer);
    new PendingOuterSize(window, outer);
}

QSize WindowFrame::OuterSize(const QWidget* window)
{
    return window->frameGeometry().size();
}

QRect WindowFrame::OntoScreen(const QRect& outer)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty()) {
        return outer;
    }
    const QRect title(outer.left(), outer.top(), outer.width(), std::min(kTitleStrip, outer.height()));
    const QScreen* nearest = nullptr;
    long long nearestDistance = LLONG_MAX;
    for (const QScreen* screen : screens) {
        const QRect area = screen->availableGeometry();
        const QRect shown = title.intersected(area);
        if (shown.width() >= std::min(kLeastShown, outer.width()) && shown.height() >= title.height() / 2) {
            return outer;
        }
        const long long distance = Distance(outer.center(), area);
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = screen;
        }
    }
    const QRect area = nearest->availableGeometry();
    QRect placed = outer;
    placed.moveLeft(std::max(area.left(), std::min(outer.left(), area.right() + 1 - outer.width())));
    placed.moveTop(std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outer.height())));
    return placed;
}

QPoint WindowFrame::CentredOnScreen(const QSize& outer, const QWidget* near)
{
    const QScreen* screen = near && near->screen() ? near->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return {};
    }
    QRect frame(QPoint(), outer);
    frame.moveCenter(screen->availableGeometry().center());
    return frame.topLeft();
}

} // namespace ostrel
