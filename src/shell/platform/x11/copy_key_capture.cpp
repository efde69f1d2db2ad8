#include "shell/platform/x11/copy_key_capture.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "fml/unique_fd.h"
#include "shell/platform/x11/x_errors.h"

namespace hrd::x11 {
namespace {

// The lock modifiers that must not stop a grab from matching: Caps Lock, Num Lock.
constexpr unsigned lock_variants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
// Control alone, and with Shift (the copy key of terminals).
constexpr unsigned copy_modifiers[] = {ControlMask, ControlMask | ShiftMask};

}  // namespace

struct copy_key_capture::connection {
    Display* display = nullptr;
    fml::unique_fd wake;  // an eventfd that tells the background thread to end
    Window root = 0;
    int xi_opcode = -1;  // -1: no XInput2, so presses cannot be told from repeats
    KeyCode key_c = 0;
    KeyCode key_insert = 0;
    bool grabbed = false;
    // Keys physically down, from raw events; a grabbed press of a key whose raw
    // press was already used is an auto-repeat.
    std::array<bool, 256> down{};
    std::array<bool, 256> fresh_press{};
    std::array<bool, 256> is_control{};
    std::array<bool, 256> is_alt{};

    ~connection() {
        wake.reset();
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
    bool any_down(const std::array<bool, 256>& keys) const {
        for (size_t k = 0; k < keys.size(); ++k) {
            if (keys[k] && down[k]) {
                return true;
            }
        }
        return false;
    }
};

copy_key_capture::copy_key_capture(std::function<void()> on_capture, log_function log)
    : m_x(std::make_unique<connection>()),
      m_on_capture(std::move(on_capture)),
      m_log(std::move(log)) {
    record_x_errors();
    m_x->display = XOpenDisplay(nullptr);
    if (m_x->display == nullptr) {
        throw x11_error("Cannot open the X display for the copy-key capture");
    }
    Display* display = m_x->display;
    m_x->root = DefaultRootWindow(display);
    m_x->key_c = XKeysymToKeycode(display, XK_c);
    m_x->key_insert = XKeysymToKeycode(display, XK_Insert);
    for (KeySym sym : {XK_Control_L, XK_Control_R}) {
        m_x->is_control[XKeysymToKeycode(display, sym)] = true;
    }
    for (KeySym sym : {XK_Alt_L, XK_Alt_R, XK_Meta_L, XK_ISO_Level3_Shift}) {
        m_x->is_alt[XKeysymToKeycode(display, sym)] = true;
    }
    m_x->is_control[0] = m_x->is_alt[0] = false;

    int event_base = 0;
    int error_base = 0;
    int major = 2;
    int minor = 0;
    if (XQueryExtension(display, "XInputExtension", &m_x->xi_opcode, &event_base, &error_base) &&
        XIQueryVersion(display, &major, &minor) == Success) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISelectEvents(display, m_x->root, &mask, 1);
    } else {
        m_x->xi_opcode = -1;
        m_log(
            "XInput2 is missing: copy keys without Control are not seen, and held keys "
            "cannot be told from repeated presses");
    }
    grab_keys();
}

copy_key_capture::~copy_key_capture() {
    stop();
}

int copy_key_capture::fd() const {
    return ConnectionNumber(m_x->display);
}

void copy_key_capture::grab_keys() {
    Display* display = m_x->display;
    for (KeyCode key : {m_x->key_c, m_x->key_insert}) {
        if (key == 0) {
            continue;
        }
        for (unsigned base : copy_modifiers) {
            for (unsigned lock : lock_variants) {
                reset_x_error();
                XGrabKey(display, key, base | lock, m_x->root, False, GrabModeAsync, GrabModeSync);
                XSync(display, False);
                if (last_x_error() != 0) {
                    m_log("Another program holds a copy key (X error " +
                          std::to_string(last_x_error()) + "); the double copy may not work for it");
                }
            }
        }
    }
    m_x->grabbed = true;
}

void copy_key_capture::run_in_background() {
    if (m_thread.joinable()) {
        return;
    }
    fml::unique_fd wake(::eventfd(0, EFD_CLOEXEC));
    if (!wake.valid()) {
        throw x11_error("Cannot make the copy-key capture's wake-up descriptor (errno " +
                        std::to_string(errno) + ")");
    }
    m_x->wake = std::move(wake);
    m_thread = std::thread([this] { serve(); });
}

// The background thread's loop: the connection is this thread's alone until stop()
// has joined it.
void copy_key_capture::serve() {
    std::array<pollfd, 2> fds{pollfd{fd(), POLLIN, 0}, pollfd{m_x->wake.get(), POLLIN, 0}};
    for (;;) {
        // Xlib may already hold events read along with a reply: handle those first,
        // the socket would not announce them again.
        process_events();
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            // Nobody would answer a grabbed press any more and the keyboard would
            // stay frozen: give the keys back and go without capture.
            XUngrabKey(m_x->display, AnyKey, AnyModifier, m_x->root);
            XSync(m_x->display, False);
            m_x->grabbed = false;
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
    }
}

void copy_key_capture::stop() noexcept {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        // An eventfd write of 8 bytes cannot be short; it fails only if the counter
        // overflowed, which one writer of 1 never reaches.
        [[maybe_unused]] const auto written = ::write(m_x->wake.get(), &one, sizeof one);
        m_thread.join();
    }
    if (!m_x || m_x->display == nullptr || !m_x->grabbed) {
        return;
    }
    XUngrabKey(m_x->display, AnyKey, AnyModifier, m_x->root);
    XSync(m_x->display, False);
    m_x->grabbed = false;
}

