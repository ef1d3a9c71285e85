#pragma once

#include <QIcon>

namespace brennick {

// Brennick's icon, the picture the desktop entry names, at the sizes built into the program.
QIcon BrennickIcon();

} // namespace brennick
