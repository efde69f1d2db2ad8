#include "shell/platform/qt/native_view.h"

#include <litehtml.h>

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QInputMethod>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPainterPath>
#include <QSaveFile>
#include <QWheelEvent>
#include <chrono>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <limits>
#include <vector>

#include "fml/log.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/render_markup.h"
#include "shell/platform/qt/native_accessible.h"

namespace hrd::qt {

namespace {

QColor to_qt(const litehtml::web_color& color) {
    return QColor(color.red, color.green, color.blue, color.alpha);
}

QRect to_qt(const litehtml::position& pos) {
    return QRect(pos.x, pos.y, pos.width, pos.height);
}

QString to_qt(const char* text) {
    return QString::fromUtf8(text);
}

// The Windows virtual-key number the engine knows a key by (as the web page's
// keyCode), or 0 for a key the document does not hear of.
std::uint32_t virtual_key(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return std::uint32_t('A' + (key - Qt::Key_A));
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return std::uint32_t('0' + (key - Qt::Key_0));
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return std::uint32_t(0x70 + (key - Qt::Key_F1));
    }
    switch (key) {
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Shift: return 16;
        case Qt::Key_Control: return 17;
        case Qt::Key_Alt: return 18;
        case Qt::Key_Escape: return 27;
        case Qt::Key_Space: return 32;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        case Qt::Key_Insert: return 45;
        case Qt::Key_Delete: return 46;
        case Qt::Key_Menu: return 93;
        default: return 0;
    }
}

std::uint32_t key_states(Qt::KeyboardModifiers modifiers) {
    return (modifiers & Qt::ControlModifier ? std::uint32_t(layout::key_state::control) : 0u) |
           (modifiers & Qt::ShiftModifier ? std::uint32_t(layout::key_state::shift) : 0u) |
           (modifiers & Qt::AltModifier ? std::uint32_t(layout::key_state::alt) : 0u);
}

std::uint32_t mouse_buttons(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton ? std::uint32_t(layout::mouse_button::main) : 0u) |
           (buttons & Qt::RightButton ? std::uint32_t(layout::mouse_button::secondary) : 0u) |
           (buttons & Qt::MiddleButton ? std::uint32_t(layout::mouse_button::middle) : 0u);
}

std::uint32_t serial_attribute(const litehtml::element* element) {
    const char* serial = element ? element->get_attr("data-serial") : nullptr;
    return serial ? std::uint32_t(std::strtoul(serial, nullptr, 10)) : 0;
}

// The box an element takes on screen, border included.
QRect border_box(const litehtml::element& element) {
    const litehtml::position pos = element.get_placement();
    return QRect(pos.x, pos.y, pos.width, pos.height)
        .marginsAdded(QMargins(element.padding_left() + element.border_left(),
                               element.padding_top() + element.border_top(),
                               element.padding_right() + element.border_right(),
                               element.padding_bottom() + element.border_bottom()));
}

// The box an element was laid out in. A table row has no box of its own in
// litehtml: its cells have.
QRect laid_out_box(const litehtml::element& element) {
    QRect box = border_box(element);
    for (std::size_t i = 0; box.isEmpty() && i < element.get_children_count(); ++i) {
        box = box.united(border_box(*element.get_child(int(i))));
    }
    return box;
}

// litehtml takes media features it does not know for true, so the dark scheme's
// rules would always apply: they are kept (unwrapped) for a dark desktop and cut
// for a light one.
std::string for_color_scheme(std::string sheets, bool dark) {
    const std::string opening = "@media (prefers-color-scheme: dark)";
    for (std::size_t at = sheets.find(opening); at != std::string::npos;
         at = sheets.find(opening, at)) {
        const std::size_t open = sheets.find('{', at);
        if (open == std::string::npos) {
            break;
        }
        std::size_t close = open + 1;
        for (int depth = 1; close < sheets.size() && depth > 0; ++close) {
            depth += sheets[close] == '{' ? 1 : sheets[close] == '}' ? -1 : 0;
        }
        if (dark) {
            sheets.erase(close - 1, 1);
            sheets.erase(at, open + 1 - at);
        } else {
            sheets.erase(at, close - at);
        }
    }
    return sheets;
}

// Pseudo-classes litehtml does not match, as marks the markup carries instead:
// the element under the pointer is marked in the tree (see native_view::hover),
// and an element with no content is marked as it is written out.
std::string with_pseudo_class_marks(std::string sheets) {
    for (const auto& [pseudo, mark] : {std::pair<std::string, std::string>{":hover", "[data-state~=\"hover\"]"},
                                       {":empty", "[data-empty]"}}) {
        for (std::size_t at = sheets.find(pseudo); at != std::string::npos;
             at = sheets.find(pseudo, at + mark.size())) {
            sheets.replace(at, pseudo.size(), mark);
        }
    }
    return sheets;
}

constexpr int toolbar_height = 61;  // its padding, its content and its border
constexpr int statusbar_height = 25;

}  // namespace

// What litehtml asks of its surroundings: fonts, text, backgrounds and borders on
// the painter of the paint in progress.
class native_container final : public litehtml::document_container {
public:
    explicit native_container(native_view& view) : m_view(view) {}

    QPainter* painter = nullptr;  // during a paint
    // What a part is painted within (a quote row: its band of the pane); empty: the
    // whole view. Only the chrome paints the page's background: a part is painted
    // over it.
    QRect base_clip;
    bool paint_root = true;

