// The behaviors' costs as a user meets them, on the real main document with its
// behaviors bound and a real collection behind it: selecting every quote and
// copying them through the keyboard, deleting a selection, sorting the quote
// list by time from its menu, and the capture rule's verdict on a key that is no
// copy key.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "behaviors/behavior.h"
#include "behaviors/grid.h"
#include "controller/controller.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "model/model.h"
#include "platform/capture_rule.h"
#include "support/app_fixture.h"
#include "view/view.h"

using namespace hrd;

namespace {

std::string quote_texts_xml(int count) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quotes>\n";
    for (int i = 1; i <= count; ++i) {
        xml += "<quote id=\"" + std::to_string(i) + "\" text=\"Quote number " + std::to_string(i) +
               ": some words a user kept, long enough to look like a real clip of text.\"/>\n";
    }
    return xml + "</quotes>\n";
}

// The program without a window: logs, a collection of `quotes` quotes, model,
// view on the real document with behaviors bound, controller.
struct program {
    explicit program(int quotes) : data(test::fast_temp_base()), logs(data), document(&binder) {
        test::write_file(data.file("defaulttags.xml"),
                         "<?xml version=\"1.0\"?><tags><tag id=\"1\" name=\"t\"/></tags>");
        test::write_file(data.file("defaultquotes.xml"), quote_texts_xml(quotes));
        model = std::make_unique<hrdModel>(std::make_unique<CollectionStore>(data.wpath()));
        view = std::make_unique<hdview>(document.doc);
        model->set_view(view.get());
        controller = std::make_unique<hdcontroller>(
            *model, fml::utf82wchar(test::source_dir() + "/src/controller/dragmgr/DragMgr.xml"));
        core = std::make_unique<behavior_core_scope>(*controller, *model);
        model->handle(model_events::load_all{});
    }
    layout::document& doc() { return document.doc; }

    behavior_binder binder;
    test::temp_dir data;
    test::test_logs logs;
    test::main_document document;
    std::unique_ptr<hrdModel> model;
    std::unique_ptr<hdview> view;
    std::unique_ptr<hdcontroller> controller;
    std::unique_ptr<behavior_core_scope> core;
};

void key(layout::document& doc, std::uint32_t code, std::uint32_t keys) {
    doc.key_input(layout::key_event::down, code, keys);
    doc.key_input(layout::key_event::up, code, keys);
}

// Ctrl+A (or Home then Shift+End) in the quote list of 10^5, then Ctrl+C: the
// whole list's text lands on the clipboard.
void BM_select_all_and_copy(benchmark::State& state) {
    program app(100'000);
    auto clip = std::make_unique<memory_clipboard>();
    memory_clipboard& clipboard = *clip;
    app.model->set_clipboard(std::move(clip));
    const bool shift_end = state.range(0) == 1;
    app.doc().set_focus(app.view->quote_list());
    for (auto _ : state) {
        if (shift_end) {
            key(app.doc(), htmlayout::vk::home, 0);
            key(app.doc(), htmlayout::vk::end, layout::key_state::shift);
        } else {
            key(app.doc(), htmlayout::vk::a, layout::key_state::control);
        }
        key(app.doc(), htmlayout::vk::c, layout::key_state::control);
    }
    if (clipboard.read_text().find(u"Quote number 100000:") == std::u16string::npos ||
        clipboard.read_text().find(u"Quote number 1:") == std::u16string::npos) {
        state.SkipWithError("the copy did not hold every quote");
    }
    state.counters["clipboard_chars"] = double(clipboard.read_text().size());
    state.SetLabel(shift_end ? "Home, Shift+End, Ctrl+C" : "Ctrl+A, Ctrl+C");
}
BENCHMARK(BM_select_all_and_copy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// 10^4 quotes selected with Home and Shift+End, then Delete: gone from the list
// and from the file in one commit.
void BM_delete_selection(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        program app(10'000);
        app.doc().set_focus(app.view->quote_list());
        key(app.doc(), htmlayout::vk::home, 0);
        key(app.doc(), htmlayout::vk::end, layout::key_state::shift);
        state.ResumeTiming();
        key(app.doc(), htmlayout::vk::del, 0);
        state.PauseTiming();
        if (!app.model->store().searchQuoteIds().empty()) {
            state.SkipWithError("quotes were left");
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_delete_selection)->Iterations(3)->Unit(benchmark::kMillisecond);

// The quote list of 10^5 sorted by time from its menu, oldest first and newest
// first in turn, so every run reverses the whole list.
void BM_sort_quotes(benchmark::State& state) {
    program app(100'000);
    layout::handle list = app.view->quote_list();
    bool oldest_first = true;
    for (auto _ : state) {
        app.doc().mouse_input(list, layout::mouse_event::up, {5, 5},
                              layout::mouse_button::secondary, 0);
        layout::handle menu = app.doc().open_popups().back();
        layout::handle item =
            layout::find_first(menu, oldest_first ? "[action='sort_quotes_oldest_first']"
                                                  : "[action='sort_quotes_newest_first']");
        app.doc().mouse_input(item, layout::mouse_event::down, {5, 5}, layout::mouse_button::main,
                              0);
        app.doc().mouse_input(item, layout::mouse_event::up, {5, 5}, layout::mouse_button::main, 0);
        oldest_first = !oldest_first;
    }
    // The list is in order one way or the other: the first and last quotes at its ends.
    const auto first = layout::row_key(list, 0).value_or(0);
    const auto last = layout::row_key(list, layout::row_count(list) - 1).value_or(0);
    if (std::min(first, last) != 1 || std::max(first, last) != 100'000) {
        state.SkipWithError("the list was not sorted");
    }
    state.SetItemsProcessed(state.iterations() * 100'000);
}
BENCHMARK(BM_sort_quotes)->Unit(benchmark::kMillisecond);

// A key that is no copy key, the path nearly every key press of the desktop takes.
void BM_capture_rule(benchmark::State& state) {
    capture_rule rule;
    std::uint32_t clock = 0;
    std::uint32_t key = 0x41;
    for (auto _ : state) {
        key = key == 0x5A ? 0x41 : key + 1;
        if (key == vk_c) {
            key = 0x44;
        }
        const capture_decision decision = rule.decide({key, true, false, false, clock += 7});
        benchmark::DoNotOptimize(decision);
    }
}
BENCHMARK(BM_capture_rule)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
