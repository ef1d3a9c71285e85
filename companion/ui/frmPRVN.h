#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;

namespace ostrel {
class Volumes;
}

namespace brennick {

// The launcher window: ten item buttons that run Parvane unattended on their item, the buttons
// that open the set-up window and the log viewer, and registration mode, which binds the items of
// the DATA folder to the buttons. Its position and bindings live in the settings file.
class frmPRVN : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kItemButtons = 10;
    static constexpr int kNormalHeight = 3450; // outer height in twips
    static constexpr int kRegistrationHeight = 4900;
    // The title bar and borders that the heights above take in: a 19-pixel title bar and
    // 2-pixel borders at 96 dots per inch.
    static constexpr int kNominalFrameHeight = 345;

    // A launcher for the companion in companionFolder: settings and DATA are looked for there.
    frmPRVN(const std::string& companionFolder, ostrel::Volumes& volumes);

    // Reads the position, the main program's path and the bindings, opens the set-up window first
    // while no main program is known, and shows the window.
    void Start();

    int RegMode() const { return m_regMode; }
    // The name of the item bound to button n, as the bytes of its file name; empty when unbound.
    std::string ItemCaption(int index) const;
    // The main program's path as the window holds it.
    const std::string& ProgramPath() const { return m_programPath; }
    // True while a run is waited for.
    bool Waiting() const { return m_waiting; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void RefreshItems();
    void SetItemCaption(int index, const std::string& caption);
    void SetProgramPath(const std::string& path);
    void OpenSetup();
    void SetOuterHeight(int twips);
    void Command1Click();
    void Command2Click(int index);
    void Command4Click();
    void Command5Click();
    void Command6Click();
    void FormUnload();

    std::string m_companionFolder;
    std::string m_iniPath;
    ostrel::Volumes& m_volumes;
    int m_regMode = 0;
    bool m_waiting = false;
    bool m_shown = false;
    // The position as read, so that a window that was not moved writes back exactly what it read.
    int m_leftTwips = 0;
    int m_topTwips = 0;
    QPoint m_startPosition;
    std::string m_programPath; // shown in Label2
    std::array<std::string, kItemButtons> m_captions;

    std::array<QPushButton*, kItemButtons> Command2{};
    QPushButton* Command1 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command6 = nullptr;
    QLabel* Label2 = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* Command5 = nullptr;
    QLabel* Label1 = nullptr;
};

} // namespace brennick
