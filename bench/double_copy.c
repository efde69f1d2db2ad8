/* Presses Ctrl+C twice through the XTEST extension, as a user would, and prints
 * the wall-clock time (milliseconds since the epoch) at which the X server had
 * the second press of C: the program decides on that press at once and lets the
 * keyboard go, so a capture's latency is counted from there.
 * For the whole-program benchmark (desktop_startup.mjs); not a test. */

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static void key(Display* display, KeyCode code, Bool down) {
    XTestFakeKeyEvent(display, code, down, CurrentTime);
    XSync(display, False);
}

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode c = XKeysymToKeycode(display, XK_c);
    struct timespec pressed = {0, 0};
    for (int press = 0; press < 2; ++press) {
        key(display, control, True);
        key(display, c, True);
        clock_gettime(CLOCK_REALTIME, &pressed);
        usleep(30000);
        key(display, c, False);
        key(display, control, False);
        if (press == 0) {
            usleep(150000);  /* well inside the double-press window */
        }
    }
    printf("%.3f\n", (double)pressed.tv_sec * 1000.0 + (double)pressed.tv_nsec / 1e6);
    XCloseDisplay(display);
    return 0;
}
