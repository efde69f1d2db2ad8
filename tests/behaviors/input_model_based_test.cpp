// Long random sequences of what a user does with mouse and keyboard (clicks,
// double clicks, drags, menus, typing, Delete, Ctrl+C), mixed with input that
// means nothing (releases without a press, stray moves, right-button double
// clicks, keys with nothing selected). After every step the document must show
// exactly what an independent reference of the collection says, and the store
// must hold it.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "behaviors/grid.h"
#include "fml/text.h"
#include "support/collection_reference.h"
#include "ui_fixture.h"

using namespace hrd;
using layout::handle;
namespace vk = htmlayout::vk;

namespace {

using reference = test::collection_reference;

bool blank(const std::u16string& s) {
    return s.find_first_not_of(u" \t\r\n\u00A0") == std::u16string::npos;
}

class input_model_based : public ::testing::Test {
protected:
    input_model_based() { ui.empty_collection(); }

    std::u16string random_name() {
        static const std::u16string pieces[] = {u"<b>", u"</td>",  u"&amp;",  u"\"", u"'",
                                                u" ",   u"\u00E9", u"\u65E5", u"x"};
        std::u16string name;
        const unsigned length = m_random() % 8;
        for (unsigned i = 0; i < length; ++i) {
            name += m_random() % 2 ? std::u16string(1, char16_t(u'a' + m_random() % 4))
                                   : pieces[m_random() % std::size(pieces)];
        }
        return name;
    }
    // Enter on a name the list refuses: the words why show beside it and the editor
    // stays open; the user then leaves it, with Escape or a click elsewhere.
    void refused_then_left() {
        EXPECT_NE(layout::find_first(ui.tag_list(), "div.refusal"), nullptr);
        EXPECT_TRUE(layout::get_attribute(ui.tag_list(), "editable"));
        if (m_random() % 2) {
            ui.key(layout::key_code::escape);
        } else {
            ui.click(ui.by_id("p-searchbar"));
        }
        EXPECT_EQ(layout::find_first(ui.tag_list(), "div.refusal"), nullptr);
    }
    template <class Map>
    record_id pick(const Map& map) {
        auto it = map.begin();
        std::advance(it, m_random() % map.size());
        return it->first;
    }
    std::vector<record_id> shown_with_tags() {
        std::vector<record_id> out;
        for (record_id q : m_ref.shown)
            if (!m_ref.quotes[q].tags.empty())
                out.push_back(q);
        return out;
    }
    // Selects shown quotes: a click then a Shift+click on a row far away (the rows
    // between never built), Ctrl+A from the keyboard, or a click then Ctrl+clicks.
    std::vector<record_id> select_quotes() {
        const auto shown = m_ref.shown;
        switch (m_random() % 4) {
            case 0: {
                const std::size_t a = m_random() % shown.size();
                const std::size_t b = m_random() % shown.size();
                ui.click(ui.quote_text(shown[a]));
                ui.click(ui.quote_text(shown[b]), layout::key_state::shift);
                return {shown.begin() + std::ptrdiff_t(std::min(a, b)),
                        shown.begin() + std::ptrdiff_t(std::max(a, b)) + 1};
            }
            case 1:
                ui.click(ui.quote_text(shown[m_random() % shown.size()]));
                ui.key(vk::a, layout::key_state::control);
                return shown;
            default:
                break;
        }
        std::vector<record_id> chosen;
        for (record_id q : shown) {
            if (m_random() % 3 == 0)
                chosen.push_back(q);
        }
        if (chosen.empty())
            chosen.push_back(shown[m_random() % shown.size()]);
        ui.click(ui.quote_text(chosen[0]));
        for (std::size_t i = 1; i < chosen.size(); ++i)
            ui.click(ui.quote_text(chosen[i]), layout::key_state::control);
        // Row order, which is how the list hands them on.
        std::vector<record_id> ordered;
        for (record_id q : shown)
            if (std::ranges::find(chosen, q) != chosen.end())
                ordered.push_back(q);
        return ordered;
    }
    void forget_tag(record_id t) {
        m_ref.tags.erase(t);
        for (auto& [id, q] : m_ref.quotes)
            std::erase(q.tags, t);
        if (std::erase(m_ref.search, t) > 0)
            m_ref.rebuild();
    }
    void rebuild_if_searching() {
        if (!m_ref.search.empty())
            m_ref.rebuild();
    }

