#pragma once
// The window's document laid out and painted in this process, without a browser
// engine: the document is written out as HTML (layout/render_markup.h) with the
// program's style sheets and laid out by litehtml at the widget's size, then
// painted with QPainter. Input goes back into the document through the same entry
// points the web page uses (page_bridge.h): mouse and key input with the element
// under the pointer found by hit testing, and the boxes the behaviors measure.
//
// The quote list is scrolled by rows: the view holds a window of rows from a
// first row on, as the web page asks for the rows it shows; within a row taller
// than the pane the wheel moves by lines. The tag list, whose rows are all
// elements, scrolls by pixels.
//
// The window is laid out by parts, each a litehtml document of its own: the chrome
// (everything but the quote rows shown and the open menus), each quote row shown,
// and each open menu. A part whose markup did not change keeps its layout, so a
// change to one row (or a new row on top) lays out that row alone; the rows are
// stacked down the quote pane, and the menus painted on top.
//
// With HOARDLY_PROBE set to a folder, every layout also writes what was laid out
// there (native-layout.txt: one line per element shown), the picture (native.png)
// and the markup laid out (native.html), for tests and for comparing with the web
// renderer.

#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>
#include <string>
#include <unordered_map>

#include "layout/document.h"
#include "shell/platform/qt/document_pump.h"
#include "layout/patch.h"

namespace litehtml {
class document;
class context;
class css;
class element;
}  // namespace litehtml

namespace hrd::qt {

class native_container;

class native_view final : public QWidget, public layout::patch_observer {
    // A class of its own to Qt, so accessibility finds its interface
    // (native_accessible.h) before the plain widget's.
    Q_OBJECT

public:
    using guard_function = std::function<void(const std::function<void()>&)>;

    // `style_sheets`: the text of the document's style sheets, in order.
    native_view(layout::document& document, guard_function guard, std::string style_sheets,
                QWidget* parent = nullptr);
    ~native_view() override;

    // Runs the document's posted events and due timers soon, from the loop.
    void schedule_pending() { m_pump.schedule_pending(); }
    // How many times the document was laid out; for tests and the log.
    std::uint64_t layouts() const { return m_layouts; }
    // How many documents were made for quote rows, and for the chrome; for tests.
    std::uint64_t rows_made() const { return m_rows_made; }
    std::uint64_t chromes_made() const { return m_chromes_made; }

    // For the test reading channel (window_reader.h): where an element was laid
    // out on screen (nullopt: not laid out; it may lie outside the view), whether
    // it has a ring, a function run once the document's changes so far are laid
    // out, the quote list's first row shown with the count of rows shown whole,
    // and a picture of the view saved to a file.
    std::optional<QRect> box_on_screen(std::uint32_t serial) const;
    bool draws_ring(std::uint32_t serial) const;  // a focus or current-row ring
    // The serial of the document element under (x, y) of the view; 0: none.
    std::uint32_t element_at(int x, int y) const;
    void when_settled(std::function<void()> then);
    std::pair<std::size_t, std::size_t> quotes_shown() const {
        return {m_first_quote, m_quotes_shown};
    }
    // The frames painted, for timing them from outside (a start, a capture): each
    // new layout's first paint, with the quote list's length then and the wall
    // clock (milliseconds since the epoch) when it was done. Kept only once asked
    // for, the last few hundred.
    struct paint_record {
        std::uint64_t layout = 0;
        std::size_t quotes = 0;
        double done_ms = 0;
    };
    void keep_paint_records() { m_keep_paints = true; }
    const std::deque<paint_record>& paint_records() const { return m_paints; }
    // The quote list's scroll bar (hidden while every row fits).
    const QScrollBar& quote_bar() const { return *m_quote_bar; }
    bool save_picture(const QString& path);

    // For accessibility (native_accessible.h), which reads the same document: it
    // hears of every change and of every layout through a watcher, acts as the
    // user would, and runs its changes through the same guard as input.
    class watcher {
    public:
        virtual void changed(const layout::patch& change) = 0;
        virtual void laid_out() = 0;
        virtual void view_gone() = 0;  // the view is being destroyed

    protected:
        ~watcher() = default;
    };
    void set_watcher(watcher* w) { m_watcher = w; }
    layout::document& document() const { return m_document; }
    void guarded(const std::function<void()>& work) { m_guard(work); }
    // Presses and releases the main button over the element, as a click would;
    // false when it is not laid out.
    bool click(std::uint32_t serial);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Text from an input method (composed characters, a CJK or emoji picker) goes
    // to the element being edited as typed characters do.
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; }  // Tab is the document's

private:
    void on_patch(const layout::patch& change) override;
    bool wants_markup() const override { return false; }
    void schedule_layout();
    void relayout();
    // Lays the document out as far as the quote rows laid out fill the pane.
    void lay_out();
    // One layout; false when it laid out too few quote rows to fill the pane.
    bool layout_once();
    void mouse(QMouseEvent* event, std::uint32_t cmd);
    void key(QKeyEvent* event, std::uint32_t cmd);
    // Tells the document the boxes around `serial` (itself, its ancestors and their
    // siblings), as the web page does with each press.
    void report_boxes(std::uint32_t serial);
    void scroll_quotes(int rows);
    // One notch of the wheel over the quotes: down (1) or up (-1).
    void wheel_quotes(int notch);
    void scroll_quotes_to(std::size_t first);
    // Puts the scroll bars beside their panes with the ranges last laid out.
    void place_scroll_bars();
    // The pointer's shape for the element at this point of the view.
    void update_cursor(QPoint at);
    // Marks the element with this serial (0: none) and its ancestors hovered.
    void hover(std::uint32_t serial);
    void write_probe();
    void paint_outlines(QPainter& painter);

