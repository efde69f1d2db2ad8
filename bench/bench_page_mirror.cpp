// What the window costs on the program's side when the collection is shown: the
// tree described for a page that connects (start-up, with N quotes), and one new
// quote put on top of a list of N (a capture). The list is a long list, as in the
// main document: both must stay flat in N, since the document holds and the page
// gets the rows near its view only.

#include <benchmark/benchmark.h>

#include <string>
#include <utility>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/long_list.h"
#include "layout/patch.h"
#include "layout/page_mirror.h"
#include "view/fragments.h"

namespace {

hrd::quote sample_quote(int id) {
    hrd::quote q(id, u"A captured clip of a sentence or two, long enough to wrap once in the list.",
                 1700000000 + id);
    return q;
}

struct recording_page : layout::patch_observer {
    explicit recording_page(layout::document& d) : encoder(d) { d.set_observer(this); }
    void on_patch(const layout::patch& change) override { encoder.encode(change, batch); }
    bool wants_markup() const override { return false; }
    layout::page_mirror_encoder encoder;
    std::string batch;
};

// N quotes, each row built when the list asks for it.
struct generated_rows final : layout::row_source {
    std::size_t count = 0;
    std::size_t row_count() const override { return count; }
    void append_rows(std::size_t first, std::size_t last, std::string& markup) override {
        const hrd::tag_lookup no_tags = [](hrd::record_id) { return nullptr; };
        for (std::size_t i = first; i < last; ++i) {
            markup += "<tr><td>";
            hrd::fragments::append_quote_block(markup, sample_quote(int(count - i)), no_tags);
            markup += "</td></tr>";
        }
    }
    std::int64_t row_key(std::size_t index) const override { return std::int64_t(count - index); }
};

layout::handle load_list(layout::document& doc, generated_rows& rows, int quotes) {
    doc.load_html("<html><body><table id=thequotelist></table></body></html>");
    rows.count = std::size_t(quotes);
    layout::handle list = layout::find_first(doc.root(), "#thequotelist");
    layout::set_row_source(list, &rows);
    return list;
}

void snapshot_for_a_connecting_page(benchmark::State& state) {
    layout::document doc;
    recording_page page(doc);
    generated_rows rows;
    load_list(doc, rows, int(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string batch;
        page.encoder.encode_snapshot(batch);
        batch = page.encoder.finish(std::move(batch));
        bytes = batch.size();
        benchmark::DoNotOptimize(batch.data());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(snapshot_for_a_connecting_page)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void new_quote_on_top(benchmark::State& state) {
    layout::document doc;
    recording_page page(doc);
    generated_rows rows;
    layout::handle list = load_list(doc, rows, int(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        page.batch.clear();
        ++rows.count;
        layout::rows_inserted(list, 0, 1);
        const std::string sent = page.encoder.finish(std::exchange(page.batch, {}));
        bytes = sent.size();
        benchmark::DoNotOptimize(sent.data());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(new_quote_on_top)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