    // Input that must change nothing stored.
    void noise() {
        std::vector<handle> targets{ui.by_id("p-searchbar"), ui.by_id("recycled"),
                                    ui.by_id("statusbar"),   ui.quote_list(),
                                    ui.tag_list(),           ui.doc().root()};
        if (!m_ref.tags.empty())
            targets.push_back(ui.tag(pick(m_ref.tags)));
        if (!m_ref.quotes.empty() && !m_ref.shown.empty())
            targets.push_back(ui.quote_text(m_ref.shown.front()));
        handle target = targets[m_random() % targets.size()];
        const layout::point pos{int(m_random() % 900), int(m_random() % 600)};
        switch (m_random() % 6) {
            case 0:  // a release that no press began
                ui.doc().mouse_input(target, layout::mouse_event::up, pos,
                                     layout::mouse_button::main, 0);
                break;
            case 1:
                ui.doc().mouse_input(target, layout::mouse_event::move, pos,
                                     layout::mouse_button::main, 0);
                break;
            case 2:
                ui.doc().mouse_input(target, layout::mouse_event::double_click, pos,
                                     layout::mouse_button::secondary, 0);
                break;
            case 3:
                ui.key(std::array{vk::up, vk::down, vk::home, vk::end, vk::page_down,
                                  vk::page_up}[m_random() % 6],
                       m_random() % 2 ? std::uint32_t(layout::key_state::shift) : 0u);
                break;
            case 4:
                ui.key(layout::key_code::escape);
                break;
            default:
                ui.doc().set_focus(nullptr);
                ui.key(vk::del);
                break;
        }
    }

    std::string step() {
        if (m_random() % 4 == 0) {  // the page scrolls somewhere
            layout::hold_rows(ui.quote_list(), m_random() % (m_ref.shown.size() + 3), window_rows);
        }
        const unsigned what = m_random() % 20;
        if (what < 3 || m_ref.quotes.empty()) {
            const std::u16string text = u"clip " + random_name();
            const record_id q = ui.add_quote(text);
            m_ref.quotes[q] = {text, {}};
            m_ref.shown.insert(m_ref.shown.begin(), q);
            return "add quote";
        }
        if (what < 5 || m_ref.tags.size() < 2) {
            const std::u16string name =
                m_ref.tags.empty() || m_random() % 4 ? random_name() : m_ref.tags.begin()->second;
            ui.click(ui.by_id("add-tag"));
            if (m_random() % 2) {
                ui.type(name);
            } else {
                ui.doc().text_input(ui.doc().focus(), name);
            }
            if (m_random() % 4 == 0) {
                ui.key(layout::key_code::escape);
                return "add tag cancelled";
            }
            ui.key(layout::key_code::enter);
            if (!blank(name) && !m_ref.name_taken(name, 0)) {
                m_ref.tags[ui.tag_named(name)] = name;
            } else {
                refused_then_left();
            }
            return "add tag";
        }
        const record_id t = pick(m_ref.tags);
        const auto shown = m_ref.shown;
        switch (what) {
            case 5: {
                const std::u16string name = m_random() % 3 ? random_name() : pick_name();
                ui.click(ui.tag(t));
                ui.key(vk::f2);
                ui.doc().text_input(ui.tag(t), name);
                const unsigned how = m_random() % 3;
                if (how == 0) {
                    ui.key(layout::key_code::escape);
                    return "rename cancelled";
                }
                if (how == 1) {
                    ui.key(layout::key_code::enter);
                    if (blank(name) || m_ref.name_taken(name, t)) {
                        refused_then_left();
                    }
                } else {
                    ui.click(ui.by_id("p-searchbar"));  // elsewhere: commits
                }
                if (!blank(name) && !m_ref.name_taken(name, t))
                    m_ref.tags[t] = name;
                return "rename tag";
            }
            case 6:
                ui.click(ui.tag(t));
                ui.key(vk::del);
                forget_tag(t);
                return "delete tag";
            case 7:
            case 8: {
                if (shown.empty())
                    return "skip";
                const record_id q = shown[m_random() % shown.size()];
                auto& carried = m_ref.quotes[q].tags;
                const bool has = std::ranges::find(carried, t) != carried.end();
                if (what == 7) {
                    // Pressing on one of several selected tags drags them all; a
                    // click first selects this one alone.
                    ui.click(ui.tag(t));
                    ui.drag(ui.tag(t), ui.quote_text(q));
                    if (!has)
                        carried.push_back(t);
                    return "mark by drag";
                }
                ui.click(layout::find_first(ui.quote(q), "button.managetags"));
                ui.click(ui.by_id(ids::menu_item(t)));
                ui.key(layout::key_code::escape);
                if (has) {
                    std::erase(carried, t);
                    rebuild_if_searching();
                } else {
                    carried.push_back(t);
                }
                return "mark by menu";
            }
            case 9: {
                const auto tagged = shown_with_tags();
                if (tagged.empty())
                    return "skip";
                const record_id q = tagged[m_random() % tagged.size()];
                auto& carried = m_ref.quotes[q].tags;
                const record_id off = carried[m_random() % carried.size()];
                ui.quote(q);  // scrolled to first
                ui.drag(ui.by_id(ids::quote_tag(q, off)), ui.by_id("recycled"));
                std::erase(carried, off);
                rebuild_if_searching();
                return "unmark by drag";
            }
            case 10:
            case 11:
                if (what == 10)
                    ui.double_click(ui.tag(t));
                else {
                    ui.click(ui.tag(t));
                    ui.drag(ui.tag(t), ui.by_id("p-searchbar"));
                }
                if (std::ranges::find(m_ref.search, t) == m_ref.search.end()) {
                    m_ref.search.push_back(t);
                    m_ref.rebuild();
                }
                return "search add";
            case 12: {
                if (m_ref.search.empty())
                    return "skip";
                const record_id s = m_ref.search[m_random() % m_ref.search.size()];
                ui.double_click(ui.by_id(ids::search_tag(s)));
                std::erase(m_ref.search, s);
                m_ref.rebuild();
                return "search remove";
            }
            case 13:
                m_ref.any_mode = m_random() % 2;
                ui.click(ui.by_id(m_ref.any_mode ? "mode-or" : "mode-and"));
                rebuild_if_searching();
                return "mode";
            case 14:
                ui.click(ui.by_id("clear-search"));
                if (!m_ref.search.empty()) {
                    m_ref.search.clear();
                    m_ref.rebuild();
                }
                return "clear";
            case 15: {
                if (shown.empty())
                    return "skip";
                for (record_id q : select_quotes()) {
                    m_ref.quotes.erase(q);
                    std::erase(m_ref.shown, q);
                }
                ui.key(vk::del);
                return "delete quotes";
            }
            case 16: {
                if (shown.empty())
                    return "skip";
                std::u16string expected;
                for (record_id q : select_quotes())
                    expected += m_ref.quotes[q].text + u"\r\n\r\n";
                ui.key(vk::c, layout::key_state::control);
                EXPECT_EQ(ui.clip->read_text(), expected);
                return "copy";
            }
            default:
                noise();
                return "noise";
        }
    }
    std::u16string pick_name() { return m_ref.tags.at(pick(m_ref.tags)); }

