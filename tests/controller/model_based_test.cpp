// Long random sequences of user-level actions against the real controller, model,
// store and view, checking after every step that the document shows exactly what an
// independent reference of the collection and the search says it should. The quote
// list holds a window of a few rows that wanders about, so most actions meet rows
// that are not built.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "layout/dom.h"
#include "layout/long_list.h"
#include "support/app_fixture.h"
#include "support/collection_reference.h"
#include "view/ids.h"

using namespace hrd;
using layout::handle;

namespace {

// What the collection holds and what the window should show, kept by simple rules.
using reference = test::collection_reference;

// How the document shows a stored text: a tab as two no-break spaces.
std::u16string displayed(std::u16string text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'\t') {
            out += u"\u00A0\u00A0";
        } else {
            out += c;
        }
    }
    return out;
}

class model_based : public ::testing::Test {
protected:
    void load_reference() {
        CollectionStore& store = m_app.model->store();
        auto tags = store.tags();
        for (bool more = !tags->empty(); more; more = tags->next()) {
            m_ref.tags[tags->current().m_id] = fml::utf82wchar(tags->current().m_utfname);
        }
        auto quotes = store.quotes();
        for (bool more = !quotes->empty(); more; more = quotes->next()) {
            m_ref.quotes[quotes->current().m_id] = {fml::utf82wchar(quotes->current().m_utftext),
                                                    quotes->current().m_tags};
        }
        m_ref.max_tag = store.max_tag_id();
        m_ref.max_quote = store.max_quote_id();
        m_ref.rebuild();
    }

    std::u16string random_text(std::size_t max_length) {
        static const std::u16string pieces[] = {u"<",          u">",      u"&",
                                                u"\"",         u"'",      u"\t",
                                                u"\r\n",       u"\n",     u"<script>x()</script>",
                                                u"&amp;",      u"\u00E9", u"\u65E5",
                                                u"\U0001F600", u" ",      u"-"};
        std::u16string text;
        const std::size_t length = 1 + m_random() % max_length;
        while (text.size() < length) {
            const unsigned pick = m_random() % 10;
            if (pick < 5) {
                text += char16_t(u'a' + m_random() % 26);
            } else if (pick < 9) {
                text += pieces[m_random() % std::size(pieces)];
            } else {
                text += char16_t(0xD800 + m_random() % 0x800);  // often a lone surrogate
            }
        }
        // The store keeps well-formed text: a lone surrogate comes back as U+FFFD.
        return fml::utf82wchar(fml::wchar2utf8(text));
    }
    std::u16string random_name() {
        std::u16string name = random_text(12);
        // The in-place editor takes one line; names start with a letter so that the
        // text never begins or ends in blanks the editor would keep anyway.
        std::replace(name.begin(), name.end(), u'\n', u' ');
        std::replace(name.begin(), name.end(), u'\r', u' ');
        std::replace(name.begin(), name.end(), u'\t', u' ');
        return u"t" + name;
    }
    template <class Map>
    record_id pick_key(const Map& map) {
        auto it = map.begin();
        std::advance(it, m_random() % map.size());
        return it->first;
    }

    bool mouse(handle element, std::uint32_t event, int x, int y) {
        vcaction action;
        action.what = mouse_record{element, event, x, y, layout::mouse_button::main, 0};
        action.element = element;
        return m_app.controller->send_safely(action);
    }
    void drag(handle from, handle to) {
        mouse(from, layout::mouse_event::down, 5, 5);
        mouse(from, layout::mouse_event::move, 25, 25);
        mouse(to, layout::mouse_event::up, 90, 90);
    }
    void execute(const char16_t* name, handle first) {
        EXPECT_TRUE(
            m_app.controller->execute_safely(named_action{name, element_pair{first, nullptr}}))
            << fml::wchar2utf8(name);
    }
    void model_event(const hrd::model_event& command) { m_app.model->handle_safely(command); }
    handle entry(record_id t) { return m_app.by_id(ids::tag_entry(t)); }
    // A shown quote's block, brought into the window as the user scrolls to it.
    handle block(record_id q) {
        const auto at = std::find(m_ref.shown.begin(), m_ref.shown.end(), q);
        if (at != m_ref.shown.end()) {
            layout::reveal_row(m_app.view->quote_list(), std::size_t(at - m_ref.shown.begin()));
        }
        return m_app.by_id(ids::quote(q));
    }

