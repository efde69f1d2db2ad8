// Drives the copy-key capture on a private Xvfb server with XTEST key presses and
// checks what reaches the focused window: the second press of a double copy is
// swallowed, everything else is delivered, and promptly, even while the program
// waits for a clipboard owner or stores a large capture.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <sys/eventfd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "fml/text.h"
#include "fml/unique_fd.h"
#include "shell/platform/qt/desktop_capture.h"
#include "shell/platform/qt/desktop_services.h"
#include "shell/platform/x11/capture_backend.h"
#include "shell/platform/x11/copy_key_capture.h"
#include "support/process.h"
#include "support/temp_dir.h"

// Xlib's macros clash with GoogleTest's names, so its headers come last.
#include <X11/Xatom.h>
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

// A program that owns the clipboard, on a connection and a thread of its own. It
// serves its text in `format` (UTF8_STRING unless told), piece by piece (INCR)
// when it is large, and refuses every other format. With `hold_first` it leaves
// the first request it gets unanswered until answer_held(), like a program that
// hangs.
class clipboard_owner {
public:
    clipboard_owner(const std::string& display_name, std::string text, bool hold_first,
                    const char* format = "UTF8_STRING")
        : m_text(std::move(text)), m_hold(hold_first) {
        m_display = XOpenDisplay(display_name.c_str());
        if (m_display == nullptr) {
            throw std::runtime_error("the clipboard owner cannot open " + display_name);
        }
        m_window =
            XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        m_clipboard = XInternAtom(m_display, "CLIPBOARD", False);
        m_targets = XInternAtom(m_display, "TARGETS", False);
        m_format = XInternAtom(m_display, format, False);
        m_incr = XInternAtom(m_display, "INCR", False);
        XSetSelectionOwner(m_display, m_clipboard, m_window, CurrentTime);
        XSync(m_display, False);
        m_wake.reset(::eventfd(0, EFD_CLOEXEC));
        m_thread = std::thread([this] { serve(); });
    }
    ~clipboard_owner() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        wake();
        m_thread.join();
        m_wake.reset();
        XCloseDisplay(m_display);
    }

    // Whether a request came and is being held, waiting at most `timeout`.
    bool wait_until_held(std::chrono::seconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_held.has_value(); });
    }
    void answer_held() {
        {
            std::lock_guard lock(m_mutex);
            m_release = true;
        }
        wake();
    }

private:
    static constexpr std::size_t chunk = 200'000;  // below the core protocol's request size

    void wake() {
        const std::uint64_t one = 1;
        EXPECT_EQ(::write(m_wake.get(), &one, sizeof one), ssize_t(sizeof one));
    }
    void serve() {
        pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        for (;;) {
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == SelectionRequest) {
                    on_request(event.xselectionrequest);
                } else if (event.type == PropertyNotify &&
                           event.xproperty.state == PropertyDelete) {
                    on_property_deleted(event.xproperty);
                }
            }
            std::optional<XSelectionRequestEvent> release;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping) {
                    return;
                }
                if (m_release && m_held && !m_held_answered) {
                    release = m_held;
                    m_held_answered = true;
                }
            }
            if (release) {
                answer(*release);
            }
            // Writing a large piece may read the requestor's next deletion into Xlib's
            // queue while it waits to write: the socket would not announce it again.
            if (XPending(m_display) > 0) {
                continue;
            }
            ::poll(fds, 2, -1);
            if ((fds[1].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                EXPECT_EQ(::read(m_wake.get(), &count, sizeof count), ssize_t(sizeof count));
            }
        }
    }
    void on_request(const XSelectionRequestEvent& request) {
        {
            std::lock_guard lock(m_mutex);
            if (m_hold && !m_held) {
                m_held = request;
                m_changed.notify_all();
                return;
            }
        }
        answer(request);
    }
    void answer(const XSelectionRequestEvent& request) {
        Atom property = request.property == None ? request.target : request.property;
        const auto* text = reinterpret_cast<const unsigned char*>(m_text.data());
        if (request.target == m_targets) {
            const Atom targets[] = {m_targets, m_format};
            XChangeProperty(m_display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(targets), 2);
        } else if (request.target == m_format && m_text.size() <= chunk) {
            XChangeProperty(m_display, request.requestor, property, m_format, 8, PropModeReplace,
                            text, int(m_text.size()));
        } else if (request.target == m_format) {
            // The requestor deletes the property for each next piece.
            XSelectInput(m_display, request.requestor, PropertyChangeMask);
            const long size = long(m_text.size());
            XChangeProperty(m_display, request.requestor, property, m_incr, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&size), 1);
            m_sending = incremental{request.requestor, property, 0};
        } else {
            property = None;
        }
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = m_display;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.property = property;
        reply.xselection.time = request.time;
        XSendEvent(m_display, request.requestor, False, NoEventMask, &reply);
    }
    void on_property_deleted(const XPropertyEvent& event) {
        if (!m_sending || event.window != m_sending->requestor ||
            event.atom != m_sending->property) {
            return;
        }
        // Pieces until a last empty one, which ends the transfer.
        const std::size_t size = std::min(chunk, m_text.size() - m_sending->offset);
        XChangeProperty(
            m_display, m_sending->requestor, m_sending->property, m_format, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(m_text.data()) + m_sending->offset, int(size));
        m_sending->offset += size;
        if (size == 0) {
            XSelectInput(m_display, m_sending->requestor, NoEventMask);
            m_sending.reset();
        }
    }

    struct incremental {
        Window requestor;
        Atom property;
        std::size_t offset;
    };

    const std::string m_text;
    const bool m_hold;
    Display* m_display = nullptr;
    Window m_window = 0;
    Atom m_clipboard = 0, m_targets = 0, m_format = 0, m_incr = 0;
    fml::unique_fd m_wake;
    std::optional<incremental> m_sending;  // the owner thread's alone
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<XSelectionRequestEvent> m_held;
    bool m_held_answered = false;
    bool m_release = false;
    bool m_stopping = false;
    std::thread m_thread;
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

