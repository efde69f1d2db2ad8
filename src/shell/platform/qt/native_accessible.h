#pragma once
// The native view as assistive technology sees it. The web renderer gets this
// from its browser engine; the native one answers from the document itself:
// the view's accessible interface has the parts of the window a screen-reader
// user works with (the search bar and its tags, the find field, the buttons, the
// tag list, the rows the quote list holds, open pop-up menus, the status bar),
// each an interface for one element, named by its plain text.
//
// Nothing is built until an assistive client asks for the view: the factory
// makes the view's interface then, and element interfaces are made as they are
// asked for, kept by element serial and dropped when their element leaves the
// document. After each layout the interface tells the client what changed since
// the last one: focus, names, values, states and rows come and gone.

class QAccessibleEvent;

namespace hrd::qt {

// Lets Qt find the accessible interface of every native_view. Safe to call often.
void install_native_accessibility();

// Where the events go: to Qt's accessibility (nullptr), which passes them on
// only while a client listens, or to a listener of a test's own, as a test has
// no client to make Qt listen.
using accessibility_listener = void (*)(QAccessibleEvent* event);
void set_accessibility_listener(accessibility_listener listener);

}  // namespace hrd::qt
