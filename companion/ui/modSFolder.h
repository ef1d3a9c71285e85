#pragma once

#include <QString>

class QWidget;

namespace brennick {

// Option bits of the folder picker.
inline constexpr quint32 kBifReturnOnlyFsDirs = 0x0001; // only folders of the file system (always so here)
inline constexpr quint32 kBifBrowseForComputer = 0x1000; // the result is the chosen entry's display name

// Shows the folder picker with prompt as its title, centred on the screen, starting in
// initialFolder when one is given (otherwise in root, otherwise in the home folder), and returns
// the chosen folder's path; with kBifBrowseForComputer, its display name. Empty when the user
// cancels. A missing owner makes the picker a window of its own.
QString SelectFolder(const QString& prompt, QWidget* owner, const QString& root, quint32 flags,
                     const QString& initialFolder);

} // namespace brennick
