// What the window costs on the program's side when the collection is shown: the
// tree described for a page that connects (start-up, with N quotes), and one new
// quote block put on top of a list of N (a capture). The list is a windowed one,
// as in the main document: both must stay flat in N, since the page gets the rows
// near its view only, never the list again.

#include <benchmark/benchmark.h>

#include <string>
#include <utility>

#include "layout/document.h"
#include "layout/dom.h"
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

void load_list(layout::document& doc, int quotes) {
    std::string markup = "<html><body><table id=thequotelist virtual-rows>";
    const hrd::tag_lookup no_tags = [](hrd::record_id) { return nullptr; };
    for (int i = 1; i <= quotes; ++i) {
        markup += "<tr><td>";
        hrd::fragments::append_quote_block(markup, sample_quote(i), no_tags);
        markup += "</td></tr>";
    }
    markup += "</table></body></html>";
    doc.load_html(markup);
}

void snapshot_for_a_connecting_page(benchmark::State& state) {
    layout::document doc;
    recording_page page(doc);
    load_list(doc, int(state.range(0)));
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
BENCHMARK(snapshot_for_a_connecting_page)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void new_quote_on_top(benchmark::State& state) {
    layout::document doc;
    recording_page page(doc);
    const int quotes = int(state.range(0));
    load_list(doc, quotes);
    layout::handle list = layout::find_first(doc.root(), "#thequotelist");
    const hrd::tag_lookup no_tags = [](hrd::record_id) { return nullptr; };
    int id = quotes;
    std::size_t bytes = 0;
    for (auto _ : state) {
        page.batch.clear();
        layout::set_html(list,
                         hrd::fragments::table_row(
                             hrd::fragments::quote_block(sample_quote(++id), no_tags)),
                         layout::html_place::insert_at_start);
        const std::string sent = page.encoder.finish(std::exchange(page.batch, {}));
        bytes = sent.size();
        benchmark::DoNotOptimize(sent.data());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(new_quote_on_top)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