    // One random user action, applied to the program and to the reference.
    std::string step() {
        if (m_random() % 4 == 0) {  // the page scrolls somewhere
            layout::hold_rows(m_app.view->quote_list(), m_random() % (m_ref.shown.size() + 3),
                              window_rows);
        }
        const unsigned what = m_random() % 20;
        if (what < 4 || m_ref.quotes.empty()) {
            const std::u16string text = random_text(what == 0 ? 400 : 30);
            vcaction action;
            action.what = vcaction::quote_text{text};
            m_app.controller->send_safely(action);
            m_ref.quotes[++m_ref.max_quote] = {text, {}};
            m_ref.shown.insert(m_ref.shown.begin(), m_ref.max_quote);
            return "add quote";
        }
        if (what < 6 || m_ref.tags.size() < 2) {
            // The tag list's editor: a fresh row with the typed name, then add_tag.
            const std::u16string name =
                m_ref.tags.empty() || m_random() % 4 ? random_name() : m_ref.tags.begin()->second;
            layout::set_html(m_app.view->tag_list(),
                             "<tr new_tr><td><div class=\"vtag\"></div></td></tr>",
                             layout::html_place::insert_at_start);
            layout::set_inner_text(layout::find_first(m_app.view->tag_list(), "div"), name);
            model_event(model_events::add_tag{name});
            if (!m_ref.name_taken(name, 0)) {
                m_ref.tags[++m_ref.max_tag] = name;
            }
            return "add tag";
        }
        const record_id t = pick_key(m_ref.tags);
        const record_id q = pick_key(m_ref.quotes);
        const bool q_shown =
            std::find(m_ref.shown.begin(), m_ref.shown.end(), q) != m_ref.shown.end();
        auto& carried = m_ref.quotes[q].tags;
        const bool q_has_t = std::find(carried.begin(), carried.end(), t) != carried.end();
        switch (what) {
            case 6: {
                const std::u16string name =
                    m_random() % 3 ? random_name() : m_ref.tags.begin()->second;
                layout::set_inner_text(entry(t), name);  // typed in place, then committed
                const tag_rename rename{t, name};
                model_event(model_events::rename_tag{rename});
                if (!m_ref.name_taken(name, t))
                    m_ref.tags[t] = name;
                return "rename tag";
            }
            case 7: {
                execute(u"delete_vtag", entry(t));
                m_ref.tags.erase(t);
                for (auto& [id, quote] : m_ref.quotes) {
                    quote.tags.erase(std::remove(quote.tags.begin(), quote.tags.end(), t),
                                     quote.tags.end());
                }
                if (std::find(m_ref.search.begin(), m_ref.search.end(), t) != m_ref.search.end()) {
                    m_ref.search.erase(std::find(m_ref.search.begin(), m_ref.search.end(), t));
                    m_ref.rebuild();
                }
                return "delete tag";
            }
            case 8:
            case 9:
                if (!q_shown)
                    return "skip";
                if (what == 8) {
                    drag(entry(t), block(q));
                } else {
                    const quote_mark mark{q, t};
                    model_event(model_events::mark_quote{mark});
                }
                if (!q_has_t)
                    carried.push_back(t);
                return "mark";
            case 10: {
                // A tag on a quote that is shown.
                std::vector<record_id> tagged;
                for (record_id s : m_ref.shown) {
                    if (!m_ref.quotes[s].tags.empty())
                        tagged.push_back(s);
                }
                if (tagged.empty())
                    return "skip";
                const record_id on = tagged[m_random() % tagged.size()];
                auto& its = m_ref.quotes[on].tags;
                const record_id off = its[m_random() % its.size()];
                if (m_random() % 2 && block(on) != nullptr) {
                    drag(m_app.by_id(ids::quote_tag(on, off)), m_app.by_id("recycled"));
                } else {
                    const quote_mark mark{on, off};
                    model_event(model_events::delete_mark{mark});
                }
                its.erase(std::find(its.begin(), its.end(), off));
                if (!m_ref.search.empty()) {
                    const auto before = m_ref.shown;
                    m_ref.rebuild();
                    if (before != m_ref.shown)
                        return "unmark hiding";
                }
                return "unmark";
            }
            case 11:
            case 12:
                if (what == 11) {
                    execute(u"add_search_tag", entry(t));
                } else {
                    drag(entry(t), m_app.view->search_bar());
                }
                if (std::find(m_ref.search.begin(), m_ref.search.end(), t) == m_ref.search.end()) {
                    m_ref.search.push_back(t);
                    m_ref.rebuild();
                }
                return "search add";
            case 13: {
                if (m_ref.search.empty())
                    return "skip";
                const record_id s = m_ref.search[m_random() % m_ref.search.size()];
                execute(u"delete_search_tag", m_app.by_id(ids::search_tag(s)));
                m_ref.search.erase(std::find(m_ref.search.begin(), m_ref.search.end(), s));
                m_ref.rebuild();
                return "search remove";
            }
            case 14:
                m_ref.any_mode = m_random() % 2;
                execute(m_ref.any_mode ? u"set_search_mode_or" : u"set_search_mode_and", nullptr);
                if (!m_ref.search.empty())
                    m_ref.rebuild();
                return "mode";
            case 15:
                execute(u"clear_search_tags", nullptr);
                if (!m_ref.search.empty()) {
                    m_ref.search.clear();
                    m_ref.rebuild();
                }
                return "clear";
            case 16:
                if (!q_shown)
                    return "skip";
                if (m_random() % 2) {
                    execute(u"delete_quote", block(q));
                } else {
                    drag(block(q), m_app.by_id("recycled"));
                }
                m_ref.drop_quote(q);
                return "delete quote";
            case 17: {
                // A selection across the whole list, mostly of rows never built.
                handle table = m_app.view->quote_list();
                layout::uncheck_all_rows(table);
                std::vector<record_id> chosen;
                for (std::size_t i = 0; i < m_ref.shown.size(); ++i) {
                    if (m_random() % 8 == 0) {
                        layout::set_rows_checked(table, {i, i + 1}, true);
                        chosen.push_back(m_ref.shown[i]);
                    }
                }
                if (m_random() % 2) {
                    m_app.model->the_clipboard().write_text(u"before");
                    execute(u"copy_quotes", table);
                    std::u16string expected = chosen.empty() ? u"before" : u"";
                    for (record_id c : chosen) {
                        expected += m_ref.quotes[c].text + u"\r\n\r\n";
                    }
                    EXPECT_EQ(m_app.model->the_clipboard().read_text(), expected);
                    // Left selected, a later drag of one of them would carry them all.
                    layout::uncheck_all_rows(table);
                    return "copy quotes";
                }
                execute(u"delete_quotes", table);
                for (record_id gone : chosen)
                    m_ref.drop_quote(gone);
                return "delete quotes";
            }
            case 18: {
                if (!q_shown)
                    return "skip";
                execute(u"copy_quote_with_data", block(q));
                std::u16string expected = m_ref.quotes[q].text + u"\r\n\r\n";
                for (std::size_t i = 0; i < carried.size(); ++i) {
                    expected += (i ? u", " : u"") + m_ref.tags[carried[i]];
                }
                EXPECT_EQ(m_app.model->the_clipboard().read_text(), expected);
                return "copy";
            }
            default: {
                // A stale element: refused, and the window is brought back to the store.
                if (!q_shown)
                    return "skip";
                handle stale = block(q);
                layout::set_attribute(stale, "id", u"q-2000000000");

                EXPECT_FALSE(m_app.controller->execute_safely(
                    named_action{u"delete_quote", element_pair{stale, nullptr}}));
                m_ref.rebuild();
                return "stale";
            }
        }
    }

