#include "ui/Dialogs.h"

#include "platform/ScriptedAnswers.h"
#include "platform/TrBytes.h"
#include "ui/MessageBoxes.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>

namespace ostrel {

namespace {

// One queue of scripted answers for each kind of dialog, so that an answer meant for one kind is
// never taken by another; the titles of all dialogs asked for are kept in order beside them. A
// file dialog's answer is the path chosen, or nothing for Cancel.
struct Script
{
    ScriptedAnswers<QString, Dialogs::Handler> dialogs;
    ScriptedAnswers<OpenFileRequest, std::optional<QString>> openFiles;
    ScriptedAnswers<OpenFileRequest, std::optional<QString>> saveFiles;
    QStringList shown;
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
                    {TrBytes(QCoreApplication::translate("Dialogs", "フォルダ '%1' が見つかりません！"),
                             {chosen.absolutePath().toStdString()}),
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
    if (!script.dialogs.IsScripted()) {
        return dialog.exec();
    }
    script.shown << dialog.windowTitle();
    std::optional<Handler> handler = script.dialogs.TakeAnswer(dialog.windowTitle());
    if (!handler) {
        return QDialog::Rejected;
    }
    // Shown, but without a modal loop: the handler clicks and types as a user would.
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    int result = (*handler)(dialog);
    if (dialog.isVisible()) {
        dialog.hide();
    }
    return result;
}

namespace {

std::optional<QString> ScriptedFile(ScriptedAnswers<OpenFileRequest, std::optional<QString>>& answers,
                                    const OpenFileRequest& request)
{
    TheScript().shown << request.title;
    // No answer left is a Cancel, as is a scripted Cancel.
    return answers.TakeAnswer(request).value_or(std::nullopt);
}

} // namespace

std::optional<QString> Dialogs::AskOpenFile(QWidget* parent, const OpenFileRequest& request)
{
    Script& script = TheScript();
    if (script.openFiles.IsScripted()) {
        return ScriptedFile(script.openFiles, request);
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
    if (script.saveFiles.IsScripted()) {
        return ScriptedFile(script.saveFiles, request);
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
    Script& script = TheScript();
    script.dialogs.SetScripted(scripted);
    script.openFiles.SetScripted(scripted);
    script.saveFiles.SetScripted(scripted);
}

void Dialogs::PushDialog(Handler handler)
{
    TheScript().dialogs.SetNextAnswer(std::move(handler));
}

void Dialogs::PushOpenFile(std::optional<QString> answer)
{
    TheScript().openFiles.SetNextAnswer(std::move(answer));
}

void Dialogs::PushSaveFile(std::optional<QString> answer)
{
    TheScript().saveFiles.SetNextAnswer(std::move(answer));
}

const QStringList& Dialogs::Shown()
{
    return TheScript().shown;
}

const std::vector<OpenFileRequest>& Dialogs::OpenRequests()
{
    return TheScript().openFiles.Asked();
}

const std::vector<OpenFileRequest>& Dialogs::SaveRequests()
{
    return TheScript().saveFiles.Asked();
}

int Dialogs::UnexpectedCount()
{
    const Script& script = TheScript();
    return script.dialogs.UnexpectedCount() + script.openFiles.UnexpectedCount()
        + script.saveFiles.UnexpectedCount();
}

int Dialogs::PendingCount()
{
    const Script& script = TheScript();
    return static_cast<int>(script.dialogs.PendingCount() + script.openFiles.PendingCount()
                            + script.saveFiles.PendingCount());
}

void Dialogs::Reset()
{
    Script& script = TheScript();
    script.dialogs.Reset();
    script.openFiles.Reset();
    script.saveFiles.Reset();
    script.shown.clear();
}

} // namespace ostrel
