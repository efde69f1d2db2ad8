#pragma once
// The double copy on an X11 display: the copy-key capture and the clipboard
// reader, each on a connection of its own.

#include "platform/key_capture.h"

namespace hrd::x11 {

// Each maker raises x11_error when there is no display.
hrd::capture_backend capture_backend();

}  // namespace hrd::x11