    // Each layout is a new litehtml document, which asks for its fonts again:
    // they are kept from one to the next, as finding a font and its metrics is
    // most of a layout's time.
    litehtml::uint_ptr create_font(const char* face_name, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override {
        const font_key key{face_name ? face_name : "", size, weight, int(italic), decoration};
        auto found = m_fonts.find(key);
        if (found == m_fonts.end()) {
            found = m_fonts.emplace(key, make_font(face_name, size, weight, italic, decoration)).first;
        }
        if (fm) {
            *fm = found->second.layout_metrics;
        }
        return reinterpret_cast<litehtml::uint_ptr>(&found->second);
    }
    void delete_font(litehtml::uint_ptr) override {}  // kept for the next layout

    struct held_font {
        QFont font;
        QFontMetrics metrics;
        litehtml::font_metrics layout_metrics{};
    };
    static const held_font& of(litehtml::uint_ptr font) {
        return *reinterpret_cast<const held_font*>(font);
    }
    static held_font make_font(const char* face_name, int size, int weight,
                               litehtml::font_style italic, unsigned int decoration) {
        QFont font;
        QStringList families;
        for (const QString& name : to_qt(face_name).split(',')) {
            QString family = name.trimmed();
            family.remove('"').remove('\'');
            if (family == "system-ui" || family == "sans-serif") {
                family = "DejaVu Sans";
            }
            if (!family.isEmpty()) {
                families << family;
            }
        }
        font.setFamilies(families);
        font.setPixelSize(std::max(1, size));
        font.setWeight(QFont::Weight(std::clamp(weight, 100, 900)));
        font.setItalic(italic == litehtml::fontStyleItalic);
        font.setUnderline(decoration & litehtml::font_decoration_underline);
        font.setStrikeOut(decoration & litehtml::font_decoration_linethrough);
        held_font held{font, QFontMetrics(font), {}};
        held.layout_metrics.ascent = held.metrics.ascent();
        held.layout_metrics.descent = held.metrics.descent();
        held.layout_metrics.height = held.metrics.height();
        held.layout_metrics.x_height = held.metrics.xHeight();
        held.layout_metrics.draw_spaces = italic == litehtml::fontStyleItalic || decoration != 0;
        return held;
    }
    int text_width(const char* text, litehtml::uint_ptr font) override {
        return of(font).metrics.horizontalAdvance(to_qt(text));
    }
    void draw_text(litehtml::uint_ptr, const char* text, litehtml::uint_ptr font,
                   litehtml::web_color color, const litehtml::position& pos) override {
        if (!painter) {
            return;
        }
        const held_font& held = of(font);
        painter->setFont(held.font);
        painter->setPen(to_qt(color));
        painter->drawText(pos.x, pos.y + held.metrics.ascent(), to_qt(text));
        m_texts.push_back(to_qt(text));
    }
    int pt_to_px(int pt) const override { return pt * 96 / 72; }
    int get_default_font_size() const override { return 14; }
    const char* get_default_font_name() const override { return "DejaVu Sans"; }
    void draw_list_marker(litehtml::uint_ptr, const litehtml::list_marker&) override {}
    void load_image(const char*, const char*, bool) override {}
    void get_image_size(const char*, const char*, litehtml::size& size) override {
        size.width = 0;
        size.height = 0;
    }
    void draw_background(litehtml::uint_ptr, const litehtml::background_paint& bg) override {
        if (!painter || bg.color.alpha == 0 || (bg.is_root && !paint_root)) {
            return;
        }
        const litehtml::border_radiuses& r = bg.border_radius;
        const QRect box = to_qt(bg.border_box).intersected(to_qt(bg.clip_box));
        if (r.top_left_x > 0) {
            QPainterPath path;
            path.addRoundedRect(box, r.top_left_x, r.top_left_y);
            painter->fillPath(path, to_qt(bg.color));
        } else {
            painter->fillRect(box, to_qt(bg.color));
        }
    }
    void draw_borders(litehtml::uint_ptr, const litehtml::borders& borders,
                      const litehtml::position& pos, bool) override {
        if (!painter) {
            return;
        }
        const QRect box = to_qt(pos);
        const auto pen_style = [](litehtml::border_style style) {
            return style == litehtml::border_style_dashed   ? Qt::DashLine
                   : style == litehtml::border_style_dotted ? Qt::DotLine
                                                            : Qt::SolidLine;
        };
        const auto shown = [](const litehtml::border& border) {
            return border.width > 0 && border.style != litehtml::border_style_none &&
                   border.style != litehtml::border_style_hidden;
        };
        const bool round = borders.radius.top_left_x > 0 && shown(borders.top) &&
                           borders.top.width == borders.left.width &&
                           borders.top.style == borders.left.style;
        if (round) {
            QPainterPath path;
            const qreal half = borders.top.width / 2.0;
            path.addRoundedRect(QRectF(box).adjusted(half, half, -half, -half),
                                borders.radius.top_left_x, borders.radius.top_left_y);
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(QPen(to_qt(borders.top.color), borders.top.width,
                                 pen_style(borders.top.style)));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(path);
            painter->restore();
            return;
        }
        // Each side as a line along the middle of its width.
        const auto side = [&](const litehtml::border& border, QLineF line) {
            if (shown(border)) {
                painter->save();
                painter->setPen(QPen(to_qt(border.color), border.width, pen_style(border.style),
                                     Qt::FlatCap));
                painter->drawLine(line);
                painter->restore();
            }
        };
        const QRectF outer(box);
        const qreal top = outer.top() + borders.top.width / 2.0;
        const qreal bottom = outer.bottom() - borders.bottom.width / 2.0;
        const qreal left = outer.left() + borders.left.width / 2.0;
        const qreal right = outer.right() - borders.right.width / 2.0;
        side(borders.top, QLineF(outer.left(), top, outer.right(), top));
        side(borders.bottom, QLineF(outer.left(), bottom, outer.right(), bottom));
        side(borders.left, QLineF(left, outer.top(), left, outer.bottom()));
        side(borders.right, QLineF(right, outer.top(), right, outer.bottom()));
    }
    void set_caption(const char*) override {}
    void set_base_url(const char*) override {}
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const char*, const litehtml::element::ptr&) override {}
    void set_cursor(const char* cursor) override { m_cursor = cursor ? cursor : ""; }
    void transform_text(litehtml::tstring& text, litehtml::text_transform transform) override {
        QString value = to_qt(text.c_str());
        if (transform == litehtml::text_transform_uppercase) {
            value = value.toUpper();
        } else if (transform == litehtml::text_transform_lowercase) {
            value = value.toLower();
        }
        text = value.toStdString();
    }
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool,
                  bool) override {
        QRect clip = to_qt(pos);
        if (!m_clips.empty()) {
            clip = clip.intersected(m_clips.back());
        } else if (!base_clip.isEmpty()) {
            clip = clip.intersected(base_clip);
        }
        m_clips.push_back(clip);
        if (painter) {
            painter->setClipRect(clip);
        }
    }
    void del_clip() override {
        if (!m_clips.empty()) {
            m_clips.pop_back();
        }
        if (painter) {
            if (m_clips.empty() && base_clip.isEmpty()) {
                painter->setClipping(false);
            } else if (m_clips.empty()) {
                painter->setClipRect(base_clip);
            } else {
                painter->setClipRect(m_clips.back());
            }
        }
    }
    void get_client_rect(litehtml::position& client) const override {
        client = litehtml::position(0, 0, m_view.width(), m_view.height());
    }
    std::shared_ptr<litehtml::element> create_element(
        const char*, const litehtml::string_map&,
        const std::shared_ptr<litehtml::document>&) override {
        return nullptr;
    }
    void get_media_features(litehtml::media_features& media) const override {
        media.type = litehtml::media_type_screen;
        media.width = m_view.width();
        media.height = m_view.height();
        media.device_width = m_view.width();
        media.device_height = m_view.height();
        media.color = 8;
        media.monochrome = 0;
        media.color_index = 256;
        media.resolution = 96;
    }
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "en";
        culture = "";
    }

    const std::string& cursor() const { return m_cursor; }
    // The texts drawn by the last paint, in order.
    std::vector<QString> take_texts() { return std::exchange(m_texts, {}); }

private:
    native_view& m_view;
    using font_key = std::tuple<std::string, int, int, int, unsigned int>;
    std::map<font_key, held_font> m_fonts;  // std::map: its entries never move
    std::vector<QRect> m_clips;
    std::vector<QString> m_texts;
    std::string m_cursor;
};