    void check(const std::string& after) {
        SCOPED_TRACE("after " + after);
        std::vector<record_id> expected_tags;
        for (auto it = m_ref.tags.rbegin(); it != m_ref.tags.rend(); ++it)
            expected_tags.push_back(it->first);
        std::vector<record_id> rows;
        layout::select_elements(ui.tag_list(), "div.vtag", [&](handle e) {
            const record_id id = ids::read(layout::get_attribute(e, "id").value_or(u""), u"vt");
            rows.push_back(id);
            EXPECT_EQ(ui.shown_text(e), m_ref.tags[id]);
            return false;
        });
        ASSERT_EQ(rows, expected_tags);
        ASSERT_EQ(ui.search_tags(), m_ref.search);
        ASSERT_EQ(ui.shown_quotes(), m_ref.shown);
        // The list holds the rows of its window, each as the store has it.
        const layout::row_range held = layout::held_rows(ui.quote_list());
        ASSERT_EQ(held.size(), std::min(window_rows, m_ref.shown.size()));
        const std::vector<record_id> in_view(m_ref.shown.begin() + std::ptrdiff_t(held.first),
                                             m_ref.shown.begin() + std::ptrdiff_t(held.last));
        ASSERT_EQ(ui.held_quotes(), in_view);
        for (record_id q : in_view) {
            std::vector<record_id> on_block;
            layout::select_elements(ui.by_id(ids::quote(q)), "div.qtag", [&](handle e) {
                on_block.push_back(
                    ids::read_quote_tag(layout::get_attribute(e, "id").value_or(u"")).second);
                return false;
            });
            ASSERT_EQ(on_block, m_ref.quotes[q].tags) << "quote " << q;
        }
        EXPECT_FALSE(layout::get_attribute(ui.tag_list(), "editable"));
    }

    static constexpr std::size_t window_rows = 6;
    test::ui_fixture ui;
    reference m_ref;
    std::mt19937 m_random;
};

TEST_F(input_model_based, random_input_keeps_the_document_and_the_store_in_step) {
    unsigned seed = std::random_device{}();
    if (const char* replay = std::getenv("HOARDLY_SEED")) {
        seed = static_cast<unsigned>(std::stoul(replay));
    }
    m_random.seed(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (set HOARDLY_SEED to replay)");
    layout::hold_rows(ui.quote_list(), 0, window_rows);
    std::map<std::string, int> done;
    for (int i = 0; i < 2500 && !HasFatalFailure(); ++i) {
        const std::string what = step();
        if (std::getenv("HOARDLY_TRACE"))
            fprintf(stderr, "%d %s\n", i, what.c_str());
        ++done[what];
        check(std::to_string(i) + ": " + what);
    }
    for (const char* kind : {"add quote", "add tag", "rename tag", "delete tag", "mark by drag",
                             "mark by menu", "unmark by drag", "search add", "search remove",
                             "mode", "clear", "delete quotes", "copy", "noise"}) {
        EXPECT_GE(done[kind], 10) << kind;
    }
    // The store holds what the reference says.
    auto& store = ui.app.model->store();
    for (const auto& [id, q] : m_ref.quotes) {
        auto stored = store.getQuote(id);
        ASSERT_FALSE(stored->empty()) << id;
        EXPECT_EQ(fml::utf82wchar(stored->current().m_utftext), q.text);
        EXPECT_EQ(stored->current().m_tags, q.tags);
    }
    for (const auto& [id, name] : m_ref.tags) {
        EXPECT_EQ(ui.tag_named(name), id);
    }
}

}  // namespace
