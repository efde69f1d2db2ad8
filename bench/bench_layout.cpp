// Benchmarks of the element tree engine.
//
// BM_parse_mainform          loading res/mainform.htm with its style sheet (empty lists)
// BM_parse_filled_form       a document shaped like it, with 30 tags and 20 quotes
// BM_select/id, /class       a selector over a list of N quote blocks
// BM_set_list_html           one list's content set at once from N blocks of markup;
//                            reports the tree memory per block
// BM_insert_row_at_start     one block inserted before the first of N (and removed again)

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "layout/document.h"
#include "layout/dom.h"

namespace {

// A quote row as the view writes it, with two tags and a short text.
std::string quote_row(int id) {
    const std::string q = std::to_string(id);
    return "<tr><td><div class=\"quote\" id=\"q-" + q +
           "\"><table class=\"qtable\" border=1 cellspacing=-1px>"
           "<tr><td colspan=3><div class=\"title\"></div></td></tr>"
           "<tr><td class=\"text\" colspan=3>A quote of ordinary length, with &#38; an "
           "entity<br>and a second line of text.</td></tr>"
           "<tr><td class=\"links\"><div class=\"qtag\" id=\"qt-" +
           q +
           "-3\">reading</div>"
           "<div class=\"qtag\" id=\"qt-" +
           q +
           "-7\">work</div></td>"
           "<td class=\"managecell\"><button class=\"managetags\" menu=\"manage-tags\">Manage..."
           "</button></td><td class=\"timestamp\">2007-3-5  9:4:7</td></tr></table></div>"
           "</td></tr>";
}

std::string quote_rows(int count) {
    std::string markup;
    markup.reserve(std::size_t(count) * 700);
    for (int i = 1; i <= count; ++i) {
        markup += quote_row(i);
    }
    return markup;
}

// Stands in for the main document: style sheets, the panes, the lists with a
// few entries, the search bar, menus and buttons.
std::string main_form() {
    std::string tags;
    std::string menu;
    for (int i = 1; i <= 30; ++i) {
        const std::string t = std::to_string(i);
        tags += "<tr><td><div class=\"vtag\" id=\"vt-" + t + "\">tag " + t + "</div></td></tr>";
        menu +=
            "<li type=\"check\" name=\"mtmchecks\" id=\"mtmcheck-" + t + "\">tag " + t + "</li>";
    }
    std::string quotes;
    for (int i = 1; i <= 20; ++i) {
        quotes += quote_row(i);
    }
    return "<!DOCTYPE html><html><head><title>Hoardly</title><style>"
           "html { behavior: html } body { behavior: body }"
           "#tagpane { behavior: taglist } #tagpane table { behavior: ceditable_grid }"
           ".quotelist { behavior: quotelist } #thequotelist { behavior: cquote_grid }"
           ".quote { behavior: quote; context-menu: selector(#quote-menu) }"
           ".qtag { behavior: qtag } .vtag { behavior: vtag; context-menu: selector(#tag-menu) }"
           ".stag { behavior: stag } #p-searchbar { behavior: searchbar }"
           "button.managetags { behavior: managetags } #manage-tags { behavior: manage-menu }"
           ".splitter { behavior: hrdsplitter } a[link] { behavior: link }"
           "#panes { flow: horizontal } .caption { color: gray }"
           "</style></head><body><div id=panes>"
           "<div id=tagpane><button id=addtag>Add tag</button>"
           "<table id=taglist multiple fixedrows=0>" +
           tags +
           "</table></div>"
           "<div class=splitter></div><div class=quotelist>"
           "<div id=p-searchbar is_empty><div class=\"caption\">Drop tags here to search</div>"
           "</div><button message=clear_search_tags>Clear</button>"
           "<button message=set_search_mode_and>All</button>"
           "<button message=set_search_mode_or>Any</button>"
           "<table id=thequotelist multiple>" +
           quotes +
           "</table></div></div>"
           "<ul id=manage-tags>" +
           menu +
           "</ul>"
           "<menu id=quote-menu><li action=copy_quote>Copy</li>"
           "<li action=copy_quote_with_data>Copy with tags</li>"
           "<li action=delete_quote>Delete</li></menu>"
           "<menu id=tag-menu><li action=rename_vtag>Rename</li>"
           "<li action=delete_vtag>Delete</li><li action=add_search_tag>Search</li></menu>"
           "<a link=\"https://example.org/help\">Help</a></body></html>";
}

// Heap taken (mapped blocks included), less node memory kept for reuse (which a tree may take
// without asking the heap).
std::size_t memory_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd - layout::reusable_node_bytes();
}

