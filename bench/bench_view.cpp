// The view on the real main document: rebuilding the quote list from a result set,
// and adding one quote block at the top of a long list.
//
//   BM_vupdate_quotes/N  whole-list rebuild of N quotes; reports tree bytes per block
//   BM_vadd_quote/N      one new block on top of a list of N blocks

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "bench_support.h"
#include "layout/document.h"
#include "layout/dom.h"
#include "layout/node.h"
#include "model/result_set.h"
#include "view/view.h"

namespace {

using namespace hrd;

using bench::read_file;
using bench::res_host;

// Quotes held in memory, handed out as the store's result sets are.
class quotes_in_memory final : public record_source<quote> {
public:
    explicit quotes_in_memory(int count) {
        const std::u16string words = u"The quick brown fox jumps over the lazy dog; ";
        for (int i = 1; i <= count; ++i) {
            std::u16string text;
            for (int k = 0; k < 1 + i % 5; ++k)
                text += words;
            quote q(i, text, 1700000000 + i);
            q.m_tags = {1 + i % 7, 8 + i % 3};
            m_quotes.push_back(std::move(q));
        }
    }
    std::size_t load(std::span<const std::int64_t> keys, std::size_t limit,
                     std::vector<quote>& into) override {
        std::size_t n = 0;
        for (; n < keys.size() && n < limit; ++n)
            into.push_back(m_quotes[keys[n] - 1]);
        return n;
    }
    std::int64_t load_after(std::int64_t after, std::size_t limit,
                            std::vector<quote>& into) override {
        while (into.size() < limit && after < std::int64_t(m_quotes.size()))
            into.push_back(m_quotes[after++]);
        return after;
    }

private:
    std::vector<quote> m_quotes;
};

std::size_t memory_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd - layout::reusable_node_bytes();
}

struct shown_document {
    shown_document() {
        doc.set_host(&host);
        doc.load_html(read_file(HOARDLY_SOURCE_DIR "/res/mainform.htm"));
        view = std::make_unique<hdview>(doc);
    }
    // The list as the window first shows it: the first screen, the rest pending.
    void show_first_screen(int count) {
        quotes_in_memory source(count);
        auto all = quote_cursor::of_table(source);
        std::vector<tag> tags;
        for (int t = 1; t <= 10; ++t)
            tags.emplace_back(t, u"tag " + fml::utf82wchar(std::to_string(t)));
        view->handle(view_events::update_quotes{
            all.get(), [&tags](record_id id) -> const tag* { return &tags[id - 1]; }});
    }
    // The whole list, its far end built too.
    void show(int count) {
        show_first_screen(count);
        doc.finish_background_work();
    }
    res_host host;
    layout::document doc;
    std::unique_ptr<hdview> view;
};

void BM_vupdate_quotes(benchmark::State& state) {
    shown_document shown;
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        shown.show(0);  // an empty list, so each round measures a full build
        const std::size_t before = memory_in_use();
        state.ResumeTiming();
        shown.show(static_cast<int>(state.range(0)));
        state.PauseTiming();
        bytes = memory_in_use() - before;
        state.ResumeTiming();
    }
    state.counters["tree_bytes_per_block"] = double(bytes) / double(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_vupdate_quotes)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// What the window waits for before it can show a rebuilt list: the records read
// and the first screen built; the rest is filled in between other work.
void BM_vupdate_quotes_first_screen(benchmark::State& state) {
    shown_document shown;
    for (auto _ : state) {
        state.PauseTiming();
        shown.show(0);
        state.ResumeTiming();
        shown.show_first_screen(static_cast<int>(state.range(0)));
        state.PauseTiming();
        shown.doc.cancel_background_work();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_vupdate_quotes_first_screen)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_vadd_quote(benchmark::State& state) {
    shown_document shown;
    shown.show(static_cast<int>(state.range(0)));
    quote added(0, u"A freshly captured clip of text, as long as a sentence or two.", 1700000000);
    for (auto _ : state) {
        ++added.m_id;
        shown.view->handle(view_events::add_quote{added});
    }
    state.counters["blocks"] = double(layout::child_count(shown.view->quote_list()));
}
BENCHMARK(BM_vadd_quote)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