native_view::native_view(layout::document& document, guard_function guard,
                         std::string style_sheets, QWidget* parent)
    : QWidget(parent),
      m_document(document),
      m_guard(std::move(guard)),
      m_style_sheets(with_pseudo_class_marks(for_color_scheme(
          std::move(style_sheets), palette().color(QPalette::Window).lightness() < 128))),
      m_container(std::make_unique<native_container>(*this)),
      m_context(std::make_unique<litehtml::context>()),
      m_sheets(std::make_unique<litehtml::css>()),
      m_pump(document, m_guard),
      m_probe(qEnvironmentVariable("HOARDLY_PROBE")) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The lists scroll as a page does, with a bar each; the document keeps the
    // keyboard, so the bars take no focus.
    m_quote_bar = new QScrollBar(Qt::Vertical, this);
    m_tag_bar = new QScrollBar(Qt::Vertical, this);
    for (QScrollBar* bar : {m_quote_bar, m_tag_bar}) {
        bar->setFocusPolicy(Qt::NoFocus);
        bar->hide();
    }
    connect(m_quote_bar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_placing_bars && std::size_t(value) != m_first_quote) {
            scroll_quotes_to(std::size_t(value));
            schedule_layout();
        }
    });
    connect(m_tag_bar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_placing_bars && value != m_tags_offset) {
            m_tags_offset = value;
            schedule_layout();
        }
    });
    // The sheets are read once, for every document laid out: each part's document
    // would read them again from its head.
    const litehtml::document::ptr reader = litehtml::document::createFromString(
        "<html></html>", m_container.get(), m_context.get());
    m_sheets->parse_stylesheet(m_style_sheets.c_str(), "", reader, nullptr);
    m_sheets->sort_selectors();
    m_document.set_observer(this);
    install_native_accessibility();
    schedule_layout();
}

native_view::~native_view() {
    if (m_watcher) {
        m_watcher->view_gone();
    }
    m_document.set_observer(nullptr);
    m_elements.clear();
    m_rows.clear();
    m_menus.clear();
    m_row_cache.clear();
    m_menu_cache.clear();
    m_chrome = {};
}

void native_view::on_patch(const layout::patch& change) {
    if (m_watcher) {
        m_watcher->changed(change);
    }
    switch (change.kind) {
        case layout::patch_kind::show_popup:
            m_popups[change.node] = {change.pos.x, change.pos.y};
            break;
        case layout::patch_kind::hide_popup:
            m_popups.erase(change.node);
            break;
        case layout::patch_kind::rows:
            if (change.state & 1) {
                scroll_quotes_to(0);  // the list starts afresh at its top
            }
            break;
        case layout::patch_kind::scroll_to_view: {
            const layout::handle element = m_document.element_by_serial(change.node);
            const layout::handle list = layout::find_first(m_document.root(), "#thequotelist");
            if (element && list && layout::parent(element) == list) {
                if (const auto index = layout::row_index(list, element)) {
                    // A row above the view comes to the top; one below it, to the
                    // bottom, as far as the rows last shown tell how many fit.
                    if (*index < m_first_quote || (change.state & 1)) {
                        scroll_quotes_to(*index);
                    } else if (*index >= m_first_quote + m_quotes_shown) {
                        scroll_quotes_to(*index + 1 - m_quotes_shown);
                    }
                }
            }
            break;
        }
        default:
            break;
    }
    schedule_layout();
}

void native_view::schedule_layout() {
    if (m_layout_pending) {
        return;
    }
    m_layout_pending = true;
    // Changes of one turn of the loop are laid out together.
    QTimer::singleShot(0, this, [this] { m_guard([this] { relayout(); }); });
}

void native_view::relayout() {
    m_layout_pending = false;
    // The row shown first stays first while rows come and go around it (a capture
    // lands on top while the user reads further down), as a scrolled page keeps
    // what is in view where it is.
    const layout::handle quotes = layout::find_first(m_document.root(), "#thequotelist");
    if (const layout::handle first = m_document.element_by_serial(m_first_row); first && quotes) {
        if (const auto index = layout::row_index(quotes, first)) {
            m_first_quote = *index;
        }
    }
    lay_out();
    if (std::exchange(m_enter_from_bottom, false) && !m_rows.empty() &&
        m_rows.front().height > m_pane_clip.height()) {
        m_first_offset = m_rows.front().height - m_pane_clip.height();
        m_offset_row = m_rows.front().serial;
        lay_out();
    }
    // Near the end of the quote list, as many rows come back into view as fit above
    // the last one, as a scrolled page never shows room past its end.
    for (int round = 0; round < 40 && m_first_quote > 0 && m_last_quote_gap > 0; ++round) {
        --m_first_quote;
        m_first_offset = 0;
        lay_out();
        if (m_last_quote_gap < 0) {
            ++m_first_quote;
            lay_out();
            break;
        }
    }
    // At the very top the list stays at its top: what arrives there is shown.
    const layout::handle first = quotes && layout::is_long_list(quotes) && m_first_quote > 0
                                     ? layout::row_at(quotes, m_first_quote)
                                     : nullptr;
    m_first_row = first ? layout::serial_of(first) : 0;
    m_quotes_laid_out = quotes ? layout::row_count(quotes) : 0;
    if (m_layouts == 0) {
        // Told once the start's own lines are written, not among them.
        fml::app_line("The window is painted by the program itself (native renderer)");
    }
    ++m_layouts;
    place_scroll_bars();
    // The pointer's shape follows the document under it (a drag ends, a row
    // arrives beneath it) without waiting for it to move.
    if (underMouse()) {
        update_cursor(mapFromGlobal(QCursor::pos()));
    }
    // An input method asks whether it may compose text when the widget takes the
    // focus; within the window the focus moves between elements, which it is told.
    const std::uint32_t focus = layout::serial_of(m_document.focus());
    if (focus != m_focus_told && hasFocus()) {
        m_focus_told = focus;
        QGuiApplication::inputMethod()->update(Qt::ImEnabled | Qt::ImCursorRectangle);
    }
    update();
    for (auto& then : std::exchange(m_when_settled, {})) {
        then();
    }
    if (m_watcher) {
        m_watcher->laid_out();
    }
    if (!m_probe.isEmpty()) {
        QTimer::singleShot(0, this, [this] { m_guard([this] { write_probe(); }); });
    }
}

void native_view::lay_out() {
    for (int tries = 0; !layout_once() && tries < 8; ++tries) {
    }
}

