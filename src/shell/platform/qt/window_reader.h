#pragma once
// A channel for end-to-end tests to read the window as the program itself holds
// it: the element tree, its states and texts, and where each element was laid out
// on screen. Off unless HOARDLY_TEST_SOCKET names a socket path; nothing in it changes
// the document.
//
// A client writes one request a line and reads one answer a line, in order:
//   query <selector>  the elements matching <selector> (the tree's own selectors),
//                     as a JSON array of {serial, tag, id, class, state, row, text,
//                     attributes, box, ring}: `state` the element's state names, `row` those
//                     of the table row around it, `box` [x, y, width, height] on
//                     screen (outside the window for an element scrolled or
//                     clipped away) or null when the element is not laid out,
//                     `ring` whether a focus ring is drawn around it
//   focus             the focused element's record, or null
//   popups            the open pop-ups' records, outermost first
//   at <x> <y>        the record of the element under that point of the screen, or null
//   list <selector>   a long list's rows: {count, first_held, held, first_shown, shown}
//   shot <path>       saves a picture of the window there; answers true or false
//   cursor            the pointer's shape over the window, as a CSS cursor name
//   paints            the frames painted lately, oldest first: [layout, quotes, done]
//                     for each new layout's first paint, with the quote list's length
//                     and the wall clock in milliseconds since the epoch
// Every answer waits until changes made so far are laid out, so a read follows
// the input that came before it. A request it cannot read answers {"error": ...}.

#include <QObject>
#include <QRect>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "layout/document.h"

class QSocketNotifier;

namespace hrd::qt {

// What the channel needs of the renderer.
struct read_view {
    // Where the element with this serial was laid out, in screen coordinates;
    // nullopt when it is not laid out.
    std::function<std::optional<QRect>(std::uint32_t serial)> box;
    // The serial of the element under a point of the screen; 0: none.
    std::function<std::uint32_t(QPoint)> element_at;
    // Whether a ring (focus, current row) is drawn around it.
    std::function<bool(std::uint32_t serial)> ring;
    // Runs the function once the document's changes so far are laid out.
    std::function<void(std::function<void()>)> when_settled;
    // The first row of a long list shown, and how many rows show whole.
    std::function<std::pair<std::size_t, std::size_t>()> quotes_shown;
    // The pointer's shape over the window, as a CSS cursor name ("default", "copy").
    std::function<std::string()> cursor;
    // The renderer's paint records, as the `paints` request gives them (JSON).
    std::function<std::string()> paints;
    // Saves a picture of the window to the path; false when it cannot.
    std::function<bool(const QString& path)> save_picture;
};

class window_reader final : public QObject {
public:
    // Listens at `socket_path` (replacing a stale socket file there). Throws
    // std::runtime_error when it cannot.
    window_reader(layout::document& document, read_view view, const QString& socket_path,
                       std::function<void(const std::function<void()>&)> guard);
    ~window_reader() override;

    // The answer to one request line, for the channel and for unit tests.
    std::string answer(const std::string& request) const;

private:
    struct client;
    void accept_client();
    void read_client(int fd);
    void drop_client(int fd);
    void answer_next(int fd);

    layout::document& m_document;
    read_view m_view;
    std::function<void(const std::function<void()>&)> m_guard;
    QString m_path;
    int m_listener = -1;
    std::unique_ptr<QSocketNotifier> m_accepting;
    std::map<int, std::unique_ptr<client>> m_clients;
};

}  // namespace hrd::qt
