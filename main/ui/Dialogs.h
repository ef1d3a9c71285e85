#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QDialog;
class QWidget;

namespace ostrel {

// What the open-file dialog is asked to show: its title, name filters (each "text (patterns)";
// only the text is shown), the extension added to a name typed without one, and where it starts.
struct OpenFileRequest
{
    QString title;
    QStringList filters;
    QString defaultSuffix;
    QString directory;
    QString fileName;
};

// Every modal dialog and file dialog of Parvane is run through here. Tests switch on scripted
// mode: a modal dialog is then shown without a modal loop and handed to the next scripted
// handler, which works it like a user and returns its result; a file dialog takes the next
// scripted answer. A dialog nobody expected is recorded and answered as if cancelled.
class Dialogs
{
public:
    // Runs the dialog modally and returns its result code.
    static int Exec(QDialog& dialog);

    // Asks for the path of a file to open. The folder must exist, the file need not. Empty when
    // the user cancels.
    static std::optional<QString> AskOpenFile(QWidget* parent, const OpenFileRequest& request);

    // Asks for the path of a file to save to; an existing file is replaced only when the user
    // agrees. Empty when the user cancels.
    static std::optional<QString> AskSaveFile(QWidget* parent, const OpenFileRequest& request);

    // Scripted mode, for tests.
    using Handler = std::function<int(QDialog& dialog)>;
    static void SetScripted(bool scripted);
    static void PushDialog(Handler handler);
    static void PushOpenFile(std::optional<QString> answer);
    static void PushSaveFile(std::optional<QString> answer);
    static const QStringList& Shown(); // window titles of the dialogs asked for, in order
    static const std::vector<OpenFileRequest>& OpenRequests();
    static const std::vector<OpenFileRequest>& SaveRequests();
    static int UnexpectedCount(); // dialogs that found their queue empty
    static int PendingCount(); // answers scripted and not taken
    static void Reset();
};

} // namespace ostrel