bool native_view::layout_once() {
    const int w = std::max(width(), 420);
    const int h = std::max(height(), 300);
    const layout::handle root = m_document.root();
    layout::render_markup_options options;
    options.mark_empty = true;
    options.keep_words_whole = true;
    const layout::handle quotes = layout::find_first(root, "#thequotelist");
    if (quotes && layout::is_long_list(quotes)) {
        const std::size_t count = layout::row_count(quotes);
        m_first_quote = count == 0 ? 0 : std::min(m_first_quote, count - 1);
        const layout::row_range held = layout::held_rows(quotes);
        // Enough rows for the tallest window; rows past the bottom are clipped.
        const std::size_t wanted = std::size_t(h / 24 + 2);
        if (held.first != m_first_quote ||
            held.last < std::min(count, m_first_quote + wanted)) {
            m_document.set_observer(nullptr);  // its own rows' patches: laid out now
            layout::hold_rows(quotes, m_first_quote, layout::default_held_rows);
            m_document.set_observer(this);
        }
        // Only the rows that may show are laid out: the list holds more (rows
        // above the first one shown, as it keeps its window full near the end, and
        // rows below the pane), and each row is many elements to lay out.
        const layout::row_range now_held = layout::held_rows(quotes);
        m_rows_laid_end = std::min(now_held.last, m_first_quote + m_rows_to_lay);
        for (std::size_t i = now_held.first; i < now_held.last; ++i) {
            if (i < m_first_quote || i >= m_rows_laid_end) {
                options.left_out.insert(layout::serial_of(layout::row_at(quotes, i)));
            }
        }
    }
    // Closed menus are not laid out at all.
    const std::vector<layout::handle> open = m_document.open_popups();
    layout::select_elements(root, "menu.popup", [&](layout::handle menu) {
        if (std::find(open.begin(), open.end(), menu) == open.end()) {
            options.left_out.insert(layout::serial_of(menu));
        }
        return false;
    });
    for (const auto& [serial, where] : m_popups) {
        options.extra_style[serial] =
            "left:" + std::to_string(where.first) + "px;top:" + std::to_string(where.second) + "px";
    }
    for (const layout::handle popup : m_document.open_popups()) {
        options.extra_style.try_emplace(layout::serial_of(popup), "left:0;top:0");
    }
    // The sheets come with every document as read once (m_sheets), not in its head.
    options.head = "<head></head>";

    // The tag pane keeps the width the splitter gave it (a style set at run time).
    int tags_width = 220;
    const layout::handle tag_pane = layout::find_first(root, "#tagpane");
    if (const auto given = layout::get_style_attribute(tag_pane, "width")) {
        const std::string text(given->begin(), given->end());
        if (text.size() > 2 && text.ends_with("px")) {
            tags_width = std::atoi(text.c_str());
        }
    }
    tags_width = std::clamp(tags_width, 0, w - 240);
    // The geometry goes after each element's own style, which it overrides: the
    // splitter's run-time "100%" is for a flexible box this layout does not have.
    const auto place = [&](const char* selector, const std::string& style) {
        if (const layout::handle element = layout::find_first(root, selector)) {
            std::string& extra = options.extra_style[layout::serial_of(element)];
            extra += extra.empty() ? style : ";" + style;
        }
    };
    const auto px = [](int value) { return std::to_string(value) + "px"; };
    const int panes = h - toolbar_height - statusbar_height - 1;
    const int quotes_left = tags_width + 6;
    // The chrome holds neither the quote rows laid out nor the open menus: they are
    // parts of their own.
    std::vector<std::uint32_t> parts;
    if (quotes && layout::is_long_list(quotes)) {
        for (std::size_t i = m_first_quote; i < m_rows_laid_end; ++i) {
            parts.push_back(layout::serial_of(layout::row_at(quotes, i)));
        }
    }
    for (const layout::handle popup : open) {
        parts.push_back(layout::serial_of(popup));
    }
    // The search tools take the room they need at the right; the find field stands
    // left of them and the search bar takes the rest. Their width is known once
    // laid out: a change lays out once more. (Their box spans the tool bar: the
    // pointer passes through it, see element_at.)
    for (int pass = 0; pass < 2; ++pass) {
        const int find_left = m_tools_left - 8 - 230;
        place("#app", "width:" + px(w) + ";height:" + px(h));
        place("#toolbar", "width:" + px(w - 16));
        place("#p-searchbar", "width:" + px(std::max(40, find_left - 8 - 8 - 20)));
        place("#findbox", "left:" + px(find_left) + ";width:220px");
        place("#find-text", "width:180px");
        place("#searchtools", "width:" + px(w - 8) + ";left:0");
        place("#panes", "top:" + px(toolbar_height) + ";width:" + px(w) + ";height:" + px(panes));
        place("#tagpane", "width:" + px(tags_width) + ";height:" + px(panes));
        place("#splitter", "left:" + px(tags_width + 1) + ";height:" + px(panes));
        place("#quotepane", "left:" + px(quotes_left) + ";width:" + px(w - quotes_left - 16) +
                                ";height:" + px(panes - 16));
        place("#statusbar", "top:" + px(h - statusbar_height) + ";width:" + px(w - 16));
        place("#taglist", "position:relative;top:" + px(-m_tags_offset));
        std::vector<std::uint32_t> added;
        for (const std::uint32_t part : parts) {
            if (options.left_out.insert(part).second) {
                added.push_back(part);
            }
        }
        std::string markup = layout::render_markup(m_document, options);
        for (const std::uint32_t part : added) {
            options.left_out.erase(part);
        }
        // The markup holds the window's size: the same markup lays out the same.
        if (!m_chrome.html || markup != m_chrome_markup) {
            m_chrome.html = litehtml::document::createFromString(markup.c_str(), m_container.get(),
                                                                 m_context.get(), m_sheets.get());
            m_chrome.html->render(w);
            m_chrome_markup = std::move(markup);
            ++m_chromes_made;
        }
        m_elements.clear();
        add_elements(m_chrome.html->root(), QPoint());
        int tools_left = w;
        if (const layout::handle tools = layout::find_first(root, "#searchtools")) {
            if (const auto found = m_elements.find(layout::serial_of(tools));
                found != m_elements.end()) {
                if (const litehtml::element::ptr box = found->second.element.lock()) {
                    for (std::size_t i = 0; i < box->get_children_count(); ++i) {
                        const QRect child = border_box(*box->get_child(int(i)));
                        if (!child.isEmpty()) {
                            tools_left = std::min(tools_left, child.left());
                        }
                    }
                }
            }
        }
        if (tools_left == m_tools_left || tools_left >= w) {
            break;
        }
        m_tools_left = tools_left;
        // The next pass places everything afresh.
        for (const char* id : {"#app", "#toolbar", "#p-searchbar", "#findbox", "#find-text",
                               "#searchtools", "#panes", "#tagpane", "#splitter", "#quotepane",
                               "#statusbar", "#taglist"}) {
            if (const layout::handle element = layout::find_first(root, id)) {
                options.extra_style.erase(layout::serial_of(element));
            }
        }
    }
    // The quote rows, each inside its ancestors as the whole document has it, and
    // stacked from the pane's top as the list's rows are. A row whose markup did not
    // change keeps its layout, unless what is around it changed.
    m_rows.clear();
    m_list_serial = 0;
    m_list_box = QRect();
    if (quotes && layout::is_long_list(quotes) && m_rows_laid_end > m_first_quote) {
        // Each row's own layout shows all of it: a row scrolled up past the pane's
        // top shows (and takes the pointer) below the pane's height in that layout,
        // and the window clips the rows to the pane itself.
        const layout::handle pane = layout::find_first(root, "#quotepane");
        const std::uint32_t pane_serial = pane ? layout::serial_of(pane) : 0;
        std::optional<std::string> pane_style;
        if (pane) {
            if (const auto placed = options.extra_style.find(pane_serial);
                placed != options.extra_style.end()) {
                pane_style = placed->second;
            }
            options.extra_style[pane_serial] =
                (pane_style ? *pane_style + ";" : std::string()) + "overflow:visible";
        }
        const layout::markup_frame frame =
            layout::render_ancestors_markup(m_document, layout::row_at(quotes, m_first_quote),
                                            options);
        std::string frame_key = frame.opening + frame.closing;
        if (frame_key != m_row_frame) {
            m_row_cache.clear();
            m_row_frame = std::move(frame_key);
        }
        std::unordered_map<std::string, region> kept;
        // The offset belongs to the row it was scrolled in: another first row (one
        // that arrived on top, say) shows from its top.
        if (layout::serial_of(layout::row_at(quotes, m_first_quote)) != m_offset_row) {
            m_first_offset = 0;
        }
        m_laid_first_quote = m_first_quote;
        int down = -m_first_offset;
        for (std::size_t i = m_first_quote; i < m_rows_laid_end; ++i) {
            const layout::handle row = layout::row_at(quotes, i);
            std::string markup = layout::render_element_markup(m_document, row, options);
            region part;
            if (const auto found = m_row_cache.find(markup); found != m_row_cache.end()) {
                part = found->second;
            } else {
                part.html = litehtml::document::createFromString(
                    (frame.opening + markup + frame.closing).c_str(), m_container.get(),
                    m_context.get(), m_sheets.get());
                part.html->render(w);
                const litehtml::element::ptr shown = find_in(*part.html, layout::serial_of(row));
                part.height = shown ? laid_out_box(*shown).height() : 0;
                ++m_rows_made;
            }
            part.offset = QPoint(0, down);
            part.serial = layout::serial_of(row);
            if (const litehtml::element::ptr shown = find_in(*part.html, layout::serial_of(row))) {
                add_elements(shown, part.offset);
            }
            down += part.height;
            m_rows.push_back(part);
            kept.emplace(std::move(markup), std::move(part));
        }
        m_row_cache = std::move(kept);
        if (pane_style) {
            options.extra_style[pane_serial] = *pane_style;
        } else {
            options.extra_style.erase(pane_serial);
        }
        m_rows_top = 0;
        if (const litehtml::element::ptr table =
                m_rows.empty() ? nullptr : find_in(*m_rows.front().html, layout::serial_of(quotes))) {
            m_rows_top = border_box(*table).top();
        }
        // The list's box is its rows' lists' together (the chrome's, holding no
        // rows, has no size): as tall as its rows, as wide as the widest.
        if (m_elements.contains(layout::serial_of(quotes))) {
            m_list_serial = layout::serial_of(quotes);
            for (const region& row : m_rows) {
                if (const litehtml::element::ptr table =
                        find_in(*row.html, layout::serial_of(quotes))) {
                    m_list_box = m_list_box.united(border_box(*table).translated(row.offset));
                }
            }
        }
    } else {
        m_row_cache.clear();
    }
    m_pane_box = QRect();
    m_pane_clip = QRect();
    if (const layout::handle pane = layout::find_first(root, "#quotepane")) {
        const auto shown = m_elements.find(layout::serial_of(pane));
        if (const litehtml::element::ptr element =
                shown == m_elements.end() ? nullptr : shown->second.element.lock()) {
            m_pane_box = border_box(*element);
            m_pane_clip = to_qt(element->get_placement());
        }
    }
    // The open menus, over everything else.
    m_menus.clear();
    std::unordered_map<std::string, region> menus_kept;
    for (const layout::handle popup : open) {
        const layout::markup_frame frame = layout::render_ancestors_markup(m_document, popup, options);
        std::string markup = frame.opening +
                             layout::render_element_markup(m_document, popup, options) +
                             frame.closing;
        // Marked for the style sheet as the web page marks them.
        const std::string needle =
            "data-serial=\"" + std::to_string(layout::serial_of(popup)) + "\"";
        if (const auto at = markup.find(needle); at != std::string::npos) {
            markup.insert(at + needle.size(), " data-popup=\"open\"");
        }
        region part;
        if (const auto found = m_menu_cache.find(markup); found != m_menu_cache.end()) {
            part = found->second;
        } else {
            part.html = litehtml::document::createFromString(markup.c_str(), m_container.get(),
                                                             m_context.get(), m_sheets.get());
            part.html->render(w);
        }
        part.serial = layout::serial_of(popup);
        if (const litehtml::element::ptr shown = find_in(*part.html, part.serial)) {
            add_elements(shown, part.offset);
        }
        m_menus.push_back(part);
        menus_kept.emplace(std::move(markup), std::move(part));
    }
    m_menu_cache = std::move(menus_kept);
    if (!m_probe.isEmpty()) {
        // The probe shows the window as one document: what the parts were cut from.
        options.head = "<head><style>" + m_style_sheets + "</style></head>";
        m_markup = layout::render_markup(m_document, options);
        for (const layout::handle popup : open) {
            const std::string needle =
                "data-serial=\"" + std::to_string(layout::serial_of(popup)) + "\"";
            if (const auto at = m_markup.find(needle); at != std::string::npos) {
                m_markup.insert(at + needle.size(), " data-popup=\"open\"");
            }
        }
    }
    // How far the tag list may scroll: until its end meets the pane's.
    {
        const auto box_by_id = [&](const char* selector) {
            const layout::handle element = layout::find_first(root, selector);
            return element ? border_box_of(layout::serial_of(element)) : QRect();
        };
        const QRect list = box_by_id("#taglist");
        const QRect pane = box_by_id("#tagpane");
        m_tags_room = list.isEmpty() || pane.isEmpty()
                          ? 0
                          : std::max(0, list.bottom() + m_tags_offset - pane.bottom());
    }
    // How many rows the quote pane showed whole (at least one), and the room left
    // below the list's last row when it is laid out (negative: it does not fit).
    m_quotes_shown = 1;
    m_last_quote_gap = 0;
    if (quotes && layout::is_long_list(quotes)) {
        const auto box_of = [&](layout::handle element) {
            return element ? laid_out_box_of(layout::serial_of(element)) : QRect();
        };
        const QRect pane = box_of(layout::find_first(root, "#quotepane"));
        const layout::row_range held = layout::held_rows(quotes);
        std::size_t whole = 0;
        for (std::size_t i = std::max(held.first, m_first_quote); i < held.last; ++i) {
            const QRect row = box_of(layout::row_at(quotes, i));
            if (row.isEmpty() || row.bottom() > pane.bottom()) {
                break;
            }
            ++whole;
        }
        m_quotes_shown = std::max<std::size_t>(1, whole);
        const std::size_t count = layout::row_count(quotes);
        const QRect last = count == 0 ? QRect() : box_of(layout::row_at(quotes, count - 1));
        m_last_quote_gap = last.isEmpty() ? 0 : pane.bottom() - last.bottom();
        // The rows laid out did not reach the pane's bottom while more are held:
        // more rows next time, and this layout again. Otherwise a few more than
        // showed, for the next change.
        const QRect last_laid = m_rows_laid_end > m_first_quote
                                    ? box_of(layout::row_at(quotes, m_rows_laid_end - 1))
                                    : QRect();
        if (m_rows_laid_end < held.last && !last_laid.isEmpty() &&
            last_laid.bottom() <= pane.bottom() && m_rows_to_lay < layout::max_held_rows) {
            m_rows_to_lay *= 2;
            return false;
        }
        m_rows_to_lay = std::max<std::size_t>(m_quotes_shown + 3, min_rows_to_lay);
    }
    return true;
}