    // The document against the reference.
    void check(const std::string& after) {
        SCOPED_TRACE("after " + after);
        std::vector<record_id> expected_tags;
        for (auto it = m_ref.tags.rbegin(); it != m_ref.tags.rend(); ++it)
            expected_tags.push_back(it->first);
        std::vector<record_id> tag_rows, menu_items;
        layout::select_elements(m_app.view->tag_list(), "div.vtag", [&](handle e) {
            const record_id id =
                ids::read(layout::get_attribute(e, "id").value_or(u""), ids::tag_entry_prefix);
            tag_rows.push_back(id);
            EXPECT_EQ(layout::get_inner_text(e).value_or(u""), m_ref.tags[id]);
            return false;
        });
        layout::select_elements(m_app.view->manage_menu(), "li", [&](handle e) {
            const record_id id =
                ids::read(layout::get_attribute(e, "id").value_or(u""), ids::menu_item_prefix);
            menu_items.push_back(id);
            EXPECT_EQ(layout::get_inner_text(e).value_or(u""), m_ref.tags[id]);
            return false;
        });
        ASSERT_EQ(tag_rows, expected_tags);
        ASSERT_EQ(menu_items, expected_tags);

        std::vector<record_id> bar;
        layout::select_elements(m_app.view->search_bar(), "div.stag", [&](handle e) {
            bar.push_back(
                ids::read(layout::get_attribute(e, "id").value_or(u""), ids::search_tag_prefix));
            return false;
        });
        ASSERT_EQ(bar, m_ref.search);
        EXPECT_EQ(layout::get_attribute(m_app.view->search_bar(), "is_empty").has_value(),
                  m_ref.search.empty());
        handle any_mode = layout::find_first(m_app.view->root(), "#mode-or");
        ASSERT_NE(any_mode, nullptr);
        EXPECT_EQ((layout::get_state(any_mode) & layout::state::checked) != 0, m_ref.any_mode);

        // The whole list by its ids; the rows held are the ones of its window.
        handle list = m_app.view->quote_list();
        std::vector<record_id> listed;
        for (std::size_t i = 0; i < layout::row_count(list); ++i) {
            listed.push_back(record_id(layout::row_key(list, i).value_or(-1)));
        }
        ASSERT_EQ(listed, m_ref.shown);
        const layout::row_range held = layout::held_rows(list);
        ASSERT_LE(held.last, m_ref.shown.size());
        ASSERT_EQ(held.size(), std::min(m_ref.shown.size(), window_rows));
        std::vector<record_id> shown;
        layout::select_elements(list, "div.quote", [&](handle e) {
            const record_id q =
                ids::read(layout::get_attribute(e, "id").value_or(u""), ids::quote_prefix);
            shown.push_back(q);
            const auto& expected = m_ref.quotes[q];
            EXPECT_EQ(layout::get_inner_text(layout::find_first(e, "td.text")).value_or(u"<none>"),
                      displayed(expected.text))
                << "quote " << q;
            std::vector<record_id> on_block;
            layout::select_elements(e, "div.qtag", [&](handle t) {
                const auto [qq, tt] =
                    ids::read_quote_tag(layout::get_attribute(t, "id").value_or(u""));
                EXPECT_EQ(qq, q);
                EXPECT_EQ(layout::get_inner_text(t).value_or(u""), m_ref.tags[tt]);
                on_block.push_back(tt);
                return false;
            });
            EXPECT_EQ(on_block, expected.tags) << "quote " << q;
            return false;
        });
        ASSERT_EQ(shown, std::vector<record_id>(m_ref.shown.begin() + std::ptrdiff_t(held.first),
                                                m_ref.shown.begin() + std::ptrdiff_t(held.last)));
    }

