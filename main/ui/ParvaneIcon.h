#pragma once

#include <QIcon>

namespace ostrel {

// Parvane's icon, the picture the desktop entry names, at the sizes built into the program.
QIcon ParvaneIcon();

} // namespace ostrel