void native_view::add_elements(const litehtml::element::ptr& from, QPoint offset) {
    std::vector<litehtml::element::ptr> stack{from};
    while (!stack.empty()) {
        litehtml::element::ptr element = std::move(stack.back());
        stack.pop_back();
        if (const std::uint32_t serial = serial_attribute(element.get())) {
            m_elements[serial] = {element, offset};
        }
        for (std::size_t i = 0; i < element->get_children_count(); ++i) {
            stack.push_back(element->get_child(int(i)));
        }
    }
}

litehtml::element::ptr native_view::find_in(litehtml::document& html, std::uint32_t serial) {
    std::vector<litehtml::element::ptr> stack{html.root()};
    while (!stack.empty()) {
        litehtml::element::ptr element = std::move(stack.back());
        stack.pop_back();
        if (serial_attribute(element.get()) == serial) {
            return element;
        }
        for (std::size_t i = 0; i < element->get_children_count(); ++i) {
            stack.push_back(element->get_child(int(i)));
        }
    }
    return nullptr;
}

QRect native_view::box_in_view(std::uint32_t serial, QRect (*measure)(const litehtml::element&)) const {
    if (serial != 0 && serial == m_list_serial) {
        return m_list_box;
    }
    const auto found = m_elements.find(serial);
    const litehtml::element::ptr element =
        found == m_elements.end() ? nullptr : found->second.element.lock();
    return element ? measure(*element).translated(found->second.offset) : QRect();
}

