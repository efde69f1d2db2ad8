#include "shell/platform/qt/window_reader.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/page_mirror.h"

namespace hrd::qt {

namespace {

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += c;  // UTF-8 passes as it is
                }
        }
    }
    out += '"';
}

// An answer for a request that cannot be read.
std::string error_answer(std::string_view why) {
    std::string out = "{\"error\":";
    append_json_string(out, why);
    return out + "}";
}

}  // namespace

struct window_reader::client {
    std::unique_ptr<QSocketNotifier> notifier;
    std::string input;
    std::deque<std::string> requests;
    bool answering = false;  // an answer waits for the layout
};

window_reader::window_reader(layout::document& document, read_view view,
                                       const QString& socket_path,
                                       std::function<void(const std::function<void()>&)> guard)
    : m_document(document), m_view(std::move(view)), m_guard(std::move(guard)), m_path(socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = socket_path.toLocal8Bit();
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path) {
        throw std::runtime_error("The reading socket path is empty or too long: " +
                                 path.toStdString());
    }
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::unlink(path.constData());
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 4) != 0) {
        const std::string why = std::strerror(errno);
        if (m_listener >= 0) {
            ::close(m_listener);
        }
        throw std::runtime_error("The reading socket cannot listen at " + path.toStdString() +
                                 ": " + why);
    }
    m_accepting = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
    QObject::connect(m_accepting.get(), &QSocketNotifier::activated, this,
                     [this] { accept_client(); });
}

window_reader::~window_reader() {
    m_accepting.reset();
    for (auto& [fd, held] : m_clients) {
        held->notifier.reset();
        ::close(fd);
    }
    ::close(m_listener);
    ::unlink(m_path.toLocal8Bit().constData());
}

void window_reader::accept_client() {
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    auto held = std::make_unique<client>();
    held->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(held->notifier.get(), &QSocketNotifier::activated, this,
                     [this, fd] { read_client(fd); });
    m_clients[fd] = std::move(held);
}

void window_reader::read_client(int fd) {
    const auto found = m_clients.find(fd);
    if (found == m_clients.end()) {
        return;
    }
    client& held = *found->second;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        drop_client(fd);
        return;
    }
    if (got < 0) {
        return;
    }
    held.input.append(buffer, std::size_t(got));
    for (std::size_t end = held.input.find('\n'); end != std::string::npos;
         end = held.input.find('\n')) {
        held.requests.push_back(held.input.substr(0, end));
        held.input.erase(0, end + 1);
    }
    if (held.input.size() > (1u << 20)) {
        drop_client(fd);  // no request is that long
        return;
    }
    answer_next(fd);
}

void window_reader::drop_client(int fd) {
    const auto found = m_clients.find(fd);
    if (found == m_clients.end()) {
        return;
    }
    found->second->notifier.reset();
    ::close(fd);
    m_clients.erase(found);
}

void window_reader::answer_next(int fd) {
    const auto found = m_clients.find(fd);
    if (found == m_clients.end() || found->second->answering || found->second->requests.empty()) {
        return;
    }
    found->second->answering = true;
    m_view.when_settled([this, fd] {
        const auto still = m_clients.find(fd);
        if (still == m_clients.end()) {
            return;
        }
        client& held = *still->second;
        held.answering = false;
        const std::string request = std::move(held.requests.front());
        held.requests.pop_front();
        std::string out;
        m_guard([&] { out = answer(request); });
        out += '\n';
        // The test reads as it asks: a blocking write of a short answer is fine,
        // and a client that stopped reading is dropped rather than waited for.
        for (std::size_t written = 0; written < out.size();) {
            const ssize_t put = ::send(fd, out.data() + written, out.size() - written, MSG_NOSIGNAL);
            if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
                ::usleep(1000);
                continue;
            }
            if (put <= 0) {
                drop_client(fd);
                return;
            }
            written += std::size_t(put);
        }
        answer_next(fd);
    });
}

