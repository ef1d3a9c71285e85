#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace ostrel {

// The window shown while a run is in progress: it names the copy set in hand and offers the abort
// button. One instance lives, hidden between runs, from start-up to the end of the program.
class TfrmProgress : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kClientWidth = 367;
    static constexpr int kClientHeight = 136;

    // Created hidden, with both path labels empty.
    explicit TfrmProgress(QWidget* parent = nullptr);

    // Shows the source and target folder of the copy set in hand, as given (the caller shortens
    // them to the labels' width), and repaints them at once.
    void SetLabels(const QString& source, const QString& target);

    // Width in pixels of a text in the path labels' font.
    int LabelTextWidth(const QString& text) const;

signals:
    // The user asked to abort the run, with cmdAbort or Escape. The window has hidden itself.
    void abortRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void cmdAbortClick();

    QLabel* m_lblCopySource = nullptr;
    QLabel* m_lblCopyTarget = nullptr;
    QPushButton* m_cmdAbort = nullptr;
};

} // namespace ostrel
