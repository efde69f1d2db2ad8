// The lines each user action writes to the logs, exactly and in order: people and
// scripts read these files, so their texts are kept as they are, odd spellings
// included.

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "controller/controller.h"
#include "layout/dom.h"
#include "support/app_fixture.h"
#include "view/ids.h"

using namespace hrd;
using layout::handle;

namespace {

constexpr const char* log_names[] = {"app", "profile", "debug", "events", "cntrl", "model", "logic"};

// What each log gained since the last call.
class log_tail {
public:
    explicit log_tail(const test::app_fixture& app) : m_app(app) {}
    std::map<std::string, std::string> next() {
        std::map<std::string, std::string> added;
        for (const char* name : log_names) {
            const std::string all = m_app.log(name);
            added[name] = all.substr(std::min(m_seen[name], all.size()));
            m_seen[name] = all.size();
        }
        return added;
    }

private:
    const test::app_fixture& m_app;
    std::map<std::string, std::size_t> m_seen;
};

std::string lines(std::initializer_list<std::string> each) {
    std::string out;
    for (const std::string& line : each) {
        out += line + "\n";
    }
    return out;
}

}  // namespace

TEST(log_lines, each_action_writes_its_lines_to_its_log) {
    test::app_fixture app;
    hdcontroller& controller = *app.controller;
    log_tail tail(app);
    // Start-up: the view finds its lists and loads them.
    const auto at_start = tail.next();
    EXPECT_EQ(at_start.at("app").find("taglist::init \nsuccessfull.\nthequotelist::init \n"
                                      "successfull.\n"),
              0u)
        << at_start.at("app");

    const auto execute = [&](const char16_t* name, action_data data) {
        controller.execute(named_action{name, std::move(data)});
    };
    const auto pair = [](handle first, handle second = nullptr) {
        return element_pair{first, second};
    };
    const auto mouse = [&](handle e, std::uint32_t event, int x) {
        vcaction action;
        action.what = mouse_record{e, event, x, 10, 1, 0};
        action.element = e;
        action.cls = layout::get_attribute(e, "class").value_or(u"");
        action.id = layout::get_attribute(e, "id").value_or(u"");
        controller.send_safely(action);
    };

    // The new records' ids follow the default collection's.
    const record_id q = app.model->store().max_quote_id() + 1;
    const std::string qs = std::to_string(q);
    record_id t = 0;
    std::string ts;

    struct step {
        const char* action;
        std::function<void()> run;
        std::function<std::string()> cntrl, model;
    };
    const std::vector<step> steps = {
        {"add a quote",
         [&] {
             vcaction action;
             action.what = vcaction::quote_text{u"a clip"};
             controller.send(action);
         },
         [&] { return lines({"add_quote; "}); },
         [&] { return lines({"add_quote complete; id: " + qs}); }},
        {"new tag",
         [&] {
             // The tag list's editor adds a fresh row for the typed name first.
             layout::set_html(app.view->tag_list(),
                              "<tr new_tr><td><div class=\"vtag\">Fresh</div></td></tr>",
                              layout::html_place::insert_at_start);
             const std::u16string name = u"Fresh \u00E9";
             execute(u"add_tag", name);
             t = app.model->store().max_tag_id();
             ts = std::to_string(t);
         },
         [&] { return lines({"add_tag; id: Fresh \xC3\xA9"}); },
         [&] { return lines({"add_tag complete; id: " + ts}); }},
        {"rename",
         [&] {
             const rename_record rename{app.by_id(ids::tag_entry(t)), u"Renamed"};
             execute(u"rename_tag", rename);
         },
         [&] { return lines({"rename_tag; id: " + ts}); },
         [&] { return lines({"rename_tag complete; id: " + ts}); }},
        {"tag a quote by drag",
         [&] {
             handle tag = app.by_id(ids::tag_entry(t));
             mouse(tag, layout::mouse_event::down, 10);
             mouse(tag, layout::mouse_event::move, 40);
             mouse(app.by_id(ids::quote(q)), layout::mouse_event::up, 40);
         },
         [&] {
             const std::string id = "vt-" + ts;
             return lines({"dnd ready: " + id, "dnd start: " + id, "dnd stop: " + id,
                           "mark_quote_with_tag; quote: " + qs + "; tag: " + ts});
         },
         [&] { return lines({"mark_quote complete; quote: " + qs + "; tag: " + ts}); }},
        {"search by the tag",
         [&] {
             const auto data = pair(app.by_id(ids::tag_entry(t)));
             execute(u"add_search_tag", data);
             execute(u"set_search_mode_or", {});
         },
         [&] { return lines({"add_search_tag; id: " + ts}); },
         [&] { return lines({"add_search_tag complete; id: " + ts}); }},
        {"take the tag out of the search",
         [&] {
             const auto data = pair(layout::nth_child(app.view->search_bar(), 0));
             execute(u"delete_search_tag", data);
             execute(u"clear_search_tags", {});
         },
         [&] {
             return lines({"delete_search_tag; id: " + ts, "clear_search_tags"});
         },
         [&] { return lines({"delete_search_tag complete; id: " + ts}); }},
        {"copy and export",
         [&] {
             const auto data = pair(app.by_id(ids::quote(q)));
             execute(u"copy_quote", data);
             execute(u"copy_quote_with_data", data);
             const std::u16string path = app.data.wpath() + u"/export.html";
             execute(u"export_data", path);
         },
         [] { return std::string(); }, [] { return std::string(); }},
        {"untag the quote",
         [&] {
             const auto data = pair(app.by_id(ids::quote_tag(q, t)));
             execute(u"delete_quote_mark", data);
         },
         [&] { return lines({"delete_quote_mark; quote: " + qs + "; tag: " + ts}); },
         [&] { return lines({"delete_mark complete; quote: " + qs + "; tag: " + ts}); }},
        {"delete the tag",
         [&] {
             const auto data = pair(app.by_id(ids::tag_entry(t)));
             execute(u"delete_vtag", data);
         },
         [&] { return lines({"delete_vtag; tag: " + ts}); },
         [&] { return lines({"delete_tag complete; id: " + ts}); }},
        {"delete the quote",
         [&] {
             const auto data = pair(app.by_id(ids::quote(q)));
             execute(u"delete_quote", data);
         },
         [&] { return lines({"delete_quote; quote: " + qs}); },
         [&] { return lines({"delete_quote complete; id: " + qs}); }},
    };
    for (const step& s : steps) {
        s.run();
        const auto added = tail.next();
        EXPECT_EQ(added.at("cntrl"), s.cntrl()) << s.action;
        EXPECT_EQ(added.at("model"), s.model()) << s.action;
        EXPECT_EQ(added.at("profile") + added.at("events"), "") << s.action;
        EXPECT_EQ(added.at("app").find("Error"), std::string::npos) << s.action << ": " << added.at("app");
    }
}
