#pragma once

#include <QWidget>

class QToolButton;

namespace ostrel {

// A spin control without a text of its own: two arrow buttons that step a value between a
// minimum and a maximum, without wrapping around. The window binds it to a read-only text box.
class UpDown : public QWidget
{
    Q_OBJECT

public:
    explicit UpDown(QWidget* parent = nullptr);

    int Position() const { return m_position; }
    // Sets the position without counting as a change by the user.
    void SetPosition(int position);
    void SetRange(int minimum, int maximum);

signals:
    // The user moved the position (arrows or keys).
    void positionChanged(int position);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    static constexpr int kFocusMargin = 2;

    void Step(int delta);

    QToolButton* m_up;
    QToolButton* m_down;
    int m_position = 0;
    int m_minimum = 0;
    int m_maximum = 100;
};

} // namespace ostrel
