#include "shell/platform/x11/clipboard_reader.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "fml/text.h"
#include "fml/unique_fd.h"

namespace hrd::x11 {

using clock = std::chrono::steady_clock;

struct clipboard_reader::connection {
    Display* display = nullptr;
    fml::unique_fd wake;  // an eventfd that tells a read under way to give up
    Atom clipboard = None, targets = None, incr = None, property = None;
    // The text formats, most wanted first.
    Atom utf8 = None, plain_utf8 = None, text = None;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<done_function> waiting;
    std::atomic<bool> stopping = false;

    ~connection() {
        wake.reset();
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
};

namespace {

// One property as read from our window: bytes for 8-bit data, items for 32-bit
// data (atoms, the size announced by INCR).
struct property {
    Atom type = None;
    int format = 0;
    std::string bytes;
    std::vector<unsigned long> items;
};

enum class wait_end { matched, timed_out, stopping };
enum class convert_end { converted, refused, timed_out, too_slow, stopping, failed };

// Each request asks for at most this many 32-bit units: large texts are read in
// several replies rather than one that Xlib must hold whole twice.
constexpr long property_piece = 1L << 20;

struct read_context {
    clipboard_reader::connection& x;
    Window window;
    std::chrono::milliseconds answer_wait;
    clock::time_point transfer_end;

