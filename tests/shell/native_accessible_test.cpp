// The native window as assistive technology reads it: the program's own window
// document with tags, a search tag and a long quote list, laid out by the native
// view offscreen, then read through Qt's accessibility interfaces the way a
// screen reader's bridge reads them.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QInputMethodEvent>
#include <chrono>
#include <functional>
#include <memory>

#include "layout/dom.h"
#include "layout/long_list.h"
#include "shell/platform/qt/native_accessible.h"
#include "shell/platform/qt/native_view.h"
#include "view/fragments.h"

namespace {

using hrd::qt::native_view;

std::string source_file(const char* name) {
    QFile file(QString(HOARDLY_SOURCE_DIR "/res/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll().toStdString();
}

// A clip meant to confuse: markup, an entity, a right-to-left override, line
// breaks and a control character.
const std::u16string hostile = u"<b>bold</b> &amp; \u202Eevil\n\n\tnext\u0001 line";

std::u16string long_text() {
    std::u16string text;
    for (int i = 0; i < 1000; ++i) {
        text += u"word ";
    }
    return text;
}

struct quotes final : layout::row_source {
    std::vector<hrd::tag> tags{hrd::tag(1, u"alpha"), hrd::tag(2, u"beta")};
    std::size_t count = 1000;
    std::size_t row_count() const override { return count; }
    void append_rows(std::size_t first, std::size_t last, std::string& markup) override {
        for (std::size_t i = first; i < last; ++i) {
            hrd::quote q(hrd::record_id(i + 1),
                         i == 0   ? hostile
                         : i == 1 ? long_text()
                                  : u"quote " + QString::number(i).toStdU16String(),
                         0);
            q.m_tags = {1, 2};
            markup += hrd::fragments::table_row(hrd::fragments::quote_block(
                q, [this](hrd::record_id id) { return &tags[std::size_t(id - 1)]; }));
        }
    }
    std::int64_t row_key(std::size_t index) const override { return std::int64_t(index + 1); }
};

// What a screen reader would hear: each event's type with the role and name of
// what it is about.
struct heard_event {
    QAccessible::Event type;
    QAccessible::Role role;
    QString name;
    QAccessible::State changed;
};
std::vector<heard_event> heard;

void hear(QAccessibleEvent* event) {
    QAccessibleInterface* iface = event->accessibleInterface();
    heard_event h{event->type(), iface ? iface->role() : QAccessible::NoRole,
                  iface ? iface->text(QAccessible::Name) : QString(), {}};
    if (event->type() == QAccessible::StateChanged) {
        h.changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
    }
    heard.push_back(h);
}

struct window {
    int argc = 1;
    char name[16] = "a11y";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    layout::document document;
    quotes rows;
    std::unique_ptr<native_view> view;

    window() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
        document.load_html(source_file("mainform.htm"));
        const layout::handle root = document.root();
        layout::set_html(layout::find_first(root, "#taglist"),
                         hrd::fragments::table_row(hrd::fragments::tag_entry(rows.tags[0])) +
                             hrd::fragments::table_row(hrd::fragments::tag_entry(rows.tags[1])),
                         layout::html_place::append);
        const layout::handle bar = layout::find_first(root, "#p-searchbar");
        layout::set_inner_text(bar, u"");
        layout::set_html(bar, hrd::fragments::search_tag(rows.tags[1]), layout::html_place::append);
        layout::set_row_source(layout::find_first(root, "#thequotelist"), &rows);
        view = std::make_unique<native_view>(
            document, [](const std::function<void()>& f) { f(); },
            source_file("mainform.css") + "\n" + source_file("native.css"));
        view->resize(1000, 700);
        view->show();
        hrd::qt::set_accessibility_listener(hear);
        heard.clear();
        settle();
    }
    ~window() {
        hrd::qt::set_accessibility_listener(nullptr);
        view.reset();
    }

    // Runs the loop until the changes so far are laid out.
    void settle() {
        bool done = false;
        QCoreApplication::processEvents();
        view->when_settled([&] { done = view->layouts() > 0; });
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            view->when_settled([&] { done = view->layouts() > 0; });
        }
        ASSERT_TRUE(done);
    }
    layout::handle find(const char* selector) { return layout::find_first(document.root(), selector); }
    QAccessibleInterface* root() { return QAccessible::queryAccessibleInterface(view.get()); }
    // The view's child with this role and name.
    QAccessibleInterface* part(QAccessible::Role role, const QString& name) {
        for (int i = 0; i < root()->childCount(); ++i) {
            QAccessibleInterface* c = root()->child(i);
            if (c->role() == role && c->text(QAccessible::Name) == name) {
                return c;
            }
        }
        return nullptr;
    }
    bool heard_of(QAccessible::Event type, const QString& name) const {
        return std::any_of(heard.begin(), heard.end(), [&](const heard_event& h) {
            return h.type == type && h.name == name;
        });
    }
};

TEST(qt_desktop_accessible, the_window_parts_come_in_order_with_roles_names_and_boxes) {
    window w;
    QAccessibleInterface* root = w.root();
    ASSERT_NE(root, nullptr);
    std::vector<std::pair<QAccessible::Role, std::string>> parts;
    for (int i = 0; i < root->childCount(); ++i) {
        parts.emplace_back(root->child(i)->role(),
                           root->child(i)->text(QAccessible::Name).toStdString());
        EXPECT_EQ(root->indexOfChild(root->child(i)), i);
        EXPECT_EQ(root->child(i)->parent(), root);
    }
    // Closed menus are not there; the clear button's "×" reads as its title.
    const std::vector<std::pair<QAccessible::Role, std::string>> expected{
        {QAccessible::List, "Search bar"},     {QAccessible::EditableText, "Find text"},
        {QAccessible::PushButton, "Clear the text"}, {QAccessible::PushButton, "All tags"},
        {QAccessible::PushButton, "Any tag"},  {QAccessible::PushButton, "Clear"},
        {QAccessible::PushButton, "Export..."}, {QAccessible::PushButton, "New tag"},
        {QAccessible::List, "Tags"},           {QAccessible::List, "Quotes"},
        {QAccessible::StatusBar,
         "Press Ctrl+C twice in any program to keep what you copied. F1: help."}};
    EXPECT_EQ(parts, expected);

    QAccessibleInterface* bar = w.part(QAccessible::List, "Search bar");
    ASSERT_EQ(bar->childCount(), 1);
    EXPECT_EQ(bar->child(0)->role(), QAccessible::ListItem);
    EXPECT_EQ(bar->child(0)->text(QAccessible::Name), "beta");
    QAccessibleInterface* tags = w.part(QAccessible::List, "Tags");
    ASSERT_EQ(tags->childCount(), 2);
    EXPECT_EQ(tags->child(1)->text(QAccessible::Name), "beta");
    EXPECT_TRUE(tags->state().multiSelectable);

    // Only the rows the long list holds are there; hidden ones are not laid out.
    const layout::handle list = w.find("#thequotelist");
    QAccessibleInterface* quotes = w.part(QAccessible::List, "Quotes");
    const layout::row_range held = layout::held_rows(list);
    ASSERT_LT(held.size(), layout::row_count(list));
    ASSERT_EQ(quotes->childCount(), int(held.size()));
    QAccessibleInterface* first = quotes->child(0);
    EXPECT_EQ(first->role(), QAccessible::ListItem);
    EXPECT_EQ(first->text(QAccessible::Name), "<b>bold</b> &amp; evil next line");
    EXPECT_EQ(first->text(QAccessible::Description), "Tags: alpha, beta");
    const QString cut = quotes->child(1)->text(QAccessible::Name);
    EXPECT_LE(cut.size(), 161);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    EXPECT_FALSE(first->state().invisible);
    EXPECT_TRUE(quotes->child(quotes->childCount() - 1)->state().offscreen);
    // A row's own parts: its tags and its button.
    ASSERT_EQ(first->childCount(), 3);
    EXPECT_EQ(first->child(2)->role(), QAccessible::PushButton);
    EXPECT_TRUE(first->child(2)->state().hasPopup);

    // Boxes are the laid-out ones; the point finds the part, then the row.
    const QRect clear = w.part(QAccessible::PushButton, "Clear")->rect();
    EXPECT_EQ(clear, *w.view->box_on_screen(layout::serial_of(w.find("#clear-search"))));
    EXPECT_EQ(root->childAt(clear.center().x(), clear.center().y()),
              w.part(QAccessible::PushButton, "Clear"));
    const QRect row = first->rect();
    ASSERT_FALSE(row.isEmpty());
    EXPECT_EQ(root->childAt(row.center().x(), row.center().y()), quotes);
    EXPECT_EQ(quotes->childAt(row.center().x(), row.center().y()), first);
}

TEST(qt_desktop_accessible, focus_edits_selection_and_removal_are_told_after_layout) {
    window w;
    QAccessibleInterface* field = w.part(QAccessible::EditableText, "Find text");
    QAccessibleInterface* quotes = w.part(QAccessible::List, "Quotes");
    QAccessibleInterface* row = quotes->child(2);
    QAccessibleInterface* tags = w.part(QAccessible::List, "Tags");
    QAccessibleInterface* beta = tags->child(1);

    // Typing into the focused field: focus, then its new value.
    w.document.set_focus(w.find("#find-text"));
    w.document.text_input(w.find("#find-text"), u"abc\u202e");
    w.settle();
    EXPECT_TRUE(w.heard_of(QAccessible::Focus, "Find text"));
    EXPECT_TRUE(field->state().focused);
    EXPECT_EQ(w.root()->focusChild(), field);
    EXPECT_EQ(field->text(QAccessible::Value), "abc");
    EXPECT_TRUE(w.heard_of(QAccessible::ValueChanged, "Find text"));
    EXPECT_TRUE(w.heard_of(QAccessible::TextUpdated, "Find text"));
    ASSERT_TRUE(field->textInterface());
    EXPECT_EQ(field->textInterface()->text(1, 3), "bc");

    // The focused list speaks of its current row; checked rows are selected.
    heard.clear();
    const layout::handle list = w.find("#thequotelist");
    w.document.set_focus(list);
    layout::set_current_row(list, 2);
    layout::set_rows_checked(list, {2, 3}, true);
    w.settle();
    EXPECT_TRUE(w.heard_of(QAccessible::Focus, "quote 2"));
    EXPECT_TRUE(row->state().focused && row->state().selected && row->state().active);
    EXPECT_EQ(quotes->focusChild(), row);
    const auto selected = std::find_if(heard.begin(), heard.end(), [](const heard_event& h) {
        return h.type == QAccessible::StateChanged && h.name == "quote 2";
    });
    ASSERT_NE(selected, heard.end());
    EXPECT_TRUE(selected->changed.selected);

    // A tag renamed in place is an editable text with its name as value.
    layout::set_attribute_utf8(w.find("#taglist"), "editable", "");
    const layout::handle second = layout::row_at(w.find("#taglist"), 1);
    const layout::handle name = layout::find_first(second, ".vtag");
    layout::set_attribute_utf8(name, "editing", "");
    w.document.set_focus(name);
    w.settle();
    EXPECT_EQ(beta->role(), QAccessible::EditableText);
    EXPECT_EQ(beta->text(QAccessible::Value), "beta");
    EXPECT_TRUE(beta->state().editable && beta->state().focused);
    EXPECT_EQ(beta->textInterface()->characterCount(), 4);
    EXPECT_TRUE(w.heard_of(QAccessible::Focus, "beta"));
    w.document.text_input(name, u"gamma");
    w.settle();
    EXPECT_TRUE(w.heard_of(QAccessible::NameChanged, "gamma"));

    // A row taken out goes, and its list hears of it.
    heard.clear();
    layout::delete_element(second);
    w.settle();
    EXPECT_EQ(tags->childCount(), 1);
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](const heard_event& h) {
        return h.type == QAccessible::ObjectReorder && h.name == "Tags";
    }));
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(),
                            [](const heard_event& h) { return h.type == QAccessible::ObjectDestroyed; }));
}