    static constexpr std::size_t window_rows = 5;
    test::app_fixture m_app;
    reference m_ref;
    std::mt19937 m_random;
};

}  // namespace

TEST_F(model_based, random_user_actions_keep_the_document_in_step_with_the_store) {
    const unsigned seed = std::random_device{}();
    m_random.seed(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (set HOARDLY_SEED to replay)");
    if (const char* replay = std::getenv("HOARDLY_SEED")) {
        m_random.seed(static_cast<unsigned>(std::stoul(replay)));
    }
    load_reference();
    layout::hold_rows(m_app.view->quote_list(), 0, window_rows);
    check("load");
    std::map<std::string, int> done_count;
    for (int i = 0; i < 5000 && !HasFatalFailure(); ++i) {
        const std::string done = step();
        ++done_count[done];
        check(std::to_string(i) + ": " + done);
    }
    // Every kind of action really ran, many times.
    for (const char* kind : {"add quote", "add tag", "rename tag", "delete tag", "mark", "unmark",
                             "unmark hiding", "search add", "search remove", "mode", "clear",
                             "delete quote", "delete quotes", "copy quotes", "copy", "stale"}) {
        EXPECT_GE(done_count[kind], std::string(kind) == "unmark hiding" ? 3 : 20) << kind;
    }
    // What the store holds at the end is what the reference says.
    for (const auto& [id, quote] : m_ref.quotes) {
        auto stored = m_app.model->store().getQuote(id);
        ASSERT_EQ(fml::utf82wchar(stored->current().m_utftext), quote.text);
        ASSERT_EQ(stored->current().m_tags, quote.tags);
    }
}
