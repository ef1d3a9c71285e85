#include "ui/CopyAnimation.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel {

namespace {

const QColor kFolderBack(214, 170, 40);
const QColor kFolderFront(250, 208, 80);
const QColor kFolderEdge(120, 88, 10);

// The back of an open folder, tab included; box is the folder's whole outline.
void PaintFolderBack(QPainter& painter, const QRectF& box)
{
    const qreal tabWidth = box.width() * 0.4;
    const qreal tabHeight = box.height() * 0.15;
    QPainterPath back;
    back.moveTo(box.left(), box.top() + tabHeight);
    back.lineTo(box.left() + tabWidth * 0.15, box.top());
    back.lineTo(box.left() + tabWidth, box.top());
    back.lineTo(box.left() + tabWidth * 1.15, box.top() + tabHeight);
    back.lineTo(box.right(), box.top() + tabHeight);
    back.lineTo(box.right(), box.bottom());
    back.lineTo(box.left(), box.bottom());
    back.closeSubpath();
    painter.setPen(QPen(kFolderEdge, 1));
    painter.setBrush(kFolderBack);
    painter.drawPath(back);
}

// The front flap of an open folder, leaning forward over the lower part of the back.
void PaintFolderFront(QPainter& painter, const QRectF& box)
{
    const qreal top = box.top() + box.height() * 0.42;
    const qreal lean = box.width() * 0.12;
    QPolygonF front;
    front << QPointF(box.left() + lean, top) << QPointF(box.right() + lean * 0.6, top)
          << QPointF(box.right(), box.bottom()) << QPointF(box.left(), box.bottom());
    painter.setPen(QPen(kFolderEdge, 1));
    painter.setBrush(kFolderFront);
    painter.drawPolygon(front);
}

// A sheet of paper with a folded corner and a few lines of text, centred on centre.
void PaintDocument(QPainter& painter, const QPointF& centre, qreal height, qreal angle)
{
    const qreal width = height * 0.75;
    const qreal fold = width * 0.3;
    painter.save();
    painter.translate(centre);
    painter.rotate(angle);
    QPainterPath sheet;
    sheet.moveTo(-width / 2, -height / 2);
    sheet.lineTo(width / 2 - fold, -height / 2);
    sheet.lineTo(width / 2, -height / 2 + fold);
    sheet.lineTo(width / 2, height / 2);
    sheet.lineTo(-width / 2, height / 2);
    sheet.closeSubpath();
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(Qt::white);
    painter.drawPath(sheet);
    QPolygonF corner;
    corner << QPointF(width / 2 - fold, -height / 2) << QPointF(width / 2 - fold, -height / 2 + fold)
           << QPointF(width / 2, -height / 2 + fold);
    painter.setBrush(QColor(210, 210, 210));
    painter.drawPolygon(corner);
    painter.setPen(QPen(QColor(40, 70, 160), std::max<qreal>(1.0, height / 16)));
    for (int line = 0; line < 4; ++line) {
        const qreal y = -height / 2 + fold + height * 0.14 * (line + 1);
        const qreal right = line == 3 ? 0.0 : width / 2 - width * 0.18;
        painter.drawLine(QPointF(-width / 2 + width * 0.18, y), QPointF(right, y));
    }
    painter.restore();
}

} // namespace

CopyAnimation::CopyAnimation(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("aniCopy"));
    setAttribute(Qt::WA_TranslucentBackground);
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { SetFrame((m_frame + 1) % kFrameCount); });
}

void CopyAnimation::SetFrame(int frame)
{
    m_frame = std::clamp(frame, 0, kFrameCount - 1);
    update();
}

QSize CopyAnimation::sizeHint() const
{
    return {272, 50};
}

void CopyAnimation::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void CopyAnimation::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void CopyAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintFrame(painter, rect(), m_frame);
}

void CopyAnimation::PaintFrame(QPainter& painter, const QRectF& area, int frame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal folderHeight = area.height() * 0.62;
    const qreal folderWidth = folderHeight * 1.3;
    const qreal folderTop = area.bottom() - folderHeight - 2;
    const QRectF from(area.left() + 6, folderTop, folderWidth, folderHeight);
    const QRectF to(area.right() - 6 - folderWidth * 1.1, folderTop, folderWidth, folderHeight);

    // The document rises out of the left folder, flies in an arc and sinks into the right one,
    // tumbling a little on the way; the last frame shows it inside, so the loop starts afresh.
    const qreal t = static_cast<qreal>(frame) / (kFrameCount - 1);
    const QPointF start(from.center().x(), from.top() + folderHeight * 0.45);
    const QPointF end(to.center().x(), to.top() + folderHeight * 0.45);
    const qreal documentHeight = folderHeight * 0.75;
    // As high as the area allows, with room for the tilted sheet at the top of the arc.
    const qreal arc = std::max<qreal>(0, start.y() - area.top() - documentHeight * 0.65);
    const QPointF position(start.x() + (end.x() - start.x()) * t,
                           start.y() + (end.y() - start.y()) * t - std::sin(std::numbers::pi * t) * arc);
    const qreal angle = std::sin(2 * std::numbers::pi * t) * 25;

    PaintFolderBack(painter, from);
    PaintFolderBack(painter, to);
    PaintDocument(painter, position, documentHeight, angle);
    PaintFolderFront(painter, from);
    PaintFolderFront(painter, to);
    painter.restore();
}

void CopyAnimation::PaintIcon(QPainter& painter, const QRectF& area)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF folder(area.left() + area.width() * 0.05, area.top() + area.height() * 0.3,
                        area.width() * 0.8, area.height() * 0.65);
    PaintFolderBack(painter, folder);
    PaintDocument(painter,
                  QPointF(folder.center().x() + area.width() * 0.05, area.top() + area.height() * 0.4),
                  area.height() * 0.55, 12);
    PaintFolderFront(painter, folder);
    painter.restore();
}

} // namespace ostrel