// Records the clicks the document delivers, as a behavior would see them.
std::vector<std::pair<std::uint32_t, std::string>> clicks;
bool record_click(void*, layout::handle, std::uint32_t group, void* params) {
    if (group == layout::event_group::behavior_event) {
        const auto* p = static_cast<layout::behavior_event_params*>(params);
        if (p->cmd == layout::behavior_event::button_click ||
            p->cmd == layout::behavior_event::menu_item_click) {
            clicks.emplace_back(p->cmd, layout::get_inner_text_utf8(p->source).value_or(""));
        }
    }
    return false;
}

TEST(qt_desktop_accessible, press_goes_through_the_document_and_menus_show_while_open) {
    window w;
    clicks.clear();
    layout::attach_event_handler(w.document.root(), record_click, nullptr,
                                 layout::event_group::behavior_event);

    QAccessibleInterface* clear = w.part(QAccessible::PushButton, "Clear");
    ASSERT_TRUE(clear->actionInterface());
    EXPECT_TRUE(clear->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    clear->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    w.settle();
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0], std::make_pair(std::uint32_t(layout::behavior_event::button_click),
                                        std::string("Clear")));
    EXPECT_TRUE(clear->state().focused);  // a press focuses a button, as the pointer does

    const layout::handle owner = w.find("#thequotelist");
    layout::show_popup_at(w.find("#quote-menu"), owner, {300, 200}, 2);
    w.settle();
    QAccessibleInterface* menu = w.root()->child(w.root()->childCount() - 1);
    ASSERT_EQ(menu->role(), QAccessible::PopupMenu);
    ASSERT_EQ(menu->childCount(), 4);
    QAccessibleInterface* copy = menu->child(1);
    EXPECT_EQ(copy->role(), QAccessible::MenuItem);
    EXPECT_EQ(copy->text(QAccessible::Name), "Copy");
    EXPECT_FALSE(copy->state().invisible);

    copy->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    w.settle();
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[1], std::make_pair(std::uint32_t(layout::behavior_event::menu_item_click),
                                        std::string("Copy")));
    // Closed, the menu and its items are gone.
    EXPECT_NE(w.root()->child(w.root()->childCount() - 1)->role(), QAccessible::PopupMenu);
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(),
                            [](const heard_event& h) { return h.type == QAccessible::ObjectDestroyed; }));
}

}  // namespace

