#include "PathLabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace ostrel {

PathLabel::PathLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::SetPath(const QString& path)
{
    setText(path);
    setToolTip(path);
}

QString PathLabel::ShownText() const
{
    // One pixel to spare: the elided text is measured with fractional widths, the label in whole ones.
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width() - 1);
}

QSize PathLabel::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()};
}

QSize PathLabel::sizeHint() const
{
    return {fontMetrics().averageCharWidth() * 40, QLabel::sizeHint().height()};
}

void PathLabel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event); // the frame only; the text is ours
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), option.palette,
                          isEnabled(), ShownText(), foregroundRole());
}

} // namespace ostrel
