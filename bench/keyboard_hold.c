/* How long the keyboard is held while the running program is busy with a capture.
 * Owns the clipboard itself, either as a program that never answers ("never") or
 * serving N megabytes of text ("N"), presses Ctrl+C twice through XTEST, and once
 * the program is busy (waiting for the answer, or storing the large text it got)
 * presses Ctrl+C and "x" and prints the milliseconds until "x" reaches a window
 * of its own that has the focus.
 * Usage: bench_keyboard_hold never|<megabytes>   (with the program running on $DISPLAY)
 * A measurement run by hand, not a test. */

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define CHUNK 200000 /* below the core protocol's request size */

static Display* display;
static Window owner, focus;
static Atom clipboard, targets, utf8, incr;
static char* text;
static size_t text_size;
static int never_answer;
static int requests;
static Window sending_to;
static Atom sending_property;
static size_t sent = (size_t)-1; /* -1: no transfer; text_size + 1: finished */
static int got_x;

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

static void answer(const XSelectionRequestEvent* request) {
    Atom property = request->property == None ? request->target : request->property;
    if (request->target == targets) {
        Atom list[2] = {targets, utf8};
        XChangeProperty(display, request->requestor, property, XA_ATOM, 32, PropModeReplace,
                        (unsigned char*)list, 2);
    } else if (request->target == utf8) {
        long size = (long)text_size;
        XSelectInput(display, request->requestor, PropertyChangeMask);
        XChangeProperty(display, request->requestor, property, incr, 32, PropModeReplace,
                        (unsigned char*)&size, 1);
        sending_to = request->requestor;
        sending_property = property;
        sent = 0;
    } else {
        property = None;
    }
    XEvent reply;
    memset(&reply, 0, sizeof reply);
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request->requestor;
    reply.xselection.selection = request->selection;
    reply.xselection.target = request->target;
    reply.xselection.property = property;
    reply.xselection.time = request->time;
    XSendEvent(display, request->requestor, False, NoEventMask, &reply);
}

static void on_property_deleted(const XPropertyEvent* event) {
    if (sent > text_size || event->window != sending_to || event->atom != sending_property) {
        return;
    }
    size_t size = text_size - sent < CHUNK ? text_size - sent : CHUNK;
    XChangeProperty(display, sending_to, sending_property, utf8, 8, PropModeReplace,
                    (unsigned char*)text + sent, (int)size);
    sent = size == 0 ? text_size + 1 : sent + size;
}

/* Handles what arrives for up to `timeout` ms, or until `done` says so. */
static void serve(double timeout, int (*done)(void)) {
    const double end = now_ms() + timeout;
    while (!done() && now_ms() < end) {
        XFlush(display);
        struct pollfd fds = {ConnectionNumber(display), POLLIN, 0};
        poll(&fds, 1, 10);
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionRequest) {
                ++requests;
                if (!never_answer) {
                    answer(&event.xselectionrequest);
                }
            } else if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
                on_property_deleted(&event.xproperty);
            } else if (event.type == KeyPress && event.xkey.window == focus &&
                       XLookupKeysym(&event.xkey, 0) == XK_x) {
                got_x = 1;
            }
        }
    }
}

static int never(void) { return 0; }
static int requested(void) { return requests > 0; }
static int transferred(void) { return sent == text_size + 1; }
static int x_arrived(void) { return got_x; }

static void key(KeySym sym, Bool down) {
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down, CurrentTime);
    XFlush(display);
}

static void control_c(void) {
    key(XK_Control_L, True);
    key(XK_c, True);
    key(XK_c, False);
    key(XK_Control_L, False);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s never|<megabytes>\n", argv[0]);
        return 2;
    }
    display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    never_answer = strcmp(argv[1], "never") == 0;
    if (!never_answer) {
        text_size = (size_t)atol(argv[1]) * 1000000;
        text = malloc(text_size);
        for (size_t i = 0; i < text_size; ++i) {
            text[i] = i % 64 == 63 ? '\n' : (char)('a' + i % 26);
        }
    }
    clipboard = XInternAtom(display, "CLIPBOARD", False);
    targets = XInternAtom(display, "TARGETS", False);
    utf8 = XInternAtom(display, "UTF8_STRING", False);
    incr = XInternAtom(display, "INCR", False);
    const Window root = DefaultRootWindow(display);
    owner = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    focus = XCreateSimpleWindow(display, root, 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(display, focus, KeyPressMask);
    XMapWindow(display, focus);
    XSync(display, False);
    XSetInputFocus(display, focus, RevertToParent, CurrentTime);
    XSetSelectionOwner(display, clipboard, owner, CurrentTime);
    XSync(display, False);

    key(XK_Control_L, True);
    key(XK_c, True);
    key(XK_c, False);
    key(XK_c, True);
    key(XK_c, False);
    key(XK_Control_L, False);
    const double pressed = now_ms();
    serve(20000, requested);
    if (!never_answer) {
        serve(60000, transferred);
    }
    /* Past the double-copy window, so the next press is passed on, not captured. */
    serve(600 - (now_ms() - pressed), never);
    const double start = now_ms();
    control_c();
    key(XK_x, True);
    key(XK_x, False);
    serve(60000, x_arrived);
    printf("%s: keyboard held %.1f ms\n", argv[1], now_ms() - start);
    XCloseDisplay(display);
    free(text);
    return got_x ? 0 : 1;
}