QRect native_view::border_box_of(std::uint32_t serial) const {
    return box_in_view(serial, border_box);
}

QRect native_view::laid_out_box_of(std::uint32_t serial) const {
    return box_in_view(serial, laid_out_box);
}

const native_view::region* native_view::region_at(int x, int y) const {
    if (!m_chrome.html) {
        return nullptr;
    }
    // A menu on top takes the point where it lies.
    for (auto menu = m_menus.rbegin(); menu != m_menus.rend(); ++menu) {
        for (litehtml::element::ptr up = menu->html->root()->get_element_by_point(x, y, x, y); up;
             up = up->parent()) {
            if (serial_attribute(up.get()) == menu->serial) {
                return &*menu;
            }
        }
    }
    // The rows show within the quote pane.
    if (m_pane_box.contains(QPoint(x, y))) {
        for (const region& row : m_rows) {
            if (y - row.offset.y() >= m_rows_top &&
                y - row.offset.y() < m_rows_top + row.height) {
                return &row;
            }
        }
    }
    return &m_chrome;
}

void native_view::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor(0xf6, 0xf8, 0xfa));
    if (!m_chrome.html) {
        return;
    }
    m_container->painter = &painter;
    const QRect area = event->rect();
    m_container->take_texts();
    const auto draw = [&](const region& part, QRect within) {
        within = within.intersected(area);
        if (within.isEmpty()) {
            return;
        }
        const litehtml::position clip(within.x(), within.y(), within.width(), within.height());
        m_container->base_clip = within;
        m_container->paint_root = &part == &m_chrome;
        painter.setClipRect(within);
        part.html->draw(reinterpret_cast<litehtml::uint_ptr>(&painter), part.offset.x(),
                        part.offset.y(), &clip);
    };
    draw(m_chrome, area);
    // Each row in its band of the pane, which clips them as it clipped the list.
    for (const region& row : m_rows) {
        draw(row, m_pane_clip.intersected(QRect(m_pane_clip.left(),
                                                m_rows_top + row.offset.y(),
                                                m_pane_clip.width(), row.height)));
    }
    for (const region& menu : m_menus) {
        draw(menu, area);
    }
    m_container->base_clip = QRect();
    m_container->paint_root = true;
    m_container->painter = nullptr;
    painter.setClipping(false);
    paint_outlines(painter);
    if (m_keep_paints && (m_paints.empty() || m_paints.back().layout != m_layouts)) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        m_paints.push_back({m_layouts, m_quotes_laid_out,
                            std::chrono::duration<double, std::milli>(now).count()});
        if (m_paints.size() > 512) {
            m_paints.pop_front();
        }
    }
}

namespace {

// An outline as a rule gives it ("2px solid #0969da"), with its offset.
struct outline {
    int thickness = 0;
    QColor colour;
    int offset = 0;
};

std::optional<outline> outline_of(const litehtml::element& element) {
    const char* rule = element.get_style_property("outline", false, nullptr);
    if (!rule || std::string_view(rule).find("solid") == std::string_view::npos) {
        return std::nullopt;
    }
    outline found;
    for (const QString& part : to_qt(rule).split(' ', Qt::SkipEmptyParts)) {
        if (part.endsWith("px")) {
            found.thickness = part.chopped(2).toInt();
        } else if (part.startsWith('#')) {
            found.colour = QColor(part);
        }
    }
    found.offset =
        to_qt(element.get_style_property("outline-offset", false, "0")).remove("px").toInt();
    if (found.thickness <= 0 || !found.colour.isValid()) {
        return std::nullopt;
    }
    return found;
}

}  // namespace

// litehtml lays out no outlines: the rings of the focused element and of the
// current rows are drawn here, from the rules' "outline" and "outline-offset".
void native_view::paint_outlines(QPainter& painter) {
    for (const auto& [serial, shown] : m_elements) {
        const litehtml::element::ptr element = shown.element.lock();
        const std::optional<outline> ring = element ? outline_of(*element) : std::nullopt;
        const QRect box = element ? border_box_of(serial) : QRect();
        if (!ring || box.isEmpty()) {
            continue;
        }
        const int thickness = ring->thickness;
        const int out = ring->offset + thickness;
        // A row's ring shows within the pane, as the row does.
        const layout::handle node = m_document.element_by_serial(serial);
        if (node && layout::closest(node, "#thequotelist")) {
            painter.setClipRect(m_pane_box);
        } else {
            painter.setClipping(false);
        }
        painter.setPen(Qt::NoPen);
        const QRect outer = box.adjusted(-out, -out, out, out);
        painter.fillRect(QRect(outer.left(), outer.top(), outer.width(), thickness), ring->colour);
        painter.fillRect(QRect(outer.left(), outer.bottom() + 1 - thickness, outer.width(), thickness),
                         ring->colour);
        painter.fillRect(QRect(outer.left(), outer.top(), thickness, outer.height()), ring->colour);
        painter.fillRect(QRect(outer.right() + 1 - thickness, outer.top(), thickness, outer.height()),
                         ring->colour);
    }
}

bool native_view::draws_ring(std::uint32_t serial) const {
    const auto found = m_elements.find(serial);
    const litehtml::element::ptr element =
        found == m_elements.end() ? nullptr : found->second.element.lock();
    return element && outline_of(*element) && !border_box_of(serial).isEmpty();
}

void native_view::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    schedule_layout();
}

std::uint32_t native_view::element_at(int x, int y) const {
    const region* part = region_at(x, y);
    if (!part) {
        return 0;
    }
    std::uint32_t found = 0;
    const int in_x = x - part->offset.x();
    const int in_y = y - part->offset.y();
    for (litehtml::element::ptr element =
             part->html->root()->get_element_by_point(in_x, in_y, in_x, in_y);
         element; element = element->parent()) {
        if ((found = serial_attribute(element.get())) != 0) {
            break;
        }
    }
    // The search tools' box spans the tool bar to right-align them, over the search
    // bar and the find field: a point on it but on none of the tools belongs to
    // what lies beneath, the deepest element laid out there.
    const layout::handle hit = m_document.element_by_serial(found);
    if (!hit || layout::get_attribute_utf8(hit, "id") != "searchtools") {
        return found;
    }
    std::uint32_t beneath = 0;
    std::size_t depth = 0;
    const QPoint point(x, y);
    for (const auto& [serial, shown] : m_elements) {
        const layout::handle node = m_document.element_by_serial(serial);
        if (!node || node == hit || layout::closest(node, "#searchtools") ||
            !border_box_of(serial).contains(point) || !layout::closest(node, "#toolbar")) {
            continue;
        }
        std::size_t d = 0;
        for (layout::handle up = node; up; up = layout::parent(up)) {
            ++d;
        }
        if (d > depth) {
            depth = d;
            beneath = serial;
        }
    }
    return beneath ? beneath : found;
}

