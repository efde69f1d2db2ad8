// The native window laid out offscreen on the program's own document, with a long
// quote list: what a capture costs (one new row on top), what a change to one row
// costs, and what laying out every part costs (a new window width).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <memory>

#include "layout/dom.h"
#include "layout/long_list.h"
#include "shell/platform/qt/native_view.h"
#include "view/fragments.h"

namespace {

std::string source_file(const char* name) {
    QFile file(QString(HOARDLY_SOURCE_DIR "/res/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

struct quotes final : layout::row_source {
    std::vector<hrd::tag> tags{hrd::tag(1, u"alpha"), hrd::tag(2, u"beta")};
    std::size_t count = 10'000;
    std::size_t row_count() const override { return count; }
    void append_rows(std::size_t first, std::size_t last, std::string& markup) override {
        for (std::size_t i = first; i < last; ++i) {
            hrd::quote q(hrd::record_id(i + 1),
                         u"A quote of a few lines, as copied from a page: number " +
                             QString::number(count - i).toStdU16String(),
                         0);
            q.m_tags = {1, 2};
            markup += hrd::fragments::table_row(hrd::fragments::quote_block(
                q, [this](hrd::record_id id) { return &tags[std::size_t(id - 1)]; }));
        }
    }
    std::int64_t row_key(std::size_t index) const override { return std::int64_t(index + 1); }
};

struct window {
    int argc = 1;
    char name[16] = "bench";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    layout::document document;
    quotes rows;
    std::unique_ptr<hrd::qt::native_view> view;
    layout::handle list = nullptr;

    window() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
        document.load_html(source_file("mainform.htm"));
        list = layout::find_first(document.root(), "#thequotelist");
        layout::set_row_source(list, &rows);
        view = std::make_unique<hrd::qt::native_view>(
            document, [](const std::function<void()>& f) { f(); },
            source_file("mainform.css") + "\n" + source_file("native.css"));
        view->resize(1000, 700);
        view->show();
        settle();
    }
    ~window() { view.reset(); }

    // Runs the loop until the changes so far are laid out.
    void settle() {
        const std::uint64_t before = view->layouts();
        for (int i = 0; i < 1000 && view->layouts() == before; ++i) {
            QCoreApplication::processEvents();
        }
    }
};

window& the_window() {
    static window w;
    return w;
}

void BM_native_capture(benchmark::State& state) {
    window& w = the_window();
    for (auto _ : state) {
        ++w.rows.count;
        layout::rows_inserted(w.list, 0, 1);
        w.settle();
    }
    state.counters["rows_made"] = double(w.view->rows_made());
}
BENCHMARK(BM_native_capture)->Unit(benchmark::kMillisecond);

void BM_native_row_checked(benchmark::State& state) {
    window& w = the_window();
    bool checked = false;
    for (auto _ : state) {
        checked = !checked;
        layout::set_rows_checked(w.list, {1, 2}, checked);
        w.settle();
    }
}
BENCHMARK(BM_native_row_checked)->Unit(benchmark::kMillisecond);

void BM_native_every_part(benchmark::State& state) {
    window& w = the_window();
    int width = 1000;
    for (auto _ : state) {
        width = width == 1000 ? 1001 : 1000;
        w.view->resize(width, 700);
        w.settle();
    }
}
BENCHMARK(BM_native_every_part)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
