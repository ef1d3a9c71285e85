#include "ui/PathLabel.h"

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
    // Eliding measures with fractional widths and the painted text takes whole pixels, so the
    // result is measured again and elided further until it fits.
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width();
    QString shown = metrics.elidedText(text(), Qt::ElideMiddle, room);
    for (int width = room - 1; width > 0 && metrics.horizontalAdvance(shown) > room; --width) {
        shown = metrics.elidedText(text(), Qt::ElideMiddle, width);
    }
    return shown;
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
