#pragma once

#include <QDialog>

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace ostrel {

class SettingsStore;

// The result window: the copy log of the last run, read-only, with one OK button. Each showing
// creates a fresh window, which reads the log and its size anew and stores the size on closing.
class TfdlgCopyResult : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kDefaultWidth = 606;
    static constexpr int kDefaultHeight = 416;
    static constexpr int kStripHeight = 36;

    // Loads the log at logPath (empty when it cannot be read) and takes its size from settings.
    TfdlgCopyResult(const QString& logPath, SettingsStore& settings, QWidget* parent = nullptr);

    // Closes the window, by cmdOK, Enter, Escape or the frame, and stores its size.
    void done(int result) override;

    // Centred on the screen when first shown.
    void setVisible(bool visible) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceOkButton();

    SettingsStore& m_settings;
    QPlainTextEdit* m_redtCopyResult = nullptr;
    QFrame* m_strip = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QSize m_outerSize;
    bool m_placed = false;
};

} // namespace ostrel