    // Until the next answer is due: the answer wait, cut short by the end of the
    // whole transfer. `capped` tells which of the two it is.
    clock::time_point answer_due(bool& capped) const {
        const auto due = clock::now() + answer_wait;
        capped = transfer_end < due;
        return capped ? transfer_end : due;
    }
};

// Waits for an event that `matches` accepts; the events before it are of no use
// here and are dropped.
template <typename match_function>
wait_end wait_for(read_context& context, clock::time_point deadline, XEvent& event,
                  match_function matches) {
    Display* display = context.x.display;
    for (;;) {
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            if (matches(event)) {
                return wait_end::matched;
            }
        }
        if (context.x.stopping) {
            return wait_end::stopping;
        }
        const auto left = deadline - clock::now();
        if (left <= clock::duration::zero()) {
            return wait_end::timed_out;
        }
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {context.x.wake.get(), POLLIN, 0}};
        const auto wait_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        if (::poll(fds, 2, int(std::min<long long>(wait_ms, 60'000))) < 0 && errno != EINTR) {
            return wait_end::stopping;
        }
    }
}

// Reads our property whole and deletes it, which for a piecewise transfer asks
// the owner for the next piece.
bool read_property(read_context& context, property& out) {
    out = property{};
    long offset = 0;
    for (;;) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(context.x.display, context.window, context.x.property, offset,
                               property_piece, True, AnyPropertyType, &type, &format, &count,
                               &after, &data) != Success) {
            return false;
        }
        out.type = type;
        out.format = format;
        if (format == 8) {
            out.bytes.append(reinterpret_cast<const char*>(data), count);
            offset += long(count / 4);
        } else if (format == 32) {
            // Xlib hands 32-bit items over as longs.
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            out.items.insert(out.items.end(), items, items + count);
            offset += long(count);
        } else if (format == 16) {
            offset += long(count / 2);
        }
        if (data != nullptr) {
            XFree(data);
        }
        if (type == None || after == 0) {
            return true;
        }
    }
}

convert_end waited(wait_end end, bool capped) {
    switch (end) {
    case wait_end::matched:
        return convert_end::converted;
    case wait_end::timed_out:
        return capped ? convert_end::too_slow : convert_end::timed_out;
    case wait_end::stopping:
        return convert_end::stopping;
    }
    return convert_end::failed;
}

// Asks the owner for the clipboard in `target` and reads the answer, in pieces
// when the owner sends it so.
convert_end convert(read_context& context, Atom target, property& out) {
    auto& x = context.x;
    XDeleteProperty(x.display, context.window, x.property);
    XConvertSelection(x.display, x.clipboard, target, x.property, context.window, CurrentTime);
    XFlush(x.display);

    XEvent event;
    bool capped = false;
    wait_end end = wait_for(context, context.answer_due(capped), event, [&](const XEvent& e) {
        return e.type == SelectionNotify && e.xselection.requestor == context.window &&
               e.xselection.selection == x.clipboard;
    });
    if (end != wait_end::matched) {
        return waited(end, capped);
    }
    if (event.xselection.property == None) {
        return convert_end::refused;
    }
    if (!read_property(context, out)) {
        return convert_end::failed;
    }
    if (out.type != x.incr) {
        return convert_end::converted;
    }
    // Piece by piece: each new value of the property is the next piece, an empty
    // one the end. Reading a piece deletes it, which asks for the next.
    if (!out.items.empty()) {
        out.bytes.reserve(std::min<unsigned long>(out.items.front(), 1UL << 31));
    }
    out.type = None;
    out.items.clear();
    for (;;) {
        end = wait_for(context, context.answer_due(capped), event, [&](const XEvent& e) {
            return e.type == PropertyNotify && e.xproperty.window == context.window &&
                   e.xproperty.atom == x.property && e.xproperty.state == PropertyNewValue;
        });
        if (end != wait_end::matched) {
            return waited(end, capped);
        }
        property piece;
        if (!read_property(context, piece)) {
            return convert_end::failed;
        }
        if (piece.type != None) {
            out.type = piece.type;
            out.format = piece.format;
        }
        if (piece.bytes.empty() && piece.items.empty()) {
            return convert_end::converted;
        }
        out.bytes += piece.bytes;
    }
}

clipboard_text outcome_of(convert_end end) {
    clipboard_text result;
    switch (end) {
    case convert_end::converted:
        result.result = clipboard_text::outcome::text;
        break;
    case convert_end::refused:
        result.result = clipboard_text::outcome::refused;
        break;
    case convert_end::timed_out:
        result.result = clipboard_text::outcome::timed_out;
        break;
    case convert_end::too_slow:
        result.result = clipboard_text::outcome::too_slow;
        break;
    case convert_end::stopping:
        result.result = clipboard_text::outcome::failed;
        result.detail = "the reader is closing";
        break;
    case convert_end::failed:
        result.result = clipboard_text::outcome::failed;
        result.detail = "the owner's answer could not be read (X error " +
                        std::to_string(last_x_error()) + ")";
        break;
    }
    return result;
}

clipboard_text decode(const property& text) {
    clipboard_text result;
    if (text.format != 8 && text.type != None) {
        result.result = clipboard_text::outcome::failed;
        result.detail = "the owner sent its text as " + std::to_string(text.format) + "-bit data";
        return result;
    }
    result.result = clipboard_text::outcome::text;
    if (text.type == XA_STRING) {
        // STRING is Latin-1: each byte is the code point of the same number.
        result.text.reserve(text.bytes.size());
        for (const char byte : text.bytes) {
            result.text += char16_t(static_cast<unsigned char>(byte));
        }
    } else {
        result.text = fml::utf82wchar(text.bytes);
    }
    return result;
}

// A window for one read only: an answer that comes after its read gave up finds
// the window gone and cannot be mistaken for the answer to a later read.
class read_window {
public:
    explicit read_window(Display* display) : m_display(display) {
        m_window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display, m_window, PropertyChangeMask);
    }
    ~read_window() {
        XDestroyWindow(m_display, m_window);
        XFlush(m_display);
    }
    read_window(const read_window&) = delete;
    read_window& operator=(const read_window&) = delete;
    Window id() const { return m_window; }

private:
    Display* m_display;
    Window m_window = None;
};

clipboard_text read_once(clipboard_reader::connection& x, std::chrono::milliseconds answer_wait,
                         std::chrono::milliseconds transfer_limit) {
    reset_x_error();
    if (XGetSelectionOwner(x.display, x.clipboard) == None) {
        return clipboard_text{};
    }
    const read_window window(x.display);
    read_context context{x, window.id(), answer_wait, clock::now() + transfer_limit};

    // Which text formats the owner offers; an owner that cannot list them is
    // asked for the usual two in turn.
    std::vector<Atom> wanted;
    property formats;
    const convert_end listed = convert(context, x.targets, formats);
    if (listed == convert_end::converted) {
        for (const Atom format : {x.utf8, x.plain_utf8, Atom(XA_STRING), x.text}) {
            if (std::find(formats.items.begin(), formats.items.end(), format) !=
                formats.items.end()) {
                wanted.push_back(format);
            }
        }
        if (wanted.empty()) {
            return clipboard_text{};
        }
    } else if (listed == convert_end::refused) {
        wanted = {x.utf8, Atom(XA_STRING)};
    } else {
        return outcome_of(listed);
    }

    for (const Atom format : wanted) {
        property text;
        const convert_end end = convert(context, format, text);
        if (end == convert_end::converted) {
            return decode(text);
        }
        if (end != convert_end::refused) {
            return outcome_of(end);
        }
    }
    // Refusing every format is the only answer an owner that lists none can give
    // for having no text.
    return listed == convert_end::refused ? clipboard_text{}
                                          : outcome_of(convert_end::refused);
}

}  // namespace

