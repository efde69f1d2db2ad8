// Whole actions, from the user interface's request to the patched document, on a
// collection of 10^5 quotes shown in the list (whose window holds the rows in view).
//
//   BM_add_quote_road/durable:0|1  a captured text (quote_text) to its block on top of the
//                                  list; durable:1 keeps the collection on disk (every
//                                  commit synced), durable:0 in memory-backed /dev/shm,
//                                  where a sync costs nothing: the difference is the commit
//   BM_search_road                 a second tag added to an AND search, to the rebuilt list
//   BM_mark_by_drag                press, move and release of a tag on a quote, to the
//                                  patched block

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "bench_support.h"
#include "controller/controller.h"
#include "fml/app_dirs.h"
#include "fml/log.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "model/model.h"
#include "view/view.h"

namespace {

namespace fs = std::filesystem;
using namespace hrd;

constexpr int quote_count = 100'000;

using bench::read_file;
using bench::res_host;

fs::path scratch(bool durable) {
    const fs::path base =
        durable || !fs::is_directory("/dev/shm") ? fs::temp_directory_path() : "/dev/shm";
    return base /
           ("hoardly-bench-actions-" + std::to_string(::getpid()) + (durable ? "-disk" : "-shm"));
}

// A collection of quote_count quotes, tag 1 on every second quote and tag 2 on every
// fifth, built once in memory-backed storage through the store's own operations.
const fs::path& built_collection() {
    static const fs::path folder = [] {
        const fs::path path = scratch(false) / "built";
        fs::create_directories(path);
        std::ofstream(path / "defaulttags.xml") << "<tags/>";
        std::ofstream(path / "defaultquotes.xml") << "<quotes/>";
        CollectionStore store(fml::utf82wchar(path.string()));
        for (int t = 1; t <= 10; ++t)
            store.addTag(u"tag " + fml::utf82wchar(std::to_string(t)));
        for (int q = 1; q <= quote_count; ++q) {
            const record_id id =
                store.addQuote(u"Quote number " + fml::utf82wchar(std::to_string(q)) +
                               u": some words of a sentence a reader wanted to keep.");
            if (q % 2 == 0)
                store.markQuote(id, 1);
            if (q % 5 == 0)
                store.markQuote(id, 2);
        }
        return path;
    }();
    return folder;
}

// The program's core on a copy of the built collection, every quote in the list.
struct running_app {
    explicit running_app(bool durable) : folder(scratch(durable) / "run") {
        fml::closelogs();
        fs::remove_all(folder);
        fs::create_directories(folder / "logs");
        app_dirs::set(app_dirs::DataDir, fml::utf82wchar(folder.string()));
        for (const char* id : {"app", "profile", "debug", "events", "cntrl", "model", "logic"}) {
            fml::reglog(id, u"logs/" + fml::utf82wchar(id) + u".log");
        }
        fs::copy(built_collection(), folder,
                 fs::copy_options::recursive | fs::copy_options::skip_existing);
        doc.set_host(&host);
        doc.load_html(read_file(HOARDLY_SOURCE_DIR "/res/mainform.htm"));
        model = std::make_unique<hrdModel>(
            std::make_unique<CollectionStore>(fml::utf82wchar(folder.string())));
        view = std::make_unique<hdview>(doc);
        model->set_view(view.get());
        controller = std::make_unique<hdcontroller>(
            *model, fml::utf82wchar(HOARDLY_SOURCE_DIR "/src/controller/dragmgr/DragMgr.xml"));
        model->handle(model_events::load_all{});
    }
    ~running_app() {
        controller.reset();
        view.reset();
        model.reset();
        fml::closelogs();
        fs::remove_all(folder);
    }
    layout::handle by_id(const std::string& id) {
        return layout::find_first(doc.root(), "[id='" + id + "']");
    }
    bool mouse(layout::handle element, std::uint32_t event, int x, int y) {
        vcaction action;
        action.what = mouse_record{element, event, x, y, layout::mouse_button::main, 0};
        action.element = element;
        return controller->send_safely(action);
    }

    fs::path folder;
    res_host host;
    layout::document doc;
    std::unique_ptr<hrdModel> model;
    std::unique_ptr<hdview> view;
    std::unique_ptr<hdcontroller> controller;
};

void BM_add_quote_road(benchmark::State& state) {
    running_app app(state.range(0) != 0);
    const std::u16string text = u"A freshly captured clip: a sentence or two that someone copied.";
    for (auto _ : state) {
        vcaction action;
        action.what = vcaction::quote_text{text};
        app.controller->send_safely(action);
    }
    state.counters["blocks"] = double(layout::child_count(app.view->quote_list()));
}
BENCHMARK(BM_add_quote_road)->ArgName("durable")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_search_road(benchmark::State& state) {
    running_app app(false);
    app.controller->execute_safely(
        named_action{u"add_search_tag", element_pair{app.by_id("vt-1"), nullptr}});
    for (auto _ : state) {
        app.controller->execute_safely(
            named_action{u"add_search_tag", element_pair{app.by_id("vt-2"), nullptr}});
        state.PauseTiming();
        state.counters["shown"] = double(layout::child_count(app.view->quote_list()));
        app.controller->execute_safely(
            named_action{u"delete_search_tag", element_pair{app.by_id("st-2"), nullptr}});
        state.ResumeTiming();
    }
}
BENCHMARK(BM_search_road)->Unit(benchmark::kMillisecond);

void BM_mark_by_drag(benchmark::State& state) {
    running_app app(false);
    std::size_t next = 0;
    for (auto _ : state) {
        // The user scrolls to the next quote first; the drag is what is timed.
        state.PauseTiming();
        layout::handle tag = app.by_id("vt-3");
        layout::handle block =
            layout::find_first(layout::reveal_row(app.view->quote_list(), next++), "div.quote");
        state.ResumeTiming();
        app.mouse(tag, layout::mouse_event::down, 10, 10);
        app.mouse(tag, layout::mouse_event::move, 30, 30);
        app.mouse(block, layout::mouse_event::up, 300, 300);
    }
    state.counters["marked"] = double(next);
    auto tagged = app.model->store().getTag(3);
    if (tagged->current().m_quotes.size() < next) {
        state.SkipWithError("a drag marked nothing");
    }
}
BENCHMARK(BM_mark_by_drag)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