std::string read_resource(std::string_view name) {
    std::ifstream file(std::string(HOARDLY_SOURCE_DIR) + "/res/" + std::string(name),
                       std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Serves the res/ files from memory, as the program's resource manager does.
class resource_host final : public layout::host {
public:
    std::optional<std::string> load_resource(std::string_view uri) override {
        auto it = m_files.find(std::string(uri));
        if (it == m_files.end()) {
            it = m_files.emplace(std::string(uri), read_resource(uri)).first;
        }
        return it->second.empty() ? std::nullopt : std::optional<std::string>(it->second);
    }

private:
    std::map<std::string, std::string> m_files;
};

void BM_parse_mainform(benchmark::State& state) {
    const std::string markup = read_resource("mainform.htm");
    if (markup.empty()) {
        state.SkipWithError("res/mainform.htm not found");
        return;
    }
    resource_host host;
    layout::document doc;
    doc.set_host(&host);
    for (auto _ : state) {
        doc.load_html(markup);
        benchmark::DoNotOptimize(doc.root());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * markup.size()));
}
BENCHMARK(BM_parse_mainform)->Unit(benchmark::kMicrosecond);

void BM_parse_filled_form(benchmark::State& state) {
    const std::string markup = main_form();
    layout::document doc;
    for (auto _ : state) {
        doc.load_html(markup);
        benchmark::DoNotOptimize(doc.root());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * markup.size()));
}
BENCHMARK(BM_parse_filled_form)->Unit(benchmark::kMicrosecond);

// One document with N blocks, shared by the selection benchmarks.
layout::document& list_document(int count) {
    static int built = 0;
    static layout::document doc;
    if (built != count) {
        doc.load_html("<table id=thequotelist></table>");
        layout::set_html(doc.root(), quote_rows(count), layout::html_place::replace_content);
        built = count;
    }
    return doc;
}

void BM_select_id(benchmark::State& state) {
    const int count = int(state.range(0));
    layout::document& doc = list_document(count);
    const std::string selector = "[id='q-" + std::to_string(count / 2) + "']";
    for (auto _ : state) {
        benchmark::DoNotOptimize(layout::find_first(doc.root(), selector));
    }
}
BENCHMARK(BM_select_id)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_select_class(benchmark::State& state) {
    layout::document& doc = list_document(int(state.range(0)));
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        layout::select_elements(doc.root(), ".quote", [&](layout::handle) {
            ++found;
            return false;
        });
    }
    state.counters["matches"] = double(found);
}
BENCHMARK(BM_select_class)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_set_list_html(benchmark::State& state) {
    const int count = int(state.range(0));
    const std::string markup = quote_rows(count);
    layout::document doc;
    doc.load_html("<table id=thequotelist></table>");
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        layout::set_inner_text(doc.root(), u"");
        const std::size_t before = memory_in_use();
        state.ResumeTiming();
        layout::set_html(doc.root(), markup, layout::html_place::replace_content);
        state.PauseTiming();
        bytes = memory_in_use() - before;
        state.ResumeTiming();
    }
    std::size_t elements = 0;
    layout::select_elements(doc.root(), "*", [&](layout::handle) {
        ++elements;
        return false;
    });
    state.counters["tree_bytes_per_block"] = double(bytes) / count;
    state.counters["tree_bytes_per_element"] = double(bytes) / double(elements);
    state.counters["blocks_per_s"] =
        benchmark::Counter(double(count) * double(state.iterations()), benchmark::Counter::kIsRate);
}
// Several rounds, so that the figure is not only the first touch of fresh memory.
BENCHMARK(BM_set_list_html)->Arg(10000)->Arg(100000)->Iterations(4)->Unit(benchmark::kMillisecond);

void BM_insert_row_at_start(benchmark::State& state) {
    layout::document& doc = list_document(int(state.range(0)));
    const std::string row = quote_row(0);
    for (auto _ : state) {
        layout::set_html(doc.root(), row, layout::html_place::insert_at_start);
        layout::delete_element(layout::nth_child(doc.root(), 0));
    }
}
BENCHMARK(BM_insert_row_at_start)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
