/* Another program on the desktop, for the end-to-end tests.
 *
 * Without arguments: a plain X window that takes the keyboard focus and reports
 * each key press it receives on stdout, so a test can tell which copy-key presses
 * reached it and which were swallowed.
 *
 * With "--close WINDOW": asks that window to close the way a window manager's
 * close button does (WM_DELETE_WINDOW), for desktops the tests run without one. */

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int close_window(Display* display, Window window) {
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    if (argc == 3 && strcmp(argv[1], "--close") == 0) {
        return close_window(display, (Window)strtoul(argv[2], NULL, 0));
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
