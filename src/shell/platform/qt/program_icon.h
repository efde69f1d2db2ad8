#pragma once

#include <QIcon>

namespace hrd::qt {

// The program's icon for the window and the tray, drawn at the usual sizes. It is
// the same picture as res/hoardly.svg, which the desktop's launcher uses.
QIcon program_icon();

}  // namespace hrd::qt
