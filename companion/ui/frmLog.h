#pragma once

#include <QDialog>

#include <string>

class QListWidget;

namespace brennick {

// The log viewer: the copy log velmor.log beside the main program, one entry per field. Opened
// modally over the launcher; selecting any entry closes it. It only reads the log.
class frmLog : public QDialog
{
    Q_OBJECT

public:
    // Reads the settings file in companionFolder to find the main program, and the log beside it.
    frmLog(const std::string& companionFolder, QWidget* owner);

    // Sets the list's horizontal extent to its widest entry followed by one blank.
    static void vScro(QListWidget* list);

private:
    void FormLoad();
    void List1Click();

    std::string m_iniPath;
    QListWidget* List1 = nullptr;
};

} // namespace brennick
