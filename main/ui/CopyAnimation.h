#pragma once

#include <QTimer>
#include <QWidget>

namespace ostrel {

// The banner's copy animation: a document leaves the folder on the left, flies in an arc and
// drops into the folder on the right. 26 frames, looping for as long as the widget is shown.
class CopyAnimation : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kFrameCount = 26;
    static constexpr int kFrameMs = 90;

    explicit CopyAnimation(QWidget* parent = nullptr);

    int Frame() const { return m_frame; }
    // Shows a given frame; the next tick goes on from there.
    void SetFrame(int frame);

    QSize sizeHint() const override;

    // Paints one frame into a rectangle.
    static void PaintFrame(QPainter& painter, const QRectF& area, int frame);

    // Paints the program's icon, a folder with a document going in, into a rectangle.
    static void PaintIcon(QPainter& painter, const QRectF& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_frame = 0;
};

} // namespace ostrel
