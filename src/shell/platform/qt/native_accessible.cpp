#include "shell/platform/qt/native_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWindow>
#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/patch.h"
#include "shell/platform/qt/native_view.h"

namespace hrd::qt {

namespace {

using layout::handle;

// The longest name or description read out, in UTF-16 units: a clip may be
// megabytes, and a screen reader reads the start of it.
constexpr qsizetype name_length = 160;
// The longest value of an editable field.
constexpr qsizetype value_length = 4000;

// Text for a client: plain characters only. Runs of blanks and line breaks read
// as one space; control characters and the marks that reorder text on screen
// (bidirectional embeddings, overrides and isolates) are left out, as a clip may
// hold them to disguise what it says; a long text is cut after `limit` units,
// never inside a surrogate pair.
QString plain_text(const std::u16string& raw, qsizetype limit) {
    QString out;
    out.reserve(qsizetype(std::min<std::size_t>(raw.size(), std::size_t(limit) + 2)));
    const auto cut = [&] {
        out.truncate(limit);
        if (out.back().isHighSurrogate()) {
            out.chop(1);
        }
        return out.trimmed() + QChar(0x2026);
    };
    bool blank = false;
    for (const char16_t unit : raw) {
        if (out.size() >= limit) {
            return cut();
        }
        const QChar c(unit);
        const bool reorders = (unit >= 0x202a && unit <= 0x202e) || (unit >= 0x2066 && unit <= 0x2069) ||
                              unit == 0x200e || unit == 0x200f || unit == 0x061c;
        if (c.isSpace()) {
            blank = !out.isEmpty();
            continue;
        }
        if (reorders || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) {
            continue;
        }
        if (blank) {
            out += ' ';
            blank = false;
        }
        out += c;
    }
    return out.size() > limit ? cut() : out;  // the last blank and character went past it
}

QString text_of(handle element, qsizetype limit = name_length) {
    return plain_text(layout::get_inner_text(element).value_or(u""), limit);
}

QString attribute(handle element, std::string_view name) {
    return plain_text(layout::get_attribute(element, name).value_or(u""), name_length);
}

bool has_class(handle element, std::string_view name) {
    const std::string classes = layout::get_attribute_utf8(element, "class").value_or("");
    for (std::size_t at = classes.find(name); at != std::string::npos;
         at = classes.find(name, at + 1)) {
        const bool starts = at == 0 || classes[at - 1] == ' ';
        const bool ends = at + name.size() == classes.size() || classes[at + name.size()] == ' ';
        if (starts && ends) {
            return true;
        }
    }
    return false;
}

std::string id_of(handle element) {
    return layout::get_attribute_utf8(element, "id").value_or("");
}

// What an element is to a client. `none`: nothing of its own, its content may
// be; `hidden`: neither it nor anything inside (a closed menu, the head).
enum class kind {
    none,
    hidden,
    search_bar,
    search_tag,
    field,
    button,
    list,
    row,
    quote_tag,
    status_bar,
    menu,
    menu_item,
};

bool is_list(handle element) {
    const std::string id = id_of(element);
    return layout::element_type(element) == "table" && (id == "taglist" || id == "thequotelist");
}

kind kind_of(handle element) {
    const std::string tag = layout::element_type(element);
    if (tag == "head" || tag == "script" || tag == "style") {
        return kind::hidden;
    }
    if (tag == "menu") {
        return layout::get_state(element) & layout::state::popup ? kind::menu : kind::hidden;
    }
    if (tag == "li" && layout::element_type(layout::parent(element)) == "menu") {
        return kind::menu_item;
    }
    if (tag == "tr" && is_list(layout::parent(element))) {
        return kind::row;
    }
    if (is_list(element)) {
        return kind::list;
    }
    const std::string id = id_of(element);
    if (id == "p-searchbar") {
        return kind::search_bar;
    }
    if (id == "statusbar") {
        return kind::status_bar;
    }
    if (tag == "button") {
        return kind::button;
    }
    if (has_class(element, "stag")) {
        return kind::search_tag;
    }
    if (has_class(element, "qtag")) {
        return kind::quote_tag;
    }
    if (tag != "table" && layout::get_attribute(element, "editable")) {
        return kind::field;
    }
    return kind::none;
}

// The element a client knows `element` as: itself or the nearest ancestor it
// sees; nullptr when it sees none of them (the view itself) or it is hidden.
handle exposed_around(handle element) {
    for (handle up = element; up; up = layout::parent(up)) {
        const kind k = kind_of(up);
        if (k == kind::hidden) {
            return nullptr;
        }
        if (k != kind::none) {
            return up;
        }
    }
    return nullptr;
}

// What a client sees inside `container` (the root for the view), in document
// order: the elements that are something to it, not looking inside them.
std::vector<handle> exposed_inside(handle container) {
    std::vector<handle> found;
    std::vector<handle> stack;
    const auto push_children = [&](handle parent) {
        const std::size_t first = stack.size();
        layout::for_each_child(parent, [&](handle child) {
            stack.push_back(child);
            return false;
        });
        std::reverse(stack.begin() + std::ptrdiff_t(first), stack.end());
    };
    push_children(container);
    while (!stack.empty()) {
        const handle element = stack.back();
        stack.pop_back();
        const kind k = kind_of(element);
        if (k == kind::none) {
            push_children(element);
        } else if (k != kind::hidden) {
            found.push_back(element);
        }
    }
    return found;
}

// Known parts named as the window shows them (a placeholder, a pane's title).
QString known_name(const std::string& id) {
    if (id == "p-searchbar") {
        return QStringLiteral("Search bar");
    }
    if (id == "find-text") {
        return QStringLiteral("Find text");
    }
    if (id == "taglist") {
        return QStringLiteral("Tags");
    }
    if (id == "thequotelist") {
        return QStringLiteral("Quotes");
    }
    return {};
}

// The nearest title on the element or around it.
QString title_around(handle element) {
    for (handle up = element; up; up = layout::parent(up)) {
        if (layout::get_attribute(up, "title")) {
            return attribute(up, "title");
        }
    }
    return {};
}

accessibility_listener listener = nullptr;

void deliver(QAccessibleEvent& event) {
    if (listener) {
        listener(&event);
    } else {
        QAccessible::updateAccessibility(&event);
    }
}

bool has_letter_or_digit(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

class element_accessible;

// The view's own interface: the window's parts as its children, and the
// bookkeeping of which element interfaces exist and what they last said.
class view_accessible final : public QAccessibleWidget, public native_view::watcher {
public:
    explicit view_accessible(native_view* view)
        : QAccessibleWidget(view, QAccessible::Client), m_view(view) {
        view->set_watcher(this);
    }
    ~view_accessible() override;

    native_view* view() const { return m_view; }
    layout::document* document() const { return m_view ? &m_view->document() : nullptr; }

    // The interface for an element a client sees, made when first asked for.
    QAccessibleInterface* interface_for(handle element);
    // The element the client should know as focused: the document's focus, or
    // the current row of a focused list.
    handle focus_target() const;

    bool isValid() const override { return m_view && QAccessibleWidget::isValid(); }
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    QString text(QAccessible::Text t) const override;

    // The child of `container` (nullptr: the view) holding the point, for childAt.
    QAccessibleInterface* child_at(handle container, int x, int y) const;

private:
    void changed(const layout::patch& change) override;
    void laid_out() override;
    void view_gone() override { m_view = nullptr; }
    void drop(std::uint32_t serial, QAccessible::Id id);
    void send(QAccessibleInterface* iface, QAccessible::Event type);

    native_view* m_view;
    std::unordered_map<std::uint32_t, QAccessible::Id> m_made;  // by element serial
    // Since the last layout: elements whose text or state changed, containers
    // whose children changed (capped: past it, every made interface is checked).
    std::unordered_set<std::uint32_t> m_touched;
    std::unordered_set<std::uint32_t> m_reordered;
    bool m_overflow = false;
    bool m_structure = false;
    std::uint32_t m_focus = 0;  // serial of the element last reported focused
    static constexpr std::size_t touched_cap = 512;
};

// One element as a client sees it. It names the element by serial and reads the
// document at every question, so it never holds a stale picture.
class element_accessible final : public QAccessibleInterface,
                                 public QAccessibleActionInterface,
                                 public QAccessibleTextInterface {
public:
    element_accessible(view_accessible& root, handle element)
        : m_root(root), m_serial(layout::serial_of(element)),
          m_parent(layout::serial_of(exposed_around(layout::parent(element)))) {
        remember();
    }

    std::uint32_t serial() const { return m_serial; }
    std::uint32_t parent_serial() const { return m_parent; }
    handle element() const {
        layout::document* doc = m_root.document();
        return doc ? doc->element_by_serial(m_serial) : nullptr;
    }
    kind what() const { return kind_of(element()); }

    // What it said when last asked, to tell what changed.
    QString said_name, said_value;
    QAccessible::State said_state;
    void remember() {
        said_name = text(QAccessible::Name);
        said_value = text(QAccessible::Value);
        said_state = state();
    }

    bool isValid() const override {
        // Checked for every interface made after each change of the tree: kept
        // short. Only a closed menu hides what it holds.
        const handle e = element();
        const kind k = e ? kind_of(e) : kind::none;
        if (k == kind::none || k == kind::hidden) {
            return false;
        }
        return k != kind::menu_item || kind_of(layout::parent(e)) == kind::menu;
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return m_root.view() ? m_root.view()->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        const handle e = element();
        if (!e) {
            return nullptr;
        }
        const handle up = exposed_around(layout::parent(e));
        return up ? m_root.interface_for(up) : &m_root;
    }
    int childCount() const override {
        const handle e = element();
        if (what() == kind::list) {
            return int(layout::held_rows(e).size());
        }
        return e ? int(exposed_inside(e).size()) : 0;
    }
    QAccessibleInterface* child(int index) const override {
        const handle e = element();
        if (!e || index < 0) {
            return nullptr;
        }
        if (what() == kind::list) {
            return m_root.interface_for(
                layout::row_at(e, layout::held_rows(e).first + std::size_t(index)));
        }
        const std::vector<handle> inside = exposed_inside(e);
        return std::size_t(index) < inside.size() ? m_root.interface_for(inside[std::size_t(index)])
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* mine = dynamic_cast<const element_accessible*>(child);
        const handle e = element();
        const handle c = mine ? mine->element() : nullptr;
        if (!e || !c) {
            return -1;
        }
        if (what() == kind::list) {
            const auto index = layout::row_index(e, c);
            const layout::row_range held = layout::held_rows(e);
            return index && held.contains(*index) ? int(*index - held.first) : -1;
        }
        const std::vector<handle> inside = exposed_inside(e);
        const auto found = std::find(inside.begin(), inside.end(), c);
        return found == inside.end() ? -1 : int(found - inside.begin());
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return m_root.child_at(element(), x, y);
    }
    QAccessibleInterface* focusChild() const override {
        // The focused element when it lies inside this one.
        const handle target = m_root.focus_target();
        const handle self = element();
        for (handle up = exposed_around(layout::parent(target)); target && up;
             up = exposed_around(layout::parent(up))) {
            if (up == self) {
                return m_root.interface_for(target);
            }
        }
        return nullptr;
    }

    QString text(QAccessible::Text t) const override {
        const handle e = element();
        if (!e) {
            return {};
        }
        const kind k = kind_of(e);
        const QString known = known_name(id_of(e));
        switch (t) {
            case QAccessible::Name:
                if (!known.isEmpty()) {
                    return known;
                }
                if (k == kind::row) {
                    // A quote's row is named by its text, a tag's by its name.
                    const handle text_cell = layout::find_first(e, "td.text");
                    return text_of(text_cell ? text_cell : e);
                }
                if (k == kind::button) {
                    const QString shown = text_of(e);
                    return has_letter_or_digit(shown) ? shown : attribute(e, "title");
                }
                if (k == kind::list || k == kind::menu || k == kind::field) {
                    return title_around(e);
                }
                return text_of(e);
            case QAccessible::Value:
                return editable(e) ? text_of(e, value_length) : QString();
            case QAccessible::Description: {
                if (k == kind::row) {
                    QStringList tags;
                    layout::select_elements(e, ".qtag", [&](handle tag) {
                        tags << text_of(tag);
                        return tags.size() >= 20;
                    });
                    return tags.isEmpty() ? QString() : "Tags: " + tags.join(", ");
                }
                const QString title = title_around(e);
                return title == text(QAccessible::Name) ? QString() : title;
            }
            default:
                return {};
        }
    }
    void setText(QAccessible::Text t, const QString& value) override {
        const handle e = element();
        if (t != QAccessible::Value || !e || !editable(e) || !m_root.view()) {
            return;
        }
        m_root.view()->guarded([&] {
            if (const handle now = element(); now && layout::is_editable(now)) {
                m_root.document()->text_input(now, value.toStdU16String());
            }
        });
        m_root.view()->schedule_pending();
    }
    QRect rect() const override {
        const auto box = m_root.view() ? m_root.view()->box_on_screen(m_serial) : std::nullopt;
        return box.value_or(QRect());
    }
    QAccessible::Role role() const override {
        const handle e = element();
        switch (kind_of(e)) {
            case kind::search_bar:
            case kind::list: return QAccessible::List;
            case kind::search_tag: return QAccessible::ListItem;
            case kind::field: return QAccessible::EditableText;
            case kind::button: return QAccessible::PushButton;
            case kind::row: return editable(e) ? QAccessible::EditableText : QAccessible::ListItem;
            case kind::quote_tag: return QAccessible::StaticText;
            case kind::status_bar: return QAccessible::StatusBar;
            case kind::menu: return QAccessible::PopupMenu;
            case kind::menu_item: return QAccessible::MenuItem;
            case kind::none:
            case kind::hidden: break;
        }
        return QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        const handle e = element();
        if (!e || !m_root.view()) {
            s.invalid = true;
            return s;
        }
        const std::uint32_t bits = layout::get_state(e);
        const kind k = kind_of(e);
        const auto box = m_root.view()->box_on_screen(m_serial);
        // A row out of view is not laid out at all, or laid out but outside its pane.
        s.invisible = !box;
        s.offscreen = !box;
        if (box) {
            const handle pane = k == kind::row ? layout::parent(layout::parent(e)) : nullptr;
            const auto clip = pane ? m_root.view()->box_on_screen(layout::serial_of(pane))
                                   : std::optional<QRect>(m_root.rect());
            s.offscreen = !clip || !clip->intersects(*box);
        }
        s.focusable = k == kind::button || k == kind::field || k == kind::list ||
                      k == kind::row || k == kind::menu_item;
        s.focused = m_root.focus_target() == e;
        s.editable = editable(e);
        s.disabled = (bits & layout::state::disabled) != 0;
        s.pressed = (bits & layout::state::pressed) != 0;
        s.hasPopup = layout::get_attribute(e, "menu").has_value();
        if (k == kind::row) {
            s.selectable = true;
            s.selected = (bits & layout::state::checked) != 0;
            s.active = (bits & layout::state::current) != 0;
        }
        if (k == kind::list) {
            s.multiSelectable = s.extSelectable = layout::get_attribute(e, "multiple").has_value();
        }
        if (k == kind::menu_item && layout::get_attribute_utf8(e, "type") == "check") {
            s.checkable = true;
            s.checked = (bits & layout::state::checked) != 0;
        }
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) {
            return static_cast<QAccessibleActionInterface*>(this);
        }
        if (type == QAccessible::TextInterface && editable(element())) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return nullptr;
    }

    // The text of a field being edited, read-only to a client: the document
    // keeps the caret at the end, and a name shown selected is selected whole.
    QString text(int start, int end) const override {
        return text(QAccessible::Value).mid(start, end - start);
    }
    int characterCount() const override { return int(text(QAccessible::Value).size()); }
    int cursorPosition() const override { return characterCount(); }
    int selectionCount() const override {
        return layout::get_attribute(element(), "all-selected") ||
                       layout::find_first(element(), "[all-selected]")
                   ? 1
                   : 0;
    }
    void selection(int index, int* start, int* end) const override {
        const bool whole = index == 0 && selectionCount() == 1;
        *start = 0;
        *end = whole ? characterCount() : 0;
    }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
    QStringList actionNames() const override {
        QStringList names;
        const kind k = what();
        if (k == kind::button || k == kind::menu_item || k == kind::row) {
            names << pressAction();
        }
        if (k == kind::button || k == kind::field || k == kind::list) {
            names << setFocusAction();
        }
        return names;
    }
    void doAction(const QString& name) override {
        native_view* view = m_root.view();
        if (!view || !actionNames().contains(name)) {
            return;
        }
        if (name == pressAction()) {
            view->click(m_serial);  // as the pointer would: the behaviors decide
        } else if (name == setFocusAction()) {
            view->guarded([&] {
                if (const handle e = element()) {
                    m_root.document()->set_focus(e);
                }
            });
            view->schedule_pending();
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    // A field, or a tag being renamed in place: what is typed goes into it.
    static bool editable(handle e) {
        const kind k = kind_of(e);
        if (k == kind::field) {
            return true;
        }
        if (k != kind::row) {
            return false;
        }
        bool renaming = false;
        layout::select_elements(e, "[editing]", [&](handle entry) {
            renaming = layout::is_editable(entry);
            return renaming;
        });
        return renaming;
    }

    view_accessible& m_root;
    std::uint32_t m_serial;
    std::uint32_t m_parent;  // the serial of what held it when made (0: the view)
};

view_accessible::~view_accessible() {
    for (const auto& [serial, id] : m_made) {
        QAccessible::deleteAccessibleInterface(id);
    }
}

QAccessibleInterface* view_accessible::interface_for(handle element) {
    if (!element) {
        return nullptr;
    }
    const std::uint32_t serial = layout::serial_of(element);
    if (const auto found = m_made.find(serial); found != m_made.end()) {
        return QAccessible::accessibleInterface(found->second);
    }
    auto* made = new element_accessible(*this, element);
    m_made.emplace(serial, QAccessible::registerAccessibleInterface(made));
    return made;
}

handle view_accessible::focus_target() const {
    layout::document* doc = document();
    const handle focus = doc ? doc->focus() : nullptr;
    if (focus && kind_of(focus) == kind::list) {
        if (const auto current = layout::current_row(focus)) {
            if (const handle row = layout::row_at(focus, *current)) {
                return row;
            }
        }
        return focus;
    }
    return exposed_around(focus);
}

int view_accessible::childCount() const {
    layout::document* doc = document();
    return doc ? int(exposed_inside(doc->root()).size()) : 0;
}

QAccessibleInterface* view_accessible::child(int index) const {
    layout::document* doc = document();
    if (!doc || index < 0) {
        return nullptr;
    }
    const std::vector<handle> inside = exposed_inside(doc->root());
    return std::size_t(index) < inside.size()
               ? const_cast<view_accessible*>(this)->interface_for(inside[std::size_t(index)])
               : nullptr;
}

int view_accessible::indexOfChild(const QAccessibleInterface* child) const {
    const auto* mine = dynamic_cast<const element_accessible*>(child);
    layout::document* doc = document();
    if (!mine || !doc) {
        return -1;
    }
    const std::vector<handle> inside = exposed_inside(doc->root());
    const auto found = std::find(inside.begin(), inside.end(), mine->element());
    return found == inside.end() ? -1 : int(found - inside.begin());
}

QAccessibleInterface* view_accessible::child_at(handle container, int x, int y) const {
    layout::document* doc = document();
    if (!m_view || !doc) {
        return nullptr;
    }
    const QPoint at = m_view->mapFromGlobal(QPoint(x, y));
    handle under = doc->element_by_serial(m_view->element_at(at.x(), at.y()));
    // The exposed element under the point, then up to the one directly inside
    // the container.
    for (under = exposed_around(under); under; under = exposed_around(layout::parent(under))) {
        if (exposed_around(layout::parent(under)) == container) {
            return const_cast<view_accessible*>(this)->interface_for(under);
        }
    }
    return nullptr;
}

QAccessibleInterface* view_accessible::childAt(int x, int y) const {
    return child_at(nullptr, x, y);
}

QAccessibleInterface* view_accessible::focusChild() const {
    return const_cast<view_accessible*>(this)->interface_for(focus_target());
}

QString view_accessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Name && m_view) {
        const QString own = QAccessibleWidget::text(t);
        return own.isEmpty() ? m_view->window()->windowTitle() : own;
    }
    return QAccessibleWidget::text(t);
}

void view_accessible::send(QAccessibleInterface* iface, QAccessible::Event type) {
    QAccessibleEvent event(iface, type);
    deliver(event);
}

void view_accessible::changed(const layout::patch& change) {
    using layout::patch_kind;
    switch (change.kind) {
        case patch_kind::set_text:
        case patch_kind::set_state:
        case patch_kind::set_attribute:
            if (m_touched.size() < touched_cap) {
                m_touched.insert(change.node);
            } else {
                m_overflow = true;
            }
            break;
        case patch_kind::insert:
        case patch_kind::clear:
        case patch_kind::reorder:
        case patch_kind::rows:
            // The text of what holds new content may have changed too (a tag's
            // row gets its name as a new text node).
            m_touched.insert(change.node);
            m_reordered.insert(change.node);
            m_structure = true;
            break;
        case patch_kind::remove:
        case patch_kind::show_popup:
        case patch_kind::hide_popup:
            m_structure = true;
            break;
        default:
            break;
    }
}

void view_accessible::drop(std::uint32_t serial, QAccessible::Id id) {
    QAccessibleInterface* gone = QAccessible::accessibleInterface(id);
    if (gone) {
        send(gone, QAccessible::ObjectDestroyed);
    }
    QAccessible::deleteAccessibleInterface(id);
    m_made.erase(serial);
}

void view_accessible::laid_out() {
    layout::document* doc = document();
    if (!doc) {
        return;
    }
    // Interfaces of elements that left the document, or that a client no longer
    // sees (an item of a closed menu), go; what held them hears of it.
    if (m_structure) {
        std::vector<std::pair<std::uint32_t, QAccessible::Id>> stale;
        for (const auto& [serial, id] : m_made) {
            const auto* made = static_cast<element_accessible*>(QAccessible::accessibleInterface(id));
            if (!made || !made->isValid()) {
                stale.emplace_back(serial, id);
                if (made) {
                    m_reordered.insert(made->parent_serial());
                }
            }
        }
        for (const auto& [serial, id] : stale) {
            drop(serial, id);
        }
    }
    // Containers whose children changed: the nearest one a client sees, when it
    // has asked for it (the view always).
    std::unordered_set<std::uint32_t> told;
    for (const std::uint32_t serial : m_reordered) {
        const handle around = exposed_around(doc->element_by_serial(serial));
        const std::uint32_t which = layout::serial_of(around);
        if (!told.insert(which).second) {
            continue;
        }
        if (!around) {
            send(this, QAccessible::ObjectReorder);
        } else if (const auto found = m_made.find(which); found != m_made.end()) {
            send(QAccessible::accessibleInterface(found->second), QAccessible::ObjectReorder);
        }
    }
    // Names, values and states of the interfaces made, as far as the changes reach.
    std::vector<element_accessible*> check;
    if (m_overflow) {
        for (const auto& [serial, id] : m_made) {
            check.push_back(static_cast<element_accessible*>(QAccessible::accessibleInterface(id)));
        }
    } else {
        std::unordered_set<std::uint32_t> seen;
        for (const std::uint32_t serial : m_touched) {
            const handle around = exposed_around(doc->element_by_serial(serial));
            const auto found = m_made.find(layout::serial_of(around));
            if (found != m_made.end() && seen.insert(found->first).second) {
                check.push_back(
                    static_cast<element_accessible*>(QAccessible::accessibleInterface(found->second)));
            }
        }
    }
    m_touched.clear();
    m_reordered.clear();
    m_overflow = false;
    m_structure = false;

    // The focus first: a client reads what it lands on, and the changes after.
    const handle target = focus_target();
    const std::uint32_t focus = layout::serial_of(target);
    if (focus != m_focus) {
        m_focus = focus;
        if (QAccessibleInterface* focused = interface_for(target)) {
            QAccessibleEvent event(focused, QAccessible::Focus);
            deliver(event);
        }
    }
    for (element_accessible* made : check) {
        if (!made || !made->isValid()) {
            continue;
        }
        const QString name = made->text(QAccessible::Name);
        const QString value = made->text(QAccessible::Value);
        const QAccessible::State state = made->state();
        if (name != made->said_name) {
            send(made, QAccessible::NameChanged);
        }
        if (value != made->said_value) {
            QAccessibleValueChangeEvent event(made, value);
            deliver(event);
            // What a screen reader speaks of a field: the text it holds now.
            if (made->textInterface()) {
                QAccessibleTextUpdateEvent update(made, 0, made->said_value, value);
                deliver(update);
            }
        }
        QAccessible::State differ;
        differ.focused = state.focused != made->said_state.focused;
        differ.selected = state.selected != made->said_state.selected;
        differ.active = state.active != made->said_state.active;
        differ.checked = state.checked != made->said_state.checked;
        differ.editable = state.editable != made->said_state.editable;
        differ.pressed = state.pressed != made->said_state.pressed;
        differ.disabled = state.disabled != made->said_state.disabled;
        if (differ.focused || differ.selected || differ.active || differ.checked ||
            differ.editable || differ.pressed || differ.disabled) {
            QAccessibleStateChangeEvent event(made, differ);
            deliver(event);
        }
        made->said_name = name;
        made->said_value = value;
        made->said_state = state;
    }
}

QAccessibleInterface* make_interface(const QString& class_name, QObject* object) {
    if (class_name != QLatin1String(native_view::staticMetaObject.className())) {
        return nullptr;
    }
    if (auto* view = qobject_cast<native_view*>(object)) {
        return new view_accessible(view);
    }
    return nullptr;
}

}  // namespace

void set_accessibility_listener(accessibility_listener to) {
    listener = to;
}

void install_native_accessibility() {
    // Qt keeps one copy of a factory, and forgets them all with its application.
    QAccessible::installFactory(make_interface);
}

}  // namespace hrd::qt
