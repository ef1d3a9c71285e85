#pragma once

#include <QLabel>

namespace ostrel {

// A label for a path: the whole path is its text and its tool tip, and what does not fit its
// width gives way in the middle, so the start of the path and the file name stay readable. It
// never asks for more width than a few characters, however long the path.
class PathLabel : public QLabel
{
    Q_OBJECT

public:
    explicit PathLabel(QWidget* parent = nullptr);

    // Shows a path; the tool tip is the whole path.
    void SetPath(const QString& path);

    // The text as it is painted in the label's present width.
    QString ShownText() const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ostrel
