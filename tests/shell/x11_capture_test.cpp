// Drives the copy-key capture on a private Xvfb server with XTEST key presses and
// checks what reaches the focused window: the second press of a double copy is
// swallowed, everything else is delivered.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <csignal>
#include <functional>
#include <thread>

#include "shell/platform/x11/copy_key_capture.h"
#include "support/process.h"
#include "support/temp_dir.h"

// Xlib's macros clash with GoogleTest's names, so its headers come last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;

namespace {

class x11_capture : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) {
            GTEST_SKIP() << "Xvfb is not installed";
        }
        const int number = 90 + ::getpid() % 900;
        m_display_name = ":" + std::to_string(number);
        m_server = std::make_unique<hrd::test::child_process>(
            "/usr/bin/Xvfb", std::vector<std::string>{m_display_name, "-nolisten", "tcp"},
            std::map<std::string, std::string>{}, m_dir.file("xvfb.txt"));
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        for (int i = 0;
             i < 3000 && (m_window_display = XOpenDisplay(m_display_name.c_str())) == nullptr;
             ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_NE(m_window_display, nullptr) << hrd::test::read_file(m_dir.file("xvfb.txt"));
        ::setenv("DISPLAY", m_display_name.c_str(), 1);

        // The "other program" that has the focus and counts the copy keys it gets.
        m_window = XCreateSimpleWindow(m_window_display, DefaultRootWindow(m_window_display), 0, 0,
                                       100, 100, 0, 0, 0);
        XSelectInput(m_window_display, m_window, KeyPressMask);
        XMapWindow(m_window_display, m_window);
        XSync(m_window_display, False);
        XSetInputFocus(m_window_display, m_window, RevertToParent, CurrentTime);
        XSync(m_window_display, False);

        m_keys = XOpenDisplay(m_display_name.c_str());
        m_capture = std::make_unique<hrd::x11::copy_key_capture>(
            [this] { ++m_captures; }, [this](const std::string& line) { m_log += line + "\n"; });
    }
    void TearDown() override {
        m_capture.reset();
        if (m_keys)
            XCloseDisplay(m_keys);
        if (m_window_display)
            XCloseDisplay(m_window_display);
        if (m_server) {
            m_server->signal(SIGTERM);  // lets Xvfb remove its lock and socket
            m_server->wait(30s);
        }
    }

    void key(KeySym sym, bool down) {
        XTestFakeKeyEvent(m_keys, XKeysymToKeycode(m_keys, sym), down, CurrentTime);
        XFlush(m_keys);
        pump(30ms);
    }
    void tap(KeySym sym) {
        key(sym, true);
        key(sym, false);
    }
    // Until the window has a marker key sent after everything before it. The server
    // keeps keys in order through the capture's hold, so every earlier press has
    // then been delivered or swallowed. Bounded generously for busy machines.
    void settle() {
        const int before = m_markers;
        tap(XK_x);
        pump(30s, [&] { return m_markers > before; });
        ASSERT_GT(m_markers, before) << "the marker key never arrived";
    }
    // Lets the capture decide whatever arrived, and counts what the window received,
    // for `duration` or until `done`.
    void pump(
        std::chrono::milliseconds duration,
        const std::function<bool()>& done = [] { return false; }) {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end && !done()) {
            pollfd fds{m_capture->fd(), POLLIN, 0};
            ::poll(&fds, 1, 5);
            m_capture->process_events();
            while (XPending(m_window_display) > 0) {
                XEvent event;
                XNextEvent(m_window_display, &event);
                if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_c) {
                    ++m_delivered;
                }
                if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_x) {
                    ++m_markers;
                }
            }
        }
    }

    hrd::test::temp_dir m_dir;
    std::string m_display_name;
    std::unique_ptr<hrd::test::child_process> m_server;
    Display* m_window_display = nullptr;
    Display* m_keys = nullptr;
    Window m_window = 0;
    std::unique_ptr<hrd::x11::copy_key_capture> m_capture;
    int m_captures = 0;
    int m_delivered = 0;
    int m_markers = 0;
    std::string m_log;
};

}  // namespace

TEST_F(x11_capture, double_copy_swallows_only_the_second_press) {
    key(XK_Control_L, true);
    tap(XK_c);
    tap(XK_c);
    key(XK_Control_L, false);
    settle();
    EXPECT_EQ(m_captures, 1) << m_log;
    EXPECT_EQ(m_delivered, 1);  // the first press reached the window, the second did not

    // A single Ctrl+C well after: delivered, nothing captured.
    pump(600ms);
    key(XK_Control_L, true);
    tap(XK_c);
    key(XK_Control_L, false);
    settle();
    EXPECT_EQ(m_captures, 1);
    EXPECT_EQ(m_delivered, 2);

    // A plain "c" (seen only through raw events) followed by Ctrl+C: captured.
    pump(600ms);
    tap(XK_c);
    key(XK_Control_L, true);
    tap(XK_c);
    key(XK_Control_L, false);
    settle();
    EXPECT_EQ(m_captures, 2) << m_log;
    EXPECT_EQ(m_delivered, 3);
    EXPECT_GT(m_capture->decided_presses(), 0u);

    // After stop() nothing is held or swallowed any more.
    m_capture->stop();
    key(XK_Control_L, true);
    tap(XK_c);
    tap(XK_c);
    key(XK_Control_L, false);
    settle();
    EXPECT_EQ(m_captures, 2);
    EXPECT_EQ(m_delivered, 5);
}

TEST_F(x11_capture, a_held_copy_key_counts_once) {
    key(XK_Control_L, true);
    key(XK_c, true);
    pump(1500ms);  // long enough for the server's auto-repeat to start
    key(XK_c, false);
    key(XK_Control_L, false);
    settle();
    EXPECT_EQ(m_captures, 0) << m_log;
    EXPECT_GT(m_delivered, 1);  // the press and its auto-repeats reach the window
}
