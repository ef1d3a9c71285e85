#include "ui/Dialogs.h"

#include "ui/MessageBoxes.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>

#include <deque>

namespace ostrel {

namespace {

struct Script
{
    bool scripted = false;
    std::deque<Dialogs::Handler> dialogs;
    // A file dialog's answer: the path, or nothing for Cancel.
    struct OpenAnswer
    {
        bool chosen = false;
        QString path;
    };
    std::deque<OpenAnswer> openFiles;
    std::deque<OpenAnswer> saveFiles;
    QStringList shown;
    std::vector<OpenFileRequest> openRequests;
    std::vector<OpenFileRequest> saveRequests;
    int unexpected = 0;
};

Script& TheScript()
{
    static Script script;
    return script;
}

// The file dialog of the Open command. A name in a folder that does not exist is refused here,
// while the dialog is still open, so the user can correct it; a file that does not exist is fine.
class OpenFileDialog : public QFileDialog
{
public:
    OpenFileDialog(QWidget* parent, const OpenFileRequest& request)
        : QFileDialog(parent, request.title, request.directory)
    {
        setObjectName(QStringLiteral("dlgOpenCopySet"));
        // Qt's own dialog, so that the filters read as given on every desktop.
        setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::AnyFile);
        setNameFilters(request.filters);
        setDefaultSuffix(request.defaultSuffix);
        selectFile(request.fileName);
        setSizeGripEnabled(true);
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            QFileInfo chosen(files.first());
            if (!chosen.isDir() && !QFileInfo(chosen.absolutePath()).isDir()) {
                MessageBoxes::Show(
                    this,
                    {"フォルダ '" + chosen.absolutePath().toStdString() + "' が見つかりません！",
                     MessageIcon::Exclamation, MessageButtons::Ok});
                return;
            }
        }
        QFileDialog::accept();
    }
};

} // namespace

int Dialogs::Exec(QDialog& dialog)
{
    Script& script = TheScript();
    if (!script.scripted) {
        return dialog.exec();
    }
    script.shown << dialog.windowTitle();
    if (script.dialogs.empty()) {
        ++script.unexpected;
        return QDialog::Rejected;
    }
    Handler handler = std::move(script.dialogs.front());
    script.dialogs.pop_front();
    // Shown, but without a modal loop: the handler clicks and types as a user would.
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    int result = handler(dialog);
    if (dialog.isVisible()) {
        dialog.hide();
    }
    return result;
}

namespace {

std::optional<QString> ScriptedFile(std::deque<Script::OpenAnswer>& answers,
                                    std::vector<OpenFileRequest>& requests, const OpenFileRequest& request)
{
    Script& script = TheScript();
    script.shown << request.title;
    requests.push_back(request);
    if (answers.empty()) {
        ++script.unexpected;
        return std::nullopt;
    }
    Script::OpenAnswer answer = answers.front();
    answers.pop_front();
    if (!answer.chosen) {
        return std::nullopt;
    }
    return answer.path;
}

} // namespace

std::optional<QString> Dialogs::AskOpenFile(QWidget* parent, const OpenFileRequest& request)
{
    Script& script = TheScript();
    if (script.scripted) {
        return ScriptedFile(script.openFiles, script.openRequests, request);
    }
    OpenFileDialog dialog(parent, request);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

std::optional<QString> Dialogs::AskSaveFile(QWidget* parent, const OpenFileRequest& request)
{
    Script& script = TheScript();
    if (script.scripted) {
        return ScriptedFile(script.saveFiles, script.saveRequests, request);
    }
    QFileDialog dialog(parent, request.title, request.directory);
    dialog.setObjectName(QStringLiteral("dlgSaveCopySet"));
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

void Dialogs::SetScripted(bool scripted)
{
    TheScript().scripted = scripted;
}

void Dialogs::PushDialog(Handler handler)
{
    TheScript().dialogs.push_back(std::move(handler));
}

void Dialogs::PushOpenFile(std::optional<QString> answer)
{
    TheScript().openFiles.push_back({answer.has_value(), answer.value_or(QString())});
}

void Dialogs::PushSaveFile(std::optional<QString> answer)
{
    TheScript().saveFiles.push_back({answer.has_value(), answer.value_or(QString())});
}

const QStringList& Dialogs::Shown()
{
    return TheScript().shown;
}

const std::vector<OpenFileRequest>& Dialogs::OpenRequests()
{
    return TheScript().openRequests;
}

const std::vector<OpenFileRequest>& Dialogs::SaveRequests()
{
    return TheScript().saveRequests;
}

int Dialogs::UnexpectedCount()
{
    return TheScript().unexpected;
}

void Dialogs::Reset()
{
    Script& script = TheScript();
    script.dialogs.clear();
    script.openFiles.clear();
    script.saveFiles.clear();
    script.shown.clear();
    script.openRequests.clear();
    script.saveRequests.clear();
    script.unexpected = 0;
}

} // namespace ostrel
