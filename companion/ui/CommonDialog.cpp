#include "companion/ui/CommonDialog.h"

#include "companion/ui/DialogScript.h"

#include <QFileDialog>

namespace brennick {

QString ShowOpenFile(QWidget* parent, const QString& title, const QString& initialFolder,
                     const QString& filterLabel, const QString& fileName)
{
    const QString filter = filterLabel + QStringLiteral(" (") + fileName + QStringLiteral(")");
    if (DialogScript::Scripted()) {
        return DialogScript::Answer({DialogScript::Kind::OpenFile, title, initialFolder, filter});
    }
    QFileDialog dialog(parent, title, initialFolder, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace brennick
