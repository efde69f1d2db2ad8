#pragma once
// What the core asks of the desktop, as one process-wide set. The desktop shell
// fills it in at start-up; tests put the fakes from platform/fake/ in. Nothing
// here knows Qt or X11.

#include "platform/clipboard.h"
#include "platform/opener.h"
#include "platform/save_dialog.h"
#include "platform/ui_thread.h"
#include "platform/user_notice.h"
#include "platform/window.h"

namespace hrd {

// Each pointer is null until the shell (or a test) sets it; callers treat a
// missing service as "not available here".
struct platform_services {
    main_window* window = nullptr;
    hrd::clipboard* clip = nullptr;
    save_dialog* dialog = nullptr;
    desktop_opener* opener = nullptr;
    user_notice* notice = nullptr;
    // Where work finished on another thread goes back to; without it the core
    // does such work on the UI thread itself.
    hrd::ui_thread* ui = nullptr;
};

platform_services& services();

}  // namespace hrd