// The program's own capture on Qt: the clipboard is read and the text stored on the
// loop's thread, and neither may keep the keyboard from the other programs. Each
// wait below ends on an event: the keys typed while the program is busy must reach
// the focused window while it is still busy.
TEST_F(x11_capture, the_keyboard_is_answered_while_a_capture_is_read_and_stored) {
    m_capture.reset();  // the program's capture takes the keys here
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char name[] = "x11_capture_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::u16string> captured;
    bool read_failed = false;
    bool hold_store = false;  // the store stand-in waits for the keys typed meanwhile
    bool keys_typed = false;
    std::string log;
    hrd::qt::qt_clipboard clipboard;
    hrd::qt::desktop_capture capture(
        hrd::x11::capture_backend(), clipboard,
        [&](std::u16string text) {
            std::unique_lock lock(mutex);
            captured.push_back(std::move(text));
            changed.notify_all();
            if (hold_store) {
                changed.wait_for(lock, 30s, [&] { return keys_typed; });
            }
        },
        [](const std::function<void()>& action) { action(); },
        [&](const std::string& line) {
            std::lock_guard lock(mutex);
            log += line + "\n";
            read_failed = read_failed || line.find("clipboard") != std::string::npos;
            changed.notify_all();
        },
        60s);  // the owner that hangs is answered well before
    capture.start();
    ASSERT_TRUE(capture.running()) << log;

    // The focused window's keys, read by the thread that types.
    std::map<KeySym, int> received;
    auto wait_for_key = [&](KeySym sym, int count, std::chrono::seconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (received[sym] < count && std::chrono::steady_clock::now() < end) {
            pollfd fds{ConnectionNumber(m_window_display), POLLIN, 0};
            ::poll(&fds, 1, 20);
            while (XPending(m_window_display) > 0) {
                XEvent event;
                XNextEvent(m_window_display, &event);
                if (event.type == KeyPress) {
                    ++received[XLookupKeysym(&event.xkey, 0)];
                }
            }
        }
        return received[sym] >= count;
    };
    auto fake = [&](KeySym sym, bool down) {
        XTestFakeKeyEvent(m_keys, XKeysymToKeycode(m_keys, sym), down, CurrentTime);
        XFlush(m_keys);
    };
    auto control_c = [&](int times) {
        fake(XK_Control_L, true);
        for (int i = 0; i < times; ++i) {
            fake(XK_c, true);
            fake(XK_c, false);
        }
        fake(XK_Control_L, false);
    };
    auto wait_for_capture = [&](std::size_t count, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return captured.size() >= count; });
    };

    const std::string small = "kept to the byte: caf\xC3\xA9 \xF0\x9F\x98\x80\r\n\tend";
    std::string large;
    for (int line = 0; large.size() < 30'000'000; ++line) {
        large += std::to_string(line) + " caf\xC3\xA9 \xF0\x9F\x98\x80 line\n";
    }
    bool read_started = false;
    bool loop_ran_during_read = false;
    bool keys_during_read = false;
    bool keys_during_store = false;
    std::atomic<bool> finished = false;
    std::thread typist([&] {
        {
            // An owner that never answers: the read hangs until it does.
            clipboard_owner hanging(m_display_name, small, true);
            control_c(2);
            read_started = hanging.wait_until_held(20s);
            if (read_started) {
                // The program's own loop goes on while the read waits: a call posted
                // to it now runs before the read has an outcome.
                bool posted_ran = false;
                QMetaObject::invokeMethod(
                    &app,
                    [&] {
                        std::lock_guard lock(mutex);
                        posted_ran = true;
                        loop_ran_during_read = captured.empty() && !read_failed;
                        changed.notify_all();
                    },
                    Qt::QueuedConnection);
                {
                    std::unique_lock lock(mutex);
                    changed.wait_for(lock, 30s, [&] { return posted_ran; });
                }
                // Past the double-copy window, so this press is passed on, not captured.
                std::this_thread::sleep_for(600ms);
                control_c(1);
                fake(XK_x, true);
                fake(XK_x, false);
                const bool arrived = wait_for_key(XK_x, 1, 20s);
                std::lock_guard lock(mutex);
                keys_during_read = arrived && captured.empty() && !read_failed;
            }
            hanging.answer_held();
            wait_for_capture(1, 20s);
        }
        {
            clipboard_owner generous(m_display_name, large, false);
            {
                std::lock_guard lock(mutex);
                hold_store = true;
            }
            std::this_thread::sleep_for(600ms);
            control_c(2);
            if (wait_for_capture(2, 30s)) {
                std::this_thread::sleep_for(600ms);
                control_c(1);
                fake(XK_x, true);
                fake(XK_x, false);
                keys_during_store = wait_for_key(XK_x, 2, 20s);
            }
            std::lock_guard lock(mutex);
            keys_typed = true;
            changed.notify_all();
        }
        wait_for_key(XK_c, 4, 5s);
        finished = true;
    });
    const auto end = std::chrono::steady_clock::now() + 180s;
    while (!finished && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(2ms);
    }
    typist.join();
    capture.stop();

    EXPECT_TRUE(read_started) << log;
    EXPECT_TRUE(loop_ran_during_read) << "a hanging clipboard owner froze the program\n" << log;
    EXPECT_TRUE(keys_during_read) << "a hanging clipboard owner froze the keyboard\n" << log;
    EXPECT_TRUE(keys_during_store) << "a large capture froze the keyboard\n" << log;
    ASSERT_EQ(captured.size(), 2u) << log;
    EXPECT_EQ(captured[0], fml::utf82wchar(small));
    EXPECT_TRUE(captured[1] == fml::utf82wchar(large))
        << captured[1].size() << " UTF-16 units, not " << fml::utf82wchar(large).size();
    // Each double copy's first press reached the window, its second did not; the
    // single presses typed meanwhile did.
    EXPECT_EQ(received[XK_c], 4);
}

