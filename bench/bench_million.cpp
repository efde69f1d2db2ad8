// The program's side of what a user does with a million quotes: model, store and
// view on the real main document, the page's encoder attached as the desktop has
// it, the collection on disk. Each figure runs from the request to the records
// the page gets for its first screen.
//
//   BM_start             the store opened and the list built (no id read ahead)
//   BM_search_and        a second tag added to a search: two tags of 1% each
//   BM_search_popular    a tag on one quote in twenty (5 * 10^4 quotes) searched
//   BM_clear             the search cleared: the whole million again
//   BM_jump/0|1          the page asks for the rows at the end (0) or the middle (1)
//   BM_capture           a captured clip stored (durably) and shown on top
//
// The collection is made once into $HOARDLY_BENCH_CACHE (default:
// $TMPDIR/hoardly-bench-cache) and copied for each run.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench_support.h"
#include "collection_builder.h"
#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/text.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/page_mirror.h"
#include "layout/patch.h"
#include "model/model.h"
#include "view/view.h"

namespace {

namespace fs = std::filesystem;
using namespace hrd;

constexpr int quote_count = 1'000'000;
// Tags 1 and 2 are on one quote in a hundred each (both on one in ten thousand);
// tag 3 is on one in twenty.
constexpr record_id rare_a = 1, rare_b = 2, popular = 3;

fs::path cache_root() {
    if (const char* cache = std::getenv("HOARDLY_BENCH_CACHE")) {
        return cache;
    }
    return fs::temp_directory_path() / "hoardly-bench-cache";
}

void register_logs(const fs::path& folder) {
    fml::closelogs();
    fs::create_directories(folder / "logs");
    app_dirs::set(app_dirs::DataDir, fml::utf82wchar(folder.string()));
    for (const char* id : {"app", "debug", "model", "logic", "cntrl"}) {
        fml::reglog(id, u"logs/" + fml::utf82wchar(id) + u".log");
    }
}

const fs::path& million() {
    static const fs::path folder = [] {
        const fs::path path = cache_root() / "million-v2";
        if (fs::exists(path / "complete")) {
            return path;
        }
        fs::remove_all(path);
        register_logs(path);
        testing::collection_plan plan;
        plan.quotes = quote_count;
        plan.tags = {"one in a hundred", "another one in a hundred", "one in twenty"};
        plan.text = [](int q) {
            std::string text = "Quote " + std::to_string(q) + ": ";
            for (int i = 0; i < 1 + q % 4; ++i) {
                text += "a few words someone wanted to keep, as a clip of a page. ";
            }
            return text;
        };
        plan.tags_of = [](int q, std::vector<int>& tags) {
            if (q % 100 == 0) {
                tags.push_back(rare_a);
            }
            if (q % 100 == 0 && (q / 100) % 100 == 0) {
                tags.push_back(rare_b);  // both on one in ten thousand
            } else if (q % 100 == 50) {
                tags.push_back(rare_b);
            }
            if (q % 20 == 0) {
                tags.push_back(popular);
            }
        };
        testing::build_collection(path, plan);
        fml::closelogs();
        std::ofstream(path / "complete") << "done";
        return path;
    }();
    return folder;
}

// The program on a fresh copy of the million, its first screen sent.
struct running_program : layout::patch_observer {
    running_program()
        : folder(fs::temp_directory_path() / ("hoardly-bench-million-" + std::to_string(::getpid()))),
          encoder(doc) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy(million(), folder, fs::copy_options::recursive);
        register_logs(folder);
        doc.set_host(&host);
        doc.load_html(bench::read_file(HOARDLY_SOURCE_DIR "/res/mainform.htm"));
        doc.set_observer(this);
        encoder.encode_snapshot(batch);
        send();
        open();
    }
    ~running_program() override {
        close();
        doc.set_observer(nullptr);
        fml::closelogs();
        fs::remove_all(folder);
    }
    void open() {
        model = std::make_unique<hrdModel>(
            std::make_unique<CollectionStore>(fml::utf82wchar(folder.string())));
        view = std::make_unique<hdview>(doc);
        model->set_view(view.get());
        model->handle(model_events::load_all{});
        send();
    }
    void close() {
        model.reset();
        view.reset();
    }
    void on_patch(const layout::patch& change) override { encoder.encode(change, batch); }
    bool wants_markup() const override { return false; }
    std::size_t send() { return encoder.finish(std::exchange(batch, {})).size(); }
    std::size_t rows() { return layout::row_count(view->quote_list()); }

    fs::path folder;
    bench::res_host host;
    layout::document doc;
    layout::page_mirror_encoder encoder;
    std::string batch;
    std::unique_ptr<hrdModel> model;
    std::unique_ptr<hdview> view;
};

void BM_start(benchmark::State& state) {
    running_program program;
    for (auto _ : state) {
        state.PauseTiming();
        program.close();
        state.ResumeTiming();
        program.open();
    }
    state.counters["rows"] = double(program.rows());
}
BENCHMARK(BM_start)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_search_and(benchmark::State& state) {
    running_program program;
    program.model->handle(model_events::add_search_tag{rare_a});
    for (auto _ : state) {
        program.model->handle(model_events::add_search_tag{rare_b});
        benchmark::DoNotOptimize(program.send());
        state.PauseTiming();
        state.counters["rows"] = double(program.rows());
        program.model->handle(model_events::delete_search_tag{rare_b});
        program.send();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_search_and)->Unit(benchmark::kMillisecond);

void BM_search_popular(benchmark::State& state) {
    running_program program;
    for (auto _ : state) {
        program.model->handle(model_events::add_search_tag{popular});
        benchmark::DoNotOptimize(program.send());
        state.PauseTiming();
        state.counters["rows"] = double(program.rows());
        program.model->handle(model_events::clear_search_tags{});
        program.send();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_search_popular)->Unit(benchmark::kMillisecond);

void BM_clear(benchmark::State& state) {
    running_program program;
    for (auto _ : state) {
        state.PauseTiming();
        program.model->handle(model_events::add_search_tag{popular});
        program.send();
        state.ResumeTiming();
        program.model->handle(model_events::clear_search_tags{});
        benchmark::DoNotOptimize(program.send());
    }
    state.counters["rows"] = double(program.rows());
}
BENCHMARK(BM_clear)->Unit(benchmark::kMillisecond);

void BM_jump(benchmark::State& state) {
    running_program program;
    const std::uint32_t list = layout::serial_of(program.view->quote_list());
    constexpr std::uint32_t screen = 60;  // a full-height window's rows with the page's margin
    const auto count = static_cast<std::uint32_t>(program.rows());
    const std::uint32_t target = state.range(0) == 0 ? count - screen : count / 2;
    for (auto _ : state) {
        program.encoder.request_window(list, target, screen);
        benchmark::DoNotOptimize(program.send());
        state.PauseTiming();
        program.encoder.request_window(list, 0, screen);  // back to the top between jumps
        program.send();
        state.ResumeTiming();
    }
    state.SetLabel(state.range(0) == 0 ? "to the end" : "to the middle");
}
BENCHMARK(BM_jump)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_capture(benchmark::State& state) {
    running_program program;
    for (auto _ : state) {
        program.model->handle(model_events::add_quote{u"A freshly captured clip of text."});
        benchmark::DoNotOptimize(program.send());
    }
    state.counters["rows"] = double(program.rows());
}
BENCHMARK(BM_capture)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