void native_view::report_boxes(std::uint32_t serial) {
    // Walked in the document's tree: a row's ancestors and their other children
    // are laid out in the chrome, not in the row's own document.
    const auto report = [&](layout::handle element) {
        if (!m_elements.contains(layout::serial_of(element))) {
            return;
        }
        const QRect box = border_box_of(layout::serial_of(element));
        layout::set_location(element, {box.left(), box.top(), box.right() + 1, box.bottom() + 1});
    };
    if (!m_elements.contains(serial)) {
        return;
    }
    for (layout::handle element = m_document.element_by_serial(serial); element;
         element = layout::parent(element)) {
        report(element);
        const layout::handle parent = layout::parent(element);
        if (parent && layout::child_count(parent) <= 64) {
            layout::for_each_child(parent, [&](layout::handle sibling) {
                if (sibling != element) {
                    report(sibling);
                }
                return false;
            });
        }
    }
}

void native_view::mouse(QMouseEvent* event, std::uint32_t cmd) {
    const QPoint at = event->position().toPoint();
    m_guard([&] {
        const std::uint32_t serial = element_at(at.x(), at.y());
        if (cmd == layout::mouse_event::move) {
            hover(serial);
        }
        const bool pressed = cmd != layout::mouse_event::move || event->buttons() != Qt::NoButton;
        if (pressed) {
            report_boxes(serial);
        }
        std::uint32_t buttons = mouse_buttons(event->buttons());
        if (cmd != layout::mouse_event::move) {
            buttons = mouse_buttons(event->button());
        }
        m_document.mouse_input(m_document.element_by_serial(serial), cmd, {at.x(), at.y()},
                               buttons, key_states(event->modifiers()));
        m_pump.schedule_timer();
    });
    if (cmd == layout::mouse_event::move) {
        update_cursor(at);
    }
}

void native_view::update_cursor(QPoint at) {
    const region* part = region_at(at.x(), at.y());
    if (!part) {
        return;
    }
    litehtml::position::vector boxes;
    const QPoint in = at - part->offset;
    part->html->on_mouse_over(in.x(), in.y(), in.x(), in.y(), boxes);
    const std::string& cursor = m_container->cursor();
    setCursor(cursor == "pointer"      ? Qt::PointingHandCursor
              : cursor == "text"       ? Qt::IBeamCursor
              : cursor == "col-resize" ? Qt::SplitHCursor
              : cursor == "grab"       ? Qt::OpenHandCursor
              : cursor == "grabbing"   ? Qt::ClosedHandCursor
              : cursor == "copy"       ? Qt::DragCopyCursor
                                       : Qt::ArrowCursor);
}

void native_view::hover(std::uint32_t serial) {
    if (serial == m_hovered) {
        return;
    }
    // The element under the pointer and those around it are hovered, as in a page.
    for (layout::handle e = m_document.element_by_serial(m_hovered); e; e = layout::parent(e)) {
        layout::set_state(e, 0, layout::state::hover, false);
    }
    m_hovered = serial;
    for (layout::handle e = m_document.element_by_serial(serial); e; e = layout::parent(e)) {
        layout::set_state(e, layout::state::hover, 0, false);
    }
}

void native_view::leaveEvent(QEvent* event) {
    m_guard([this] { hover(0); });
    QWidget::leaveEvent(event);
}

bool native_view::click(std::uint32_t serial) {
    const QRect box = laid_out_box_of(serial);
    if (!box_on_screen(serial) || box.isEmpty()) {
        return false;
    }
    const layout::point at{box.center().x(), box.center().y()};
    m_guard([&] {
        report_boxes(serial);
        for (const std::uint32_t cmd : {layout::mouse_event::down, layout::mouse_event::up}) {
            m_document.mouse_input(m_document.element_by_serial(serial), cmd, at,
                                   layout::mouse_button::main, 0);
        }
        m_pump.schedule_timer();
    });
    return true;
}

void native_view::mousePressEvent(QMouseEvent* event) {
    mouse(event, layout::mouse_event::down);
}
void native_view::mouseReleaseEvent(QMouseEvent* event) {
    mouse(event, layout::mouse_event::up);
}
void native_view::mouseDoubleClickEvent(QMouseEvent* event) {
    mouse(event, layout::mouse_event::double_click);
}
void native_view::mouseMoveEvent(QMouseEvent* event) {
    mouse(event, layout::mouse_event::move);
}

void native_view::place_scroll_bars() {
    m_placing_bars = true;
    const auto box_of = [&](const char* selector) {
        const layout::handle element = layout::find_first(m_document.root(), selector);
        return element ? border_box_of(layout::serial_of(element)) : QRect();
    };
    const int thickness = m_quote_bar->sizeHint().width();
    // The quote list: at the window's right edge, over the pane's margin, one step
    // a row.
    const layout::handle quotes = layout::find_first(m_document.root(), "#thequotelist");
    const std::size_t count = quotes ? layout::row_count(quotes) : 0;
    const QRect pane = box_of("#quotepane");
    const int last_first = int(std::min<std::size_t>(
        count - std::min(count, m_quotes_shown), std::size_t(std::numeric_limits<int>::max())));
    if (pane.isEmpty() || (last_first == 0 && m_first_quote == 0)) {
        m_quote_bar->hide();
    } else {
        m_quote_bar->setGeometry(QRect(width() - thickness, pane.top(), thickness, pane.height()));
        m_quote_bar->setRange(0, std::max(last_first, int(m_first_quote)));
        m_quote_bar->setPageStep(int(std::max<std::size_t>(1, m_quotes_shown)));
        m_quote_bar->setValue(int(m_first_quote));
        m_quote_bar->show();
    }
    // The tag list: over the right edge of its pane, in pixels.
    const QRect tags = box_of("#tagpane");
    if (tags.isEmpty() || m_tags_room == 0) {
        m_tag_bar->hide();
    } else {
        m_tag_bar->setGeometry(QRect(tags.right() + 1 - thickness, tags.top(), thickness,
                                     tags.height()));
        m_tag_bar->setRange(0, m_tags_room);
        m_tag_bar->setPageStep(std::max(1, tags.height()));
        m_tag_bar->setSingleStep(27);
        m_tag_bar->setValue(m_tags_offset);
        m_tag_bar->show();
    }
    m_placing_bars = false;
}

void native_view::scroll_quotes(int rows) {
    const std::size_t next = rows < 0 ? m_first_quote - std::min(m_first_quote, std::size_t(-rows))
                                      : m_first_quote + std::size_t(rows);
    if (next != m_first_quote) {
        scroll_quotes_to(next);
    }
}

void native_view::scroll_quotes_to(std::size_t first) {
    m_first_quote = first;
    m_first_offset = 0;
    m_first_row = 0;  // no longer the row to keep in place
    schedule_layout();
}

void native_view::wheel_quotes(int notch) {
    constexpr int lines = 3 * 20;  // three lines of text a notch
    // The first row as last laid out, while it still is the first.
    const bool known = !m_rows.empty() && m_laid_first_quote == m_first_quote;
    const int first_height = known ? m_rows.front().height : 0;
    if (notch > 0) {
        // What of the first row is still below the pane's bottom comes up first.
        const int below = first_height - m_first_offset - m_pane_clip.height();
        if (below > 0) {
            m_first_offset += std::min(lines, below);
            m_offset_row = m_rows.front().serial;
            schedule_layout();
        } else {
            scroll_quotes(1);
        }
    } else if (m_first_offset > 0) {
        m_first_offset = std::max(0, m_first_offset - lines);
        schedule_layout();
    } else if (m_first_quote > 0) {
        // Up into a row taller than the pane, its last lines come first.
        scroll_quotes(-1);
        m_enter_from_bottom = true;
    }
}

