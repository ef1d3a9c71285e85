#include "ui/TfrmProgress.h"

#include "ui/Fonts.h"

#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace ostrel {

namespace {

// A red stop disc with a white cross. QIcon derives the greyed state from it.
QIcon AbortGlyph()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(128, 0, 0), 1));
    painter.setBrush(QColor(214, 40, 40));
    painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    painter.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    painter.end();
    return QIcon(pixmap);
}

QLabel* AddLabel(QWidget* parent, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    label->move(left, top);
    return label;
}

QLabel* AddPathLabel(QWidget* parent, const char* name, int left, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    // Folder names may hold '<' or '&'; they are never markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setGeometry(left, top, 257, 15);
    label->setFixedSize(257, 15);
    return label;
}

} // namespace

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("TfrmProgress"));
    setFont(PGothicFont(12));
    setFixedSize(kClientWidth, kClientHeight);

    // A flat panel: a plain line round the edge, so that the frameless window stands apart from
    // what lies under it, then the bevel's width of space.
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("pnlProgress"));
    panel->setFrameStyle(QFrame::Box | QFrame::Plain);
    panel->setLineWidth(1);
    panel->setContentsMargins(3, 3, 3, 3);
    panel->setGeometry(0, 0, kClientWidth, kClientHeight);

    QLabel* heading = AddLabel(panel, tr("ただいま次のコピーセットを実行中です．．．．．"), 32, 24);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->adjustSize();

    AddLabel(panel, tr("コピー元"), 40, 48);
    AddLabel(panel, tr("コピー先"), 40, 64);
    m_lblCopySource = AddPathLabel(panel, "lblCopySource", 96, 48);
    m_lblCopyTarget = AddPathLabel(panel, "lblCopyTarget", 96, 64);

    m_cmdAbort = new QPushButton(AbortGlyph(), tr("中止"), panel);
    m_cmdAbort->setObjectName(QStringLiteral("cmdAbort"));
    m_cmdAbort->setGeometry(146, 100, 75, 25);
    connect(m_cmdAbort, &QPushButton::clicked, this, &TfrmProgress::cmdAbortClick);
}

void TfrmProgress::SetLabels(const QString& source, const QString& target)
{
    m_lblCopySource->setText(source);
    m_lblCopyTarget->setText(target);
    // The run keeps the event loop busy; the new names must be on screen before it goes on.
    m_lblCopySource->repaint();
    m_lblCopyTarget->repaint();
}

int TfrmProgress::LabelTextWidth(const QString& text) const
{
    return m_lblCopySource->fontMetrics().horizontalAdvance(text);
}

void TfrmProgress::keyPressEvent(QKeyEvent* event)
{
    // cmdAbort is the window's cancel button: Escape presses it wherever the focus is.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        cmdAbortClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmProgress::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (target) {
        QRect frame(QPoint(), size());
        frame.moveCenter(target->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TfrmProgress::cmdAbortClick()
{
    emit abortRequested();
    hide();
}

} // namespace ostrel
