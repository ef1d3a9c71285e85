#pragma once

#include <QString>

class QWidget;

namespace brennick {

// The open-file dialog of the set-up window: title, starting folder, and a filter that shows only
// files of one name under a label. Returns the chosen file's full path, or empty when the user
// cancels. Only existing files can be chosen.
QString ShowOpenFile(QWidget* parent, const QString& title, const QString& initialFolder,
                     const QString& filterLabel, const QString& fileName);

} // namespace brennick