std::string window_reader::answer(const std::string& request) const {
    const std::size_t space = request.find(' ');
    const std::string command = request.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : request.substr(space + 1);

    const auto record = [&](layout::handle element, std::string& out) {
        if (!element) {
            out += "null";
            return;
        }
        out += "{\"serial\":" + std::to_string(layout::serial_of(element)) + ",\"tag\":";
        append_json_string(out, layout::element_type(element));
        out += ",\"id\":";
        append_json_string(out, layout::get_attribute_utf8(element, "id").value_or(""));
        out += ",\"class\":";
        append_json_string(out, layout::get_attribute_utf8(element, "class").value_or(""));
        out += ",\"state\":";
        append_json_string(out, layout::state_names(layout::get_state(element)));
        const layout::handle row = layout::closest(element, "tr");
        out += ",\"row\":";
        append_json_string(out, row ? layout::state_names(layout::get_state(row)) : "");
        out += ",\"text\":";
        append_json_string(out, layout::get_inner_text_utf8(element).value_or(""));
        out += ",\"attributes\":{";
        for (std::size_t i = 0, count = layout::attribute_count(element); i < count; ++i) {
            if (const auto attribute = layout::nth_attribute(element, i)) {
                out += i == 0 ? "" : ",";
                append_json_string(out, attribute->first);
                out += ':';
                append_json_string(out, QString::fromStdU16String(attribute->second)
                                            .toStdString());
            }
        }
        out += "},\"box\":";
        if (const auto box = m_view.box(layout::serial_of(element))) {
            out += "[" + std::to_string(box->x()) + "," + std::to_string(box->y()) + "," +
                   std::to_string(box->width()) + "," + std::to_string(box->height()) + "]";
        } else {
            out += "null";
        }
        out += m_view.ring(layout::serial_of(element)) ? ",\"ring\":true}" : ",\"ring\":false}";
    };

    std::string out;
    if (command == "query") {
        out += '[';
        bool first = true;
        const bool valid = layout::select_elements(
            m_document.root(), argument, [&](layout::handle element) {
                out += first ? "" : ",";
                first = false;
                record(element, out);
                return false;  // every match
            });
        if (!valid) {
            return error_answer("not a selector: " + argument);
        }
        return out + ']';
    }
    if (command == "focus") {
        record(m_document.focus(), out);
        return out;
    }
    if (command == "at") {
        int x = 0;
        int y = 0;
        if (std::sscanf(argument.c_str(), "%d %d", &x, &y) != 2) {
            return error_answer("not a point: " + argument);
        }
        record(m_document.element_by_serial(m_view.element_at(QPoint(x, y))), out);
        return out;
    }
    if (command == "popups") {
        out += '[';
        bool first = true;
        for (const layout::handle popup : m_document.open_popups()) {
            out += first ? "" : ",";
            first = false;
            record(popup, out);
        }
        return out + ']';
    }
    if (command == "list") {
        const layout::handle list = layout::find_first(m_document.root(), argument);
        if (!list) {
            return error_answer("no list " + argument);
        }
        const layout::row_range held = layout::held_rows(list);
        const auto [first_shown, shown] = m_view.quotes_shown();
        return "{\"count\":" + std::to_string(layout::row_count(list)) +
               ",\"first_held\":" + std::to_string(held.first) +
               ",\"held\":" + std::to_string(held.last - held.first) +
               ",\"first_shown\":" + std::to_string(first_shown) +
               ",\"shown\":" + std::to_string(shown) + "}";
    }
    if (command == "cursor") {
        std::string out;
        append_json_string(out, m_view.cursor ? m_view.cursor() : "default");
        return out;
    }
    if (command == "paints") {
        return m_view.paints ? m_view.paints() : "[]";
    }
    if (command == "shot") {
        return m_view.save_picture(QString::fromStdString(argument)) ? "true" : "false";
    }
    return error_answer("unknown request: " + command);
}

}  // namespace hrd::qt
