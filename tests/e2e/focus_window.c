/* Another program on the desktop, for the end-to-end tests: a plain X window that
 * takes the keyboard focus and reports each key press it receives on stdout, so a
 * test can tell which copy-key presses reached it and which were swallowed. */

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 980, 80, 240, 120, 0, 0, 0xFFFFFF);
    XStoreName(display, window, "e2e-other-program");
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapWindow(display, window);
    for (XEvent event;;) {
        XNextEvent(display, &event);
        if (event.type == MapNotify) {
            break;
        }
    }
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    printf("ready\n");
    fflush(stdout);
    for (XEvent event;;) {
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            const KeySym key = XLookupKeysym(&event.xkey, 0);
            const char* name = XKeysymToString(key);
            printf("key %s%s\n", (event.xkey.state & ControlMask) ? "ctrl+" : "",
                   name ? name : "?");
            fflush(stdout);
        }
    }
}
