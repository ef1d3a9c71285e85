#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace ostrel {
class Volumes;
}

namespace brennick {

// The set-up window: where the main program is, the items in the DATA folder (create, load back,
// swap, delete), the desktop shortcut and whether the launcher shows the log after a run. It
// reads its settings when it opens and writes them whenever it closes.
class frmSet : public QDialog
{
    Q_OBJECT

public:
    frmSet(const std::string& companionFolder, ostrel::Volumes& volumes, QWidget* owner);

    // The volume name of the drive that holds a path; empty when it has none or can't be read.
    std::string kGetVolume(const std::string& path) const;

    // The main program's path as the window holds it: the bytes read from the settings file or
    // chosen in the dialog while the text box still shows them, otherwise the text typed.
    std::string MainProgramPath() const;

signals:
    // Sent whenever the window closes, with the main program's path, for the launcher's label.
    void mainProgramPathChanged(const QByteArray& path);

public:
    void done(int result) override;

private:
    void FormLoad();
    void FormUnload();
    void Command1Click();
    void Command2Click();
    void Command3Click();
    void Command4Click();
    void Command6Click();
    void Command7Click();
    void Command8Click();
    void Check1Click();
    void ListView1DblClick();
    void ChooseFolder(QLabel* label, std::string& folder, const QString& prompt);
    void SetFolder(QLabel* label, std::string& folder, const std::string& path);

    std::string m_companionFolder;
    std::string m_iniPath;
    ostrel::Volumes& m_volumes;
    bool m_loading = false;
    bool m_unloaded = false;
    // The bytes behind the texts shown: the main program's path, the item name loaded by a
    // double click, and the two folders (which the user can't edit, only choose).
    std::string m_programPath;
    std::string m_loadedName;
    std::string m_source;
    std::string m_target;

    QGroupBox* Frame1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command6 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Command7 = nullptr;
    QLabel* Label3 = nullptr;
};

} // namespace brennick