namespace {

// Composed text (an input method's) goes into the field being edited as typed
// text does, and the input method is told where the caret is; with nothing being
// edited it composes nothing.
TEST(qt_desktop_native, an_input_method_types_into_the_edited_field_only) {
    window w;
    const auto commit = [&](const QString& text) {
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(w.view.get(), &event);
        w.settle();
    };
    // As Qt asks it: through the widget.
    const auto query = [&](Qt::InputMethodQuery what) {
        return static_cast<QWidget&>(*w.view).inputMethodQuery(what);
    };
    w.document.set_focus(w.find("#thequotelist"));
    w.settle();
    EXPECT_FALSE(query(Qt::ImEnabled).toBool());
    commit(QString::fromUtf8("\xE6\x97\xA5"));
    EXPECT_EQ(layout::get_inner_text(w.find("#find-text")), u"");

    w.document.set_focus(w.find("#find-text"));
    w.settle();
    EXPECT_TRUE(query(Qt::ImEnabled).toBool());
    commit(QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"));
    EXPECT_EQ(layout::get_inner_text(w.find("#find-text")), u"\u65E5\u672C \U0001F600");
    EXPECT_EQ(query(Qt::ImSurroundingText).toString().toStdU16String(),
              u"\u65E5\u672C \U0001F600");
    const QRect caret = query(Qt::ImCursorRectangle).toRect();
    const auto field = w.view->box_on_screen(layout::serial_of(w.find("#find-text")));
    ASSERT_TRUE(field);
    EXPECT_TRUE(QRect(w.view->mapFromGlobal(field->topLeft()), field->size())
                    .adjusted(-1, -1, 1, 1)
                    .contains(caret.center()))
        << caret.x() << "," << caret.y();
}

// Each quote row is laid out as a document of its own and kept while its markup
// stays the same: a change to one row lays out that row alone, a row put in on top
// one row, and the rows stack down the pane as one list would, where the pointer,
// the rings and the boxes find them.
TEST(qt_desktop_native, a_row_is_laid_out_again_only_when_it_changed) {
    window w;
    const layout::handle list = w.find("#thequotelist");
    const auto box = [&](layout::handle element) {
        const auto shown = w.view->box_on_screen(layout::serial_of(element));
        return shown ? QRect(w.view->mapFromGlobal(shown->topLeft()), shown->size()) : QRect();
    };
    // The rows laid out from the top (row 1 is taller than the pane).
    const auto rows_shown = [&] {
        std::vector<QRect> boxes;
        for (std::size_t i = 0; i < 5 && !box(layout::row_at(list, i)).isEmpty(); ++i) {
            boxes.push_back(box(layout::row_at(list, i)));
        }
        return boxes;
    };
    const std::vector<QRect> before = rows_shown();
    ASSERT_GE(before.size(), 3u);
    for (std::size_t i = 1; i < before.size(); ++i) {
        EXPECT_EQ(before[i].top(), before[i - 1].bottom() + 1) << i;
        EXPECT_EQ(before[i].left(), before[0].left());
    }
    // The list's own box is its rows', from the first down.
    const QRect whole = box(list);
    EXPECT_EQ(whole.top(), before.front().top());
    EXPECT_GE(whole.bottom(), before.back().bottom());
    // The point finds each row where it lies, whichever document holds it; below
    // the pane the rows are hidden.
    const QRect pane = box(w.find("#quotepane"));
    const auto in_row = [&](std::uint32_t serial, std::size_t index) {
        for (layout::handle e = w.document.element_by_serial(serial); e; e = layout::parent(e)) {
            if (e == layout::row_at(list, index)) {
                return true;
            }
        }
        return false;
    };
    for (std::size_t i = 0; i < before.size(); ++i) {
        const QPoint at = box(layout::find_first(layout::row_at(list, i), "td.text")).center();
        EXPECT_EQ(in_row(w.view->element_at(at.x(), at.y()), i), pane.contains(at)) << i;
        const layout::handle tag = layout::find_first(layout::row_at(list, i), "div.qtag");
        const QPoint on_tag = box(tag).center();
        if (pane.contains(on_tag)) {
            EXPECT_EQ(w.view->element_at(on_tag.x(), on_tag.y()), layout::serial_of(tag)) << i;
        }
    }

    // A row checked and made current: that row alone again, with its ring; the
    // window around it is not laid out again.
    const std::uint64_t rows = w.view->rows_made();
    const std::uint64_t chromes = w.view->chromes_made();
    layout::set_rows_checked(list, {2, 3}, true);
    w.settle();
    EXPECT_EQ(w.view->rows_made(), rows + 1);
    EXPECT_EQ(w.view->chromes_made(), chromes);
    EXPECT_EQ(rows_shown(), before);
    const layout::handle quote = layout::find_first(layout::row_at(list, 2), "div.quote");
    EXPECT_FALSE(w.view->draws_ring(layout::serial_of(quote)));
    layout::set_current_row(list, 2);
    w.settle();
    EXPECT_EQ(w.view->rows_made(), rows + 2);
    EXPECT_TRUE(w.view->draws_ring(layout::serial_of(quote)));
    EXPECT_EQ(rows_shown(), before);

    // A row put in on top: one row laid out, the others move down by its height.
    const std::uint64_t before_capture = w.view->rows_made();
    ++w.rows.count;
    layout::rows_inserted(list, 0, 1);
    w.settle();
    EXPECT_EQ(w.view->rows_made(), before_capture + 1);
    const std::vector<QRect> after = rows_shown();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[1].top(), after[0].bottom() + 1);
    EXPECT_EQ(after[1].height(), before[0].height());
    EXPECT_EQ(after[2].height(), before[1].height());

    // A narrower window lays every row out again.
    const std::uint64_t before_resize = w.view->rows_made();
    w.view->resize(800, 700);
    w.settle();
    EXPECT_GE(w.view->rows_made(), before_resize + rows_shown().size());
    EXPECT_LT(box(layout::row_at(list, 0)).width(), after[0].width());
}

}  // namespace