    // A part of the window laid out as a document of its own.
    struct region {
        std::shared_ptr<litehtml::document> html;
        QPoint offset;   // where its document's origin stands in the view
        int height = 0;  // a quote row's: the room it takes down the pane
        std::uint32_t serial = 0;  // the element it lays out; 0: the chrome
    };
    // An element laid out, and where its region stands.
    struct shown_element {
        std::weak_ptr<litehtml::element> element;
        QPoint offset;
    };
    // Adds `from` and all it holds to m_elements.
    void add_elements(const std::shared_ptr<litehtml::element>& from, QPoint offset);
    // The element with this serial in a document, or nullptr.
    static std::shared_ptr<litehtml::element> find_in(litehtml::document& html,
                                                      std::uint32_t serial);
    // An element's boxes in the view (see border_box and laid_out_box in the .cpp);
    // empty when it is not laid out.
    QRect border_box_of(std::uint32_t serial) const;
    QRect laid_out_box_of(std::uint32_t serial) const;
    QRect box_in_view(std::uint32_t serial, QRect (*measure)(const litehtml::element&)) const;
    // The region under (x, y): its document and where it stands.
    const region* region_at(int x, int y) const;

    layout::document& m_document;
    guard_function m_guard;
    std::string m_style_sheets;
    std::unique_ptr<native_container> m_container;
    std::unique_ptr<litehtml::context> m_context;
    std::unique_ptr<litehtml::css> m_sheets;  // m_style_sheets as read
    region m_chrome;
    std::string m_chrome_markup;  // what it was laid out from
    // The quote rows shown, top down, and the open menus, in the order opened.
    std::vector<region> m_rows;
    std::vector<region> m_menus;
    // Row documents by the row's markup, as laid out inside m_row_frame; menus'
    // by their whole markup. Parts not shown by the last layout are dropped.
    std::string m_row_frame;
    std::unordered_map<std::string, region> m_row_cache;
    std::unordered_map<std::string, region> m_menu_cache;
    // The quote list holds no rows in the chrome: its box is its rows'.
    std::uint32_t m_list_serial = 0;
    QRect m_list_box;
    // The quote pane's box, and the part of it that shows rows (within its padding).
    QRect m_pane_box;
    QRect m_pane_clip;
    std::uint64_t m_rows_made = 0;
    std::uint64_t m_chromes_made = 0;
    std::unordered_map<std::uint32_t, shown_element> m_elements;  // by serial
    std::map<std::uint32_t, std::pair<int, int>> m_popups;  // open pop-ups: where, by serial
    std::size_t m_first_quote = 0;  // the quote list's first row shown
    std::uint32_t m_first_row = 0;  // its element, as last laid out; 0: none
    // How far the first row shown is scrolled up past the pane's top, in pixels: a
    // row taller than the pane is read through by the wheel a few lines at a time.
    int m_first_offset = 0;
    std::size_t m_laid_first_quote = 0;  // the first row, as last laid out
    std::uint32_t m_offset_row = 0;      // the row the offset was scrolled in
    bool m_enter_from_bottom = false;    // the wheel went up into the row above
    int m_rows_top = 0;           // where the rows begin in each row's own layout
    static constexpr std::size_t min_rows_to_lay = 8;
    std::size_t m_rows_to_lay = min_rows_to_lay;  // quote rows laid out from the first on
    std::size_t m_rows_laid_end = 0;   // one past the last row laid out
    std::size_t m_quotes_shown = 1;  // rows the pane showed whole, as last laid out
    int m_last_quote_gap = 0;  // room below the list's last row, when laid out
    int m_tags_offset = 0;     // how far the tag list is scrolled, in pixels
    int m_tags_room = 0;       // how far it may scroll, as last laid out
    std::uint32_t m_hovered = 0;  // the element under the pointer
    std::uint32_t m_focus_told = 0;  // the focused element the input method knows of
    QScrollBar* m_quote_bar;  // in rows
    QScrollBar* m_tag_bar;    // in pixels
    bool m_placing_bars = false;  // their changes come from the layout, not the user
    int m_tools_left = 530;         // where the search tools start, as last laid out
    bool m_layout_pending = false;
    std::vector<std::function<void()>> m_when_settled;
    document_pump m_pump;
    std::uint64_t m_layouts = 0;
    std::size_t m_quotes_laid_out = 0;  // the quote list's length, as last laid out
    bool m_keep_paints = false;
    std::deque<paint_record> m_paints;
    QString m_probe;  // HOARDLY_PROBE's folder, or empty
    std::string m_markup;  // what was laid out last, kept for the probe only
    watcher* m_watcher = nullptr;
};

}  // namespace hrd::qt