clipboard_reader::clipboard_reader(std::chrono::milliseconds answer_wait,
                                   std::chrono::milliseconds transfer_limit)
    : m_x(std::make_unique<connection>()),
      m_answer_wait(answer_wait),
      m_transfer_limit(transfer_limit) {
    record_x_errors();
    m_x->display = XOpenDisplay(nullptr);
    if (m_x->display == nullptr) {
        throw x11_error("Cannot open the X display for reading the clipboard");
    }
    m_x->wake.reset(::eventfd(0, EFD_CLOEXEC));
    if (!m_x->wake.valid()) {
        throw x11_error("Cannot make the clipboard reader's wake-up descriptor (errno " +
                        std::to_string(errno) + ")");
    }
    Display* display = m_x->display;
    m_x->clipboard = XInternAtom(display, "CLIPBOARD", False);
    m_x->targets = XInternAtom(display, "TARGETS", False);
    m_x->incr = XInternAtom(display, "INCR", False);
    m_x->utf8 = XInternAtom(display, "UTF8_STRING", False);
    m_x->plain_utf8 = XInternAtom(display, "text/plain;charset=utf-8", False);
    m_x->text = XInternAtom(display, "TEXT", False);
    m_x->property = XInternAtom(display, "HOARDLY_CLIPBOARD", False);
    m_thread = std::thread([this] { serve(); });
}

clipboard_reader::~clipboard_reader() {
    {
        std::lock_guard lock(m_x->mutex);
        m_x->stopping = true;
    }
    m_x->changed.notify_all();
    const std::uint64_t one = 1;
    // An eventfd write of 8 bytes cannot be short; the counter cannot overflow
    // from one writer of 1.
    [[maybe_unused]] const auto written = ::write(m_x->wake.get(), &one, sizeof one);
    m_thread.join();
}

void clipboard_reader::read(done_function done) {
    {
        std::lock_guard lock(m_x->mutex);
        m_x->waiting.push_back(std::move(done));
    }
    m_x->changed.notify_all();
}

// The reader's thread: the connection is its alone.
void clipboard_reader::serve() {
    for (;;) {
        done_function done;
        {
            std::unique_lock lock(m_x->mutex);
            m_x->changed.wait(lock, [this] { return m_x->stopping || !m_x->waiting.empty(); });
            if (m_x->stopping) {
                return;
            }
            done = std::move(m_x->waiting.front());
            m_x->waiting.pop_front();
        }
        clipboard_text result = read_once(*m_x, m_answer_wait, m_transfer_limit);
        if (m_x->stopping) {
            return;
        }
        done(std::move(result));
    }
}

}  // namespace hrd::x11
