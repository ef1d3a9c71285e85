#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ostrel {

// The about box: product name, version and the maker's notice in a banner, the help text
// below it, and one OK button. It has no close box; OK, Enter and Esc close it.
class TfdlgAboutBox : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kDesignWidth = 572;
    static constexpr int kDesignHeight = 505;

    // Fills the banner and beeps, as the box opens. programFolder is the folder of the program,
    // the working folder of the browser the logo starts.
    explicit TfdlgAboutBox(QWidget* parent = nullptr, const QString& programFolder = QString());

    // The help text, the program's user guide.
    static QString HelpText();

    // Whatever closes the box, it closes with result OK.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void MyLogoClick();

    QLabel* m_programIcon = nullptr;
    QLabel* m_productName = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_notice = nullptr;
    QLabel* m_comments = nullptr;
    QLabel* m_logo = nullptr;
    QPlainTextEdit* m_readme = nullptr;
    QPushButton* m_ok = nullptr;
    QString m_programFolder;
    bool m_placed = false;
};

} // namespace ostrel