void copy_key_capture::process_events() {
    Display* display = m_x->display;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            on_grabbed_press(&event);
        } else if (event.type == GenericEvent && event.xcookie.extension == m_x->xi_opcode &&
                   XGetEventData(display, &event.xcookie)) {
            const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
            on_raw_event(event.xcookie.evtype, static_cast<unsigned>(raw->detail), raw->time);
            XFreeEventData(display, &event.xcookie);
        }
    }
}

void copy_key_capture::on_grabbed_press(const void* data) {
    const auto start = std::chrono::steady_clock::now();
    const XKeyEvent& event = static_cast<const XEvent*>(data)->xkey;
    const unsigned keycode = event.keycode & 0xFF;
    bool repeat = false;
    if (m_x->xi_opcode >= 0) {
        repeat = !m_x->fresh_press[keycode];
        m_x->fresh_press[keycode] = false;
    }
    key_press press;
    press.key = keycode == m_x->key_c ? vk_c : vk_insert;
    press.control = (event.state & ControlMask) != 0;
    press.alt = (event.state & Mod1Mask) != 0;
    press.repeat = repeat;
    press.time_ms = static_cast<std::uint32_t>(event.time);
    const capture_decision decision = m_rule.decide(press);

    // Release the keyboard at once; everything else waits until it is free again.
    XAllowEvents(m_x->display,
                 decision == capture_decision::capture ? AsyncKeyboard : ReplayKeyboard,
                 event.time);
    XFlush(m_x->display);
    const auto held = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    if (held > m_longest_hold) {
        m_longest_hold = held;
    }
    ++m_decided;
    if (decision == capture_decision::capture) {
        m_on_capture();
    }
}

void copy_key_capture::on_raw_event(int type, unsigned keycode, unsigned long time) {
    if (keycode >= m_x->down.size()) {
        return;
    }
    if (type == XI_RawKeyRelease) {
        m_x->down[keycode] = false;
        m_x->fresh_press[keycode] = false;
        return;
    }
    if (type != XI_RawKeyPress) {
        return;
    }
    m_x->down[keycode] = true;
    if (keycode != m_x->key_c && keycode != m_x->key_insert) {
        return;
    }
    m_x->fresh_press[keycode] = true;
    // With Control down the grab delivers this press and the rule sees it there.
    // Without it only the time matters; with Alt it does not count at all.
    if (!m_x->any_down(m_x->is_control) && !m_x->any_down(m_x->is_alt)) {
        key_press press;
        press.key = keycode == m_x->key_c ? vk_c : vk_insert;
        press.time_ms = static_cast<std::uint32_t>(time);
        m_rule.decide(press);
    }
}

}  // namespace hrd::x11
