#pragma once
// Xlib errors, for every connection the program opens. Xlib's default handler ends
// the process; a refused grab or a reply that went astray must not. The handler
// records the error for the thread that met it: each connection is used by one
// thread only, and Xlib reports an error on the thread that reads the reply.

#include "fml/exception.h"

namespace hrd::x11 {

FML_DECLARE_EXCEPTION(x11_error, fml::exception);

// Installs the recording handler (once for the process; safe to call again).
void record_x_errors();
// The code of the last error this thread met since reset_x_error(); 0 for none.
int last_x_error();
void reset_x_error();

}  // namespace hrd::x11
