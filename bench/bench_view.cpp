// The view on the real main document, with the page's encoder attached as the
// desktop has it: what a new result, a capture and a jump through a long list
// cost in program time. The quotes are read from memory, so the figures leave out
// the store (bench_store measures its reads).
//
//   BM_vupdate_quotes/N  a new result of N quotes shown; reports tree bytes
//   BM_vadd_quote/N      a captured quote on top of a list of N
//   BM_jump/N            the page asks for the rows at the end, then the middle,
//                        of a list of N: built and encoded for the page

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <map>
#include <span>
#include <string>
#include <vector>

#include "bench_support.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/page_mirror.h"
#include "layout/patch.h"
#include "view/view.h"

namespace {

using namespace hrd;

using bench::read_file;
using bench::res_host;

// Quotes made up on demand from their ids, read as the store is read.
class quotes_in_memory final : public quote_reader {
public:
    std::vector<quote> read_quotes(std::span<const record_id> ids) override {
        const std::u16string words = u"The quick brown fox jumps over the lazy dog; ";
        std::vector<quote> out;
        for (record_id id : ids) {
            std::u16string text;
            for (int k = 0; k < 1 + id % 5; ++k)
                text += words;
            quote q(id, text, 1700000000 + id);
            q.m_tags = {1 + id % 7, 8 + id % 3};
            out.push_back(std::move(q));
        }
        return out;
    }
    std::optional<std::string> tag_name(record_id id) override {
        return "tag " + std::to_string(id);
    }
    std::vector<record_id> order_by_time(std::span<const record_id> ids, bool) override {
        return {ids.begin(), ids.end()};
    }
};

std::size_t memory_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd - layout::reusable_node_bytes();
}

// The main document with its view, mirrored for a page as the desktop does.
struct shown_document : layout::patch_observer {
    shown_document() : encoder(doc) {
        doc.set_host(&host);
        doc.load_html(read_file(HOARDLY_SOURCE_DIR "/res/mainform.htm"));
        view = std::make_unique<hdview>(doc);
        doc.set_observer(this);
        encoder.encode_snapshot(batch);
        send();
    }
    ~shown_document() override { doc.set_observer(nullptr); }
    void on_patch(const layout::patch& change) override { encoder.encode(change, batch); }
    bool wants_markup() const override { return false; }
    // What goes to the page at the end of a turn of the event loop.
    std::size_t send() { return encoder.finish(std::exchange(batch, {})).size(); }

    void show(int count) {
        std::vector<record_id> ids(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            ids[std::size_t(i)] = count - i;
        view->handle(view_events::update_quotes{std::move(ids), &quotes});
        send();
    }

    res_host host;
    layout::document doc;
    std::unique_ptr<hdview> view;
    quotes_in_memory quotes;
    layout::page_mirror_encoder encoder;
    std::string batch;
};

void BM_vupdate_quotes(benchmark::State& state) {
    shown_document shown;
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        shown.show(0);
        const std::size_t before = memory_in_use();
        state.ResumeTiming();
        shown.show(static_cast<int>(state.range(0)));
        state.PauseTiming();
        bytes = memory_in_use() - before;
        state.ResumeTiming();
    }
    state.counters["tree_and_ids_bytes"] = double(bytes);
}
BENCHMARK(BM_vupdate_quotes)->Arg(8)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_vadd_quote(benchmark::State& state) {
    shown_document shown;
    shown.show(static_cast<int>(state.range(0)));
    quote added(0, u"A freshly captured clip of text, as long as a sentence or two.", 1700000000);
    added.m_id = static_cast<record_id>(state.range(0));
    for (auto _ : state) {
        ++added.m_id;
        shown.view->handle(view_events::add_quote{added});
        benchmark::DoNotOptimize(shown.send());
    }
    state.counters["rows_held"] = double(layout::child_count(shown.view->quote_list()));
}
BENCHMARK(BM_vadd_quote)->Arg(8)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

void BM_jump(benchmark::State& state) {
    shown_document shown;
    const auto count = static_cast<std::uint32_t>(state.range(0));
    shown.show(static_cast<int>(count));
    const std::uint32_t list = layout::serial_of(shown.view->quote_list());
    constexpr std::uint32_t screen = 60;  // a full-height window's rows with the page's margin
    bool to_end = true;
    for (auto _ : state) {
        shown.encoder.request_window(list, to_end ? count - screen : count / 2, screen);
        benchmark::DoNotOptimize(shown.send());
        to_end = !to_end;
    }
    state.counters["rows_held"] = double(layout::child_count(shown.view->quote_list()));
}
BENCHMARK(BM_jump)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
