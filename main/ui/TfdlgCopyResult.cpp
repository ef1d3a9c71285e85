#include "ui/TfdlgCopyResult.h"

#include "store/SettingsStore.h"
#include "ui/Fonts.h"
#include "ui/WindowFrame.h"

#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr const char* kGroup = "Startup";
constexpr const char* kHeightKey = "CopyRsltHeight";
constexpr const char* kWidthKey = "CopyRsltWidth";
constexpr int kButtonWidth = 79;
constexpr int kButtonHeight = 25;
constexpr int kButtonTop = 8;

// A green tick. QIcon derives the greyed state from it.
QIcon OkGlyph()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    painter.setPen(QPen(QColor(0, 100, 0), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tick);
    painter.setPen(QPen(QColor(40, 170, 60), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tick);
    painter.end();
    return QIcon(pixmap);
}

// The copy log as one plain text; empty when it cannot be read. Only a plain file is read: a FIFO
// put in the log's place would keep the window from opening for ever, a device would never end.
QString ReadLog(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    QByteArray bytes;
    int flags = 0;
    bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (flags = ::fcntl(fd, F_GETFL)) >= 0
        && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    while (read) {
        char buffer[65536];
        const ssize_t step = ::read(fd, buffer, sizeof buffer);
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            read = step == 0;
            break;
        }
        bytes.append(buffer, static_cast<qsizetype>(step));
    }
    ::close(fd);
    if (!read) {
        return {};
    }
    // The log's CR LF line ends need no change: the text box takes CR LF as one line break.
    return QString::fromUtf8(bytes);
}

} // namespace

TfdlgCopyResult::TfdlgCopyResult(const QString& logPath, SettingsStore& settings, QWidget* parent)
    : QDialog(parent)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("TfdlgCopyResult"));
    setWindowTitle(tr("実行結果"));
    setFont(PGothicFont(12));
    // Keeps cmdOK and a little of the log in view however small the window is dragged.
    setMinimumSize(kButtonWidth + 40, kStripHeight + 60);

    m_redtCopyResult = new QPlainTextEdit(this);
    m_redtCopyResult->setObjectName(QStringLiteral("redtCopyResult"));
    m_redtCopyResult->setReadOnly(true);
    m_redtCopyResult->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_redtCopyResult->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_redtCopyResult->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette face = m_redtCopyResult->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        face.setColor(group, QPalette::Base, face.color(group, QPalette::Button));
    }
    m_redtCopyResult->setPalette(face);
    m_redtCopyResult->setPlainText(ReadLog(logPath));

    m_strip = new QFrame(this);
    m_strip->setObjectName(QStringLiteral("pnlButtons"));
    m_strip->setFixedHeight(kStripHeight);
    m_strip->setFrameStyle(QFrame::Panel | QFrame::Raised);

    m_cmdOK = new QPushButton(OkGlyph(), tr("OK"), m_strip);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setFixedSize(kButtonWidth, kButtonHeight);
    m_cmdOK->setDefault(true);
    // Escape reaches QDialog::reject(), Enter the default button; both end in done().
    connect(m_cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_redtCopyResult, 1);
    layout->addWidget(m_strip);

    // The size kept is the outer one, frame included.
    m_outerSize = QSize(m_settings.ReadInt(kGroup, kWidthKey, kDefaultWidth),
                        m_settings.ReadInt(kGroup, kHeightKey, kDefaultHeight));
    WindowFrame::ResizeOuter(this, m_outerSize);
    PlaceOkButton();
}

void TfdlgCopyResult::done(int result)
{
    const QSize outer = WindowFrame::OuterSize(this);
    m_settings.WriteInt(kGroup, kHeightKey, outer.height());
    m_settings.WriteInt(kGroup, kWidthKey, outer.width());
    m_settings.Sync();
    QDialog::done(result);
}

void TfdlgCopyResult::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceOkButton();
}

void TfdlgCopyResult::setVisible(bool visible)
{
    if (visible && !m_placed) {
        // Placed before it first shows, when a move still places the frame.
        m_placed = true;
        move(WindowFrame::CentredOnScreen(m_outerSize));
    }
    QDialog::setVisible(visible);
}

void TfdlgCopyResult::PlaceOkButton()
{
    // Centred in the window's width, the division truncated toward zero.
    m_cmdOK->move((width() - kButtonWidth) / 2, kButtonTop);
}

} // namespace ostrel