void native_view::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    const QPoint at = event->position().toPoint();
    m_guard([&] {
        const layout::handle target = m_document.element_by_serial(element_at(at.x(), at.y()));
        if (steps != 0 && target && layout::closest(target, "#quotepane")) {
            for (int i = 0; i < std::abs(steps); ++i) {
                wheel_quotes(steps < 0 ? 1 : -1);
            }
        } else if (steps != 0 && target && layout::closest(target, "#tagpane")) {
            // The tag list scrolls by pixels, three lines a notch, within its room.
            const int offset = std::clamp(m_tags_offset - steps * 3 * 27, 0, m_tags_room);
            if (offset != m_tags_offset) {
                m_tags_offset = offset;
                schedule_layout();
            }
        }
    });
    event->accept();
}

void native_view::key(QKeyEvent* event, std::uint32_t cmd) {
    m_guard([&] {
        // A paste into the element being edited comes as its new text, as the web
        // page sends it: the clipboard's text after what it holds, or instead of a
        // name shown selected.
        const bool paste = cmd == layout::key_event::down &&
                           (event->matches(QKeySequence::Paste) ||
                            (event->key() == Qt::Key_Insert &&
                             event->modifiers() == Qt::ShiftModifier));
        const layout::handle focus = m_document.focus();
        if (paste && focus && layout::is_editable(focus)) {
            const QString text = QGuiApplication::clipboard()->text();
            if (!text.isEmpty()) {
                const std::u16string kept =
                    layout::get_attribute(focus, "all-selected")
                        ? std::u16string()
                        : layout::get_inner_text(focus).value_or(std::u16string());
                m_document.text_input(focus, kept + text.toStdU16String());
            }
            m_pump.schedule_timer();
            return;
        }
        const std::uint32_t states = key_states(event->modifiers());
        if (const std::uint32_t code = virtual_key(*event)) {
            m_document.key_input(cmd, code, states);
        }
        const QString text = event->text();
        const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                               !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (cmd == layout::key_event::down && printable) {
            for (const char32_t code : text.toUcs4()) {
                m_document.key_input(layout::key_event::character, code, states);
            }
        }
        m_pump.schedule_timer();
    });
    event->accept();
}

void native_view::inputMethodEvent(QInputMethodEvent* event) {
    const QString text = event->commitString();
    m_guard([&] {
        const layout::handle focus = m_document.focus();
        if (text.isEmpty() || !focus || !layout::is_editable(focus)) {
            return;
        }
        for (const char32_t code : text.toUcs4()) {
            if (code >= 0x20) {
                m_document.key_input(layout::key_event::character, code, 0);
            }
        }
        m_pump.schedule_timer();
    });
    event->accept();
}

QVariant native_view::inputMethodQuery(Qt::InputMethodQuery query) const {
    const layout::handle focus = m_document.focus();
    const bool editing = focus && layout::is_editable(focus);
    switch (query) {
        case Qt::ImEnabled:
            return editing;
        case Qt::ImCursorRectangle: {
            // The caret stands at the end of the edited text.
            const auto box = editing ? box_on_screen(layout::serial_of(focus)) : std::nullopt;
            if (!box) {
                return QRect();
            }
            const QRect local(mapFromGlobal(box->topLeft()), box->size());
            return QRect(local.right(), local.top(), 1, local.height());
        }
        case Qt::ImSurroundingText:
            return editing ? QString::fromStdU16String(
                                 layout::get_inner_text(focus).value_or(std::u16string()))
                           : QString();
        default:
            return QWidget::inputMethodQuery(query);
    }
}

void native_view::keyPressEvent(QKeyEvent* event) {
    key(event, layout::key_event::down);
}
void native_view::keyReleaseEvent(QKeyEvent* event) {
    key(event, layout::key_event::up);
}

std::optional<QRect> native_view::box_on_screen(std::uint32_t serial) const {
    const auto found = m_elements.find(serial);
    const litehtml::element::ptr element =
        found == m_elements.end() ? nullptr : found->second.element.lock();
    if (!element) {
        return std::nullopt;
    }
    for (litehtml::element::ptr up = element; up; up = up->parent()) {
        if (up->get_display() == litehtml::display_none) {
            return std::nullopt;
        }
    }
    const QRect box = laid_out_box_of(serial);
    if (box.isEmpty()) {
        return std::nullopt;
    }
    return QRect(mapToGlobal(box.topLeft()), box.size());
}

void native_view::when_settled(std::function<void()> then) {
    if (m_layout_pending) {
        m_when_settled.push_back(std::move(then));
    } else {
        then();
    }
}

bool native_view::save_picture(const QString& path) {
    QSaveFile picture(path);
    if (!picture.open(QIODevice::WriteOnly) || !grab().save(&picture, "PNG")) {
        return false;
    }
    return picture.commit();
}

void native_view::write_probe() {
    if (!m_chrome.html || m_layout_pending) {
        return;
    }
    // One line per element laid out inside the window: serial, tag, id, class,
    // states, the states of its row (the nearest table row around it), box, and for
    // the cells of quote texts and for tags their text.
    QString lines;
    const QRect shown = rect();
    for (const auto& [serial, shown_at] : m_elements) {
        const litehtml::element::ptr element = shown_at.element.lock();
        if (!element) {
            continue;
        }
        const QRect box = border_box_of(serial);
        bool hidden = false;
        const char* row_states = "";
        for (litehtml::element::ptr up = element; up; up = up->parent()) {
            hidden = hidden || up->get_display() == litehtml::display_none;
            if (!*row_states && up != element && std::string_view(up->get_tagName()) == "tr") {
                row_states = up->get_attr("data-state", "");
            }
        }
        if (hidden || box.isEmpty() || !shown.intersects(box)) {
            continue;
        }
        const QString cls = to_qt(element->get_attr("class", ""));
        std::string text;
        if (cls == "text" || cls.contains("vtag") || cls.contains("qtag") || cls.contains("stag")) {
            element->get_text(text);
        }
        lines += QString("%1\t%2\t%3\t%4\t%5\t%6\t%7,%8,%9,%10\t%11\n")
                     .arg(serial)
                     .arg(to_qt(element->get_tagName()), to_qt(element->get_attr("id", "")), cls,
                          to_qt(element->get_attr("data-state", "")), to_qt(row_states))
                     .arg(box.x())
                     .arg(box.y())
                     .arg(box.width())
                     .arg(box.height())
                     .arg(to_qt(text.c_str()).replace('\n', ' ').replace('\t', ' '));
    }
    QDir().mkpath(m_probe);
    QSaveFile picture(m_probe + "/native.png");
    if (picture.open(QIODevice::WriteOnly)) {
        grab().save(&picture, "PNG");
        picture.commit();
    }
    QSaveFile html(m_probe + "/native.html");
    if (html.open(QIODevice::WriteOnly)) {
        html.write(m_markup.data(), qint64(m_markup.size()));
        html.commit();
    }
    QSaveFile file(m_probe + "/native-layout.txt");
    if (file.open(QIODevice::WriteOnly)) {
        file.write(lines.toUtf8());
        file.commit();
    }
}

}  // namespace hrd::qt