// What the program makes of each kind of clipboard after a double copy: an owner
// that never answers is told apart from a clipboard without text, an owner that
// offers only Latin-1 is read, and so is the program's own clipboard, which its
// own loop serves. Every read is waited for by its outcome, on the loop itself.
TEST_F(x11_capture, each_kind_of_clipboard_has_its_own_outcome) {
    m_capture.reset();  // the program's capture takes the keys here
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char name[] = "x11_capture_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    std::vector<std::u16string> captured;
    std::vector<std::string> log;
    hrd::qt::qt_clipboard clipboard;
    hrd::qt::desktop_capture capture(
        hrd::x11::capture_backend(), clipboard,
        [&](std::u16string text) { captured.push_back(std::move(text)); },
        [](const std::function<void()>& action) { action(); },
        [&](const std::string& line) { log.push_back(line); }, 2s);
    capture.start();
    ASSERT_TRUE(capture.running());

    auto fake = [&](KeySym sym, bool down) {
        XTestFakeKeyEvent(m_keys, XKeysymToKeycode(m_keys, sym), down, CurrentTime);
        XFlush(m_keys);
    };
    auto pump_until = [&](auto done, std::chrono::seconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return done();
    };
    // A double copy, well apart from the one before, and what it led to: the text
    // captured, or else the log line written.
    auto double_copy = [&]() -> std::string {
        const auto start = std::chrono::steady_clock::now();
        pump_until([&] { return std::chrono::steady_clock::now() - start > 600ms; }, 5s);
        const std::size_t texts = captured.size();
        const std::size_t lines = log.size();
        fake(XK_Control_L, true);
        for (int i = 0; i < 2; ++i) {
            fake(XK_c, true);
            fake(XK_c, false);
        }
        fake(XK_Control_L, false);
        if (!pump_until([&] { return captured.size() > texts || log.size() > lines; }, 30s)) {
            return "(nothing happened)";
        }
        return captured.size() > texts ? "text: " + fml::wchar2utf8(captured.back())
                                       : log.back();
    };

    EXPECT_EQ(double_copy(), "The clipboard holds no text: nothing captured");  // no owner
    {
        clipboard_owner silent(m_display_name, "never sent", true);
        EXPECT_EQ(double_copy(), "The clipboard owner did not answer in 2 s: nothing captured");
    }
    {
        clipboard_owner picture(m_display_name, "\x89PNG", false, "image/png");
        EXPECT_EQ(double_copy(), "The clipboard holds no text: nothing captured");
    }
    {
        clipboard_owner old_style(m_display_name, "caf\xE9 \xA3 5", false, "STRING");
        EXPECT_EQ(double_copy(), "text: caf\xC3\xA9 \xC2\xA3 5");
    }
    const std::u16string ours = u"ours: caf\u00E9 \U0001F600\r\n";
    QGuiApplication::clipboard()->setText(QString::fromStdU16String(ours));
    ASSERT_TRUE(pump_until([] { return QGuiApplication::clipboard()->ownsClipboard(); }, 10s));
    EXPECT_EQ(double_copy(), "text: " + fml::wchar2utf8(ours));
    capture.stop();
}
