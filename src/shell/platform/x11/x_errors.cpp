#include "shell/platform/x11/x_errors.h"

#include <X11/Xlib.h>

namespace hrd::x11 {
namespace {

thread_local int t_last_error = 0;

int record_error(Display*, XErrorEvent* error) {
    t_last_error = error->error_code;
    return 0;
}

}  // namespace

void record_x_errors() {
    XSetErrorHandler(record_error);
}

int last_x_error() {
    return t_last_error;
}

void reset_x_error() {
    t_last_error = 0;
}

}  // namespace hrd::x11
