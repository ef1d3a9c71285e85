#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrel {

UpDown::UpDown(QWidget* parent)
    : QWidget(parent)
    , m_up(new QToolButton(this))
    , m_down(new QToolButton(this))
{
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {m_up, m_down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        button->setFixedWidth(17);
    }
    auto* layout = new QVBoxLayout(this);
    // Room round the arrows for the mark that shows the keyboard is here.
    layout->setContentsMargins(kFocusMargin, kFocusMargin, kFocusMargin, kFocusMargin);
    layout->setSpacing(0);
    layout->addWidget(m_up);
    layout->addWidget(m_down);
    setFocusPolicy(Qt::StrongFocus);
    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDown::SetPosition(int position)
{
    m_position = std::clamp(position, m_minimum, m_maximum);
}

void UpDown::SetRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    m_position = std::clamp(m_position, m_minimum, m_maximum);
}

void UpDown::Step(int delta)
{
    int next = std::clamp(m_position + delta, m_minimum, m_maximum);
    if (next != m_position) {
        m_position = next;
        emit positionChanged(m_position);
    }
}

void UpDown::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::Highlight), kFocusMargin));
        painter.setBrush(Qt::NoBrush);
        const qreal half = kFocusMargin / 2.0;
        painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
}

void UpDown::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void UpDown::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void UpDown::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        Step(1);
        break;
    case Qt::Key_Down:
        Step(-1);
        break;
    case Qt::Key_PageUp:
        Step(10);
        break;
    case Qt::Key_PageDown:
        Step(-10);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace ostrel
