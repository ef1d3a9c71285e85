#include "companion/ui/modSFolder.h"

#include "companion/ui/DialogScript.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

namespace brennick {

namespace {

QString Result(const QString& chosen, quint32 flags)
{
    if (chosen.isEmpty() || (flags & kBifBrowseForComputer) == 0) {
        return chosen;
    }
    QString name = QFileInfo(chosen).fileName();
    return name.isEmpty() ? chosen : name;
}

} // namespace

QString SelectFolder(const QString& prompt, QWidget* owner, const QString& root, quint32 flags,
                     const QString& initialFolder)
{
    if (DialogScript::Scripted()) {
        return Result(DialogScript::Answer({DialogScript::Kind::Folder, prompt, initialFolder, root}), flags);
    }

    QFileDialog dialog(owner, prompt);
    // Qt's own dialog on every desktop, so it can be placed and behaves alike everywhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(!initialFolder.isEmpty() ? initialFolder : !root.isEmpty() ? root : QDir::homePath());

    // Centred on the screen, whoever owns it.
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        dialog.resize(dialog.sizeHint());
        const QRect area = screen->geometry();
        dialog.move(area.x() + area.width() / 2 - dialog.width() / 2,
                    area.y() + area.height() / 2 - dialog.height() / 2);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return Result(dialog.selectedFiles().constFirst(), flags);
}

} // namespace brennick
