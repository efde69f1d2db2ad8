// How the collection store performs on large collections.
//
// A generated collection has N quotes of 20 to 2000 characters, 1,000 tags with a Zipf
// popularity (the tag of rank k is on about 1/k as many quotes as the first) and three
// marks per quote, plus 20 tags on exactly 1% of the quotes each for BM_removeTag.
// Each size is built once, in bulk, into a cache folder; each run works on a copy.
//
//   bench_store                              every benchmark: one to three minutes,
//                                            plus about a minute the first time
//                                            to build the collections
//   bench_store --benchmark_filter=search    one group
//   bench_store --benchmark_filter='QuoteIds|read_quotes|copy|order_by|tags_on|markQuotes'
//                                            the list as ids and the rows in view

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>

#include "fml/app_dirs.h"
#include "fml/log.h"
#include "fml/text.h"
#include "model/collection_store.h"
#include "model/text_index.h"
#include "model/output.h"
#include "collection_builder.h"

namespace fs = std::filesystem;
using namespace hrd;

namespace {

constexpr int tag_count = 1000;
constexpr int marks_per_quote = 3;
constexpr int removal_tags = 20;  // ids tag_count + 1 ... tag_count + removal_tags

void check(int result, sqlite3* db, const char* what) {
    if (result != SQLITE_OK && result != SQLITE_DONE && result != SQLITE_ROW) {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
    }
}

fs::path cache_root() {
    if (const char* cache = std::getenv("HOARDLY_BENCH_CACHE")) {
        return cache;
    }
    return fs::temp_directory_path() / "hoardly-bench-cache";
}

// Where this run's copies, logs and scratch files live. The folder goes when the
// program ends normally; an interrupted run leaves it under $TMPDIR.
class work_folder {
public:
    work_folder() {
        std::string pattern = (fs::temp_directory_path() / "hoardly-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = pattern;
        fs::create_directories(m_path / "logs");
    }
    ~work_folder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    work_folder(const work_folder&) = delete;
    work_folder& operator=(const work_folder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

const fs::path& work_root() {
    static const work_folder folder;
    return folder.path();
}

void register_logs() {
    static const bool done = [] {
        app_dirs::set(app_dirs::DataDir, fml::utf82wchar(work_root().string()));
        fml::reglog("logic", u"logs/logic.log");
        fml::reglog("debug", u"logs/debug.log");
        return true;
    }();
    (void)done;
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Clip texts of 20 to 2000 characters: words of 2 to 10 letters from a vocabulary of
// 60,000 with a Zipf frequency (the word of rank k comes about 1/k as often as the
// first), as prose has them, so a text search meets common and rare words alike.
class text_maker {
public:
    static constexpr int vocabulary_size = 60'000;

    explicit text_maker(unsigned seed) : m_random(seed) {
        const auto& words = vocabulary();
        (void)words;
    }
    std::string next() {
        const auto size = std::uniform_int_distribution<std::size_t>(20, 2000)(m_random);
        const auto& words = vocabulary();
        const auto& cumulative = weights();
        std::uniform_real_distribution<double> uniform(0, cumulative.back());
        std::string text;
        while (text.size() < size) {
            const auto rank = static_cast<std::size_t>(
                std::lower_bound(cumulative.begin(), cumulative.end(), uniform(m_random)) -
                cumulative.begin());
            text += words[std::min(rank, words.size() - 1)];
            text += ' ';
        }
        text.resize(size);
        return text;
    }
    // The words by rank, the same in every run.
    static const std::vector<std::string>& vocabulary() {
        static const std::vector<std::string> words = [] {
            std::mt19937 random(11);
            std::vector<std::string> made;
            for (int i = 0; i < vocabulary_size; ++i) {
                std::string word(std::uniform_int_distribution<std::size_t>(2, 10)(random), ' ');
                for (char& c : word) {
                    c = static_cast<char>('a' + random() % 26);
                }
                made.push_back(std::move(word));
            }
            return made;
        }();
        return words;
    }

private:
    static const std::vector<double>& weights() {
        static const std::vector<double> cumulative = [] {
            std::vector<double> sums;
            double sum = 0;
            for (int rank = 1; rank <= vocabulary_size; ++rank) {
                sums.push_back(sum += 1.0 / rank);
            }
            return sums;
        }();
        return cumulative;
    }

    std::mt19937 m_random;
};

// A collection of `quotes` quotes into `folder`, built in bulk.
void build_collection(const fs::path& folder, int quotes) {
    hrd::testing::collection_plan plan;
    plan.quotes = quotes;
    for (int t = 1; t <= tag_count + removal_tags; ++t) {
        plan.tags.push_back("tag " + std::to_string(t));
    }
    auto cumulative = std::make_shared<std::vector<double>>();
    double sum = 0;
    for (int rank = 1; rank <= tag_count; ++rank) {
        cumulative->push_back(sum += 1.0 / rank);
    }
    auto random = std::make_shared<std::mt19937>(1);
    auto texts = std::make_shared<text_maker>(2);
    plan.text = [texts](int) { return texts->next(); };
    plan.tags_of = [cumulative, random, sum](int q, std::vector<int>& tags) {
        std::uniform_real_distribution<double> uniform(0, sum);
        while (tags.size() < marks_per_quote) {
            const int t = 1 + static_cast<int>(std::lower_bound(cumulative->begin(),
                                                                cumulative->end(),
                                                                uniform(*random)) -
                                               cumulative->begin());
            if (std::find(tags.begin(), tags.end(), t) == tags.end()) {
                tags.push_back(std::min(t, tag_count));
            }
        }
        const int removal_every = 100;  // each removal tag on 1% of the quotes
        if (q % removal_every < removal_tags) {
            tags.push_back(tag_count + 1 + q % removal_every);
        }
    };
    hrd::testing::build_collection(folder, plan);
}

// The cached collection of `quotes` quotes, built on first use.
fs::path cached_collection(int quotes) {
    const fs::path folder = cache_root() / ("collection-v7-" + std::to_string(quotes));
    if (!fs::exists(folder / "complete")) {
        fs::remove_all(folder);
        build_collection(folder, quotes);
        write_text(folder / "complete", "");
    }
    return folder;
}

// This run's working copy of a collection, opened once and shared by the benchmarks
// that need it; those that change it work on quotes and tags nobody else relies on.
struct working_collection {
    fs::path folder;
    std::unique_ptr<CollectionStore> store;
};

working_collection& collection(int quotes) {
    // Made first, so the folder outlives the stores that work in it.
    work_root();
    static std::map<int, working_collection> copies;
    register_logs();
    auto& copy = copies[quotes];
    if (copy.folder.empty()) {
        copy.folder = work_root() / ("collection-" + std::to_string(quotes));
        fs::copy(cached_collection(quotes), copy.folder, fs::copy_options::recursive);
    }
    if (!copy.store) {
        copy.store = std::make_unique<CollectionStore>(fml::utf82wchar(copy.folder.string()));
    }
    return copy;
}

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:", "RssAnon:").
long status_kib(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == field) {
            status >> value;
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return -1;
}

// The floor: one durable insert of a clip-sized text in a table of its own, with the
// collection's settings.
class raw_floor {
public:
    explicit raw_floor(const std::string& name) {
        const fs::path file = work_root() / name;
        fs::remove(file);
        check(sqlite3_open(file.c_str(), &m_db), m_db, "open");
        check(sqlite3_exec(m_db,
                           "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                           "CREATE TABLE t(id INTEGER PRIMARY KEY, text TEXT NOT NULL)",
                           nullptr, nullptr, nullptr),
              m_db, "setup");
        check(sqlite3_prepare_v2(m_db, "INSERT INTO t(text) VALUES(?1)", -1, &m_insert, nullptr),
              m_db, "prepare");
    }
    ~raw_floor() {
        sqlite3_finalize(m_insert);
        sqlite3_close(m_db);
    }
    raw_floor(const raw_floor&) = delete;
    raw_floor& operator=(const raw_floor&) = delete;

    void insert(const std::string& text) {
        check(sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr), m_db, "begin");
        sqlite3_bind_text(m_insert, 1, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
        check(sqlite3_step(m_insert), m_db, "insert");
        sqlite3_reset(m_insert);
        check(sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr), m_db, "commit");
    }

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
};

void BM_raw_sqlite_insert(benchmark::State& state) {
    raw_floor floor("raw.db");
    text_maker texts(3);
    for (auto _ : state) {
        floor.insert(texts.next());
    }
}
BENCHMARK(BM_raw_sqlite_insert)->Unit(benchmark::kMicrosecond);

void BM_addQuote(benchmark::State& state) {
    auto& store = *collection(static_cast<int>(state.range(0))).store;
    text_maker texts(4);
    for (auto _ : state) {
        const std::u16string text = fml::utf82wchar(texts.next());
        benchmark::DoNotOptimize(store.addQuote(text));
    }
}
BENCHMARK(BM_addQuote)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

// Marks and removals pick quotes spread over the collection (a stride through a prime
// permutation) from two separate halves, so no benchmark trips over another's changes.
record_id next_quote_to_mark() {
    static std::int64_t step = 0;
    return static_cast<record_id>(1 + (step++ * 7919) % 499'999);
}
record_id next_quote_to_remove() {
    static std::int64_t step = 0;
    return static_cast<record_id>(500'000 + (step++ * 104'729) % 500'000);
}
// A tag of its own, so every mark is a new one.
record_id mark_tag(CollectionStore& store) {
    static const record_id tag = store.addTag(u"bench mark tag");
    return tag;
}

void BM_markQuote(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const record_id tag = mark_tag(store);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.markQuote(next_quote_to_mark(), tag));
    }
}
BENCHMARK(BM_markQuote)->Unit(benchmark::kMicrosecond);

void BM_removeQuote(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    for (auto _ : state) {
        store.removeQuote(next_quote_to_remove());
    }
}
BENCHMARK(BM_removeQuote)->Unit(benchmark::kMicrosecond);

// A selection of 10^4 quotes deleted at once (one transaction), from the upper half of
// a 10^5 collection: each iteration takes the next block of ids.
void BM_removeQuotes_selection(benchmark::State& state) {
    auto& store = *collection(100'000).store;
    static record_id next = 50'001;
    constexpr record_id selection = 10'000;
    for (auto _ : state) {
        if (next + selection - 1 > 100'000) {
            state.SkipWithError("out of quotes to remove");
            break;
        }
        std::vector<record_id> ids(selection);
        for (record_id i = 0; i < selection; ++i) {
            ids[static_cast<std::size_t>(i)] = next + i;
        }
        next += selection;
        store.removeQuotes(ids);
    }
}
BENCHMARK(BM_removeQuotes_selection)->Iterations(4)->Unit(benchmark::kMillisecond);

// Each iteration removes one of the tags that are on exactly 1% of the quotes.
void BM_removeTag(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    static record_id next = tag_count + 1;
    for (auto _ : state) {
        if (next > tag_count + removal_tags) {
            state.SkipWithError("out of removal tags");
            break;
        }
        store.removeTag(next++);
    }
}
BENCHMARK(BM_removeTag)->Iterations(6)->Unit(benchmark::kMillisecond);

// The cost of a durable write swings from one minute to the next on a shared machine,
// so the ratio to the floor is also measured in pairs: each iteration times one floor
// insert and then one store operation. Counters: floor_us, operation_us, ratio.
// `idle` runs after each pair, as the program's quiet time after an action, outside
// the timing; its own time per iteration is the counter idle_us (and total_ratio
// counts it in).
template <class Operation, class Idle>
void paired_with_floor(benchmark::State& state, Operation operation, Idle idle) {
    using clock = std::chrono::steady_clock;
    raw_floor floor("paired.db");
    text_maker texts(5);
    clock::duration floor_time{};
    clock::duration operation_time{};
    clock::duration idle_time{};
    for (auto _ : state) {
        const std::string text = texts.next();
        // The store takes text as the clipboard gives it, in UTF-16.
        const std::u16string text16 = fml::utf82wchar(text);
        const auto start = clock::now();
        floor.insert(text);
        const auto between = clock::now();
        operation(text, text16);
        const auto end = clock::now();
        operation_time += end - between;
        floor_time += between - start;
        state.PauseTiming();
        idle();
        idle_time += clock::now() - end;
        state.ResumeTiming();
    }
    const auto micros = [&](clock::duration total) {
        return std::chrono::duration<double, std::micro>(total).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["floor_us"] = micros(floor_time);
    state.counters["operation_us"] = micros(operation_time);
    state.counters["ratio"] = micros(operation_time) / micros(floor_time);
    state.counters["idle_us"] = micros(idle_time);
    state.counters["total_ratio"] = (micros(operation_time) + micros(idle_time)) / micros(floor_time);
}
template <class Operation>
void paired_with_floor(benchmark::State& state, Operation operation) {
    paired_with_floor(state, operation, [] {});
}

// Captures as they come in use, with the program's quiet time between them: the
// store tidies its text index then (idle_us), as the program does.
void BM_paired_addQuote(benchmark::State& state) {
    auto& store = *collection(static_cast<int>(state.range(0))).store;
    paired_with_floor(
        state,
        [&](const std::string&, const std::u16string& text) {
            benchmark::DoNotOptimize(store.addQuote(text));
        },
        [&] {
            while (store.tidy_text_index()) {
            }
        });
}
BENCHMARK(BM_paired_addQuote)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMicrosecond);

// Our part of what the text index adds to a capture: cutting a clip-sized text into
// its pieces (here gathered into strings, which the index itself does not need).
void BM_text_pieces(benchmark::State& state) {
    text_maker texts(6);
    std::vector<std::string> batch;
    for (int i = 0; i < 64; ++i) {
        batch.push_back(texts.next());
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hrd::text_pieces(batch[next++ % batch.size()]));
    }
}
BENCHMARK(BM_text_pieces)->Unit(benchmark::kMicrosecond);

// Captures back to back, never a quiet moment: the merges fall to the captures.
void BM_paired_addQuote_back_to_back(benchmark::State& state) {
    auto& store = *collection(static_cast<int>(state.range(0))).store;
    paired_with_floor(state, [&](const std::string&, const std::u16string& text) {
        benchmark::DoNotOptimize(store.addQuote(text));
    });
}
BENCHMARK(BM_paired_addQuote_back_to_back)
    ->Arg(10'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMicrosecond);

void BM_paired_markQuote(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const record_id tag = mark_tag(store);
    paired_with_floor(state, [&](const std::string&, const std::u16string&) {
        benchmark::DoNotOptimize(store.markQuote(next_quote_to_mark(), tag));
    });
}
BENCHMARK(BM_paired_markQuote)->Unit(benchmark::kMicrosecond);

void BM_paired_removeQuote(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    paired_with_floor(state, [&](const std::string&, const std::u16string&) {
        store.removeQuote(next_quote_to_remove());
    });
}
BENCHMARK(BM_paired_removeQuote)->Unit(benchmark::kMicrosecond);

// Runs the search over tags given by popularity rank (1 = the most popular, on about
// 40% of the quotes; rank 40 is on about 1%): to the last result id, or (select) only
// to the first record, which is the selection work without reading every result.
void run_search(benchmark::State& state, int mode, const std::vector<record_id>& ranks,
                bool to_last) {
    auto& store = *collection(1'000'000).store;
    store.clearSearchTags();
    store.setSearchMode(mode);
    for (const record_id rank : ranks) {
        store.addSearchTag(rank);
    }
    std::int64_t results = 0;
    for (auto _ : state) {
        results = 0;
        auto cursor = store.searchQuotes();
        for (; !cursor->empty() && (to_last || results == 0); cursor->next()) {
            benchmark::DoNotOptimize(cursor->current().m_id);
            ++results;
        }
    }
    if (to_last) {
        state.counters["results"] = static_cast<double>(results);
    }
    store.clearSearchTags();
}

#define HOARDLY_SEARCH(mode, name, ...)                                                            \
    BENCHMARK_CAPTURE(BM_search_##mode, name, std::vector<record_id>{__VA_ARGS__}, true)           \
        ->Unit(benchmark::kMillisecond);                                                           \
    BENCHMARK_CAPTURE(BM_search_##mode##_select, name, std::vector<record_id>{__VA_ARGS__}, false) \
        ->Unit(benchmark::kMillisecond)

void BM_search_and(benchmark::State& state, std::vector<record_id> ranks, bool to_last) {
    run_search(state, search_mode_and, ranks, to_last);
}
void BM_search_and_select(benchmark::State& state, std::vector<record_id> ranks, bool to_last) {
    run_search(state, search_mode_and, ranks, to_last);
}
void BM_search_or(benchmark::State& state, std::vector<record_id> ranks, bool to_last) {
    run_search(state, search_mode_or, ranks, to_last);
}
void BM_search_or_select(benchmark::State& state, std::vector<record_id> ranks, bool to_last) {
    run_search(state, search_mode_or, ranks, to_last);
}
HOARDLY_SEARCH(and, ranks_20_40, 20, 40);
HOARDLY_SEARCH(and, ranks_1_2, 1, 2);
HOARDLY_SEARCH(and, ranks_5_10_20_40_80, 5, 10, 20, 40, 80);
HOARDLY_SEARCH(and, ranks_1_2_3_4_5, 1, 2, 3, 4, 5);
HOARDLY_SEARCH(or, ranks_200_to_600, 200, 300, 400, 500, 600);
HOARDLY_SEARCH(or, ranks_20_to_60, 20, 30, 40, 50, 60);
HOARDLY_SEARCH(or, ranks_1_to_5, 1, 2, 3, 4, 5);

// The whole tag list, as the first display of the window reads it.
void BM_tags(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    std::int64_t marks = 0;
    for (auto _ : state) {
        marks = 0;
        for (auto tags = store.tags(); !tags->empty(); tags->next()) {
            marks += static_cast<std::int64_t>(tags->current().m_quotes.size());
        }
    }
    state.counters["marks"] = static_cast<double>(marks);
}
BENCHMARK(BM_tags)->Unit(benchmark::kMillisecond);

// Every quote in table order, as the window's first display reads the quote list.
void BM_quotes(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    std::int64_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (auto quotes = store.quotes(); !quotes->empty(); quotes->next()) {
            benchmark::DoNotOptimize(quotes->current().m_id);
            ++count;
        }
    }
    state.counters["quotes"] = static_cast<double>(count);
}
BENCHMARK(BM_quotes)->Iterations(2)->Unit(benchmark::kMillisecond);

// Opening: checks, emptiness, the id counters and the undated check.
void BM_open(benchmark::State& state) {
    auto& copy = collection(static_cast<int>(state.range(0)));
    copy.store.reset();
    const std::u16string folder = fml::utf82wchar(copy.folder.string());
    for (auto _ : state) {
        CollectionStore store(folder);
        benchmark::DoNotOptimize(store.max_quote_id());
    }
    const long before = status_kib("VmRSS:");
    copy.store = std::make_unique<CollectionStore>(folder);
    // Whole process: the benchmark library and this program's own state included.
    state.counters["rss_MiB"] = static_cast<double>(status_kib("VmRSS:")) / 1024;
    state.counters["peak_rss_MiB"] = static_cast<double>(status_kib("VmHWM:")) / 1024;
    state.counters["open_adds_KiB"] = static_cast<double>(status_kib("VmRSS:") - before);
}
BENCHMARK(BM_open)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Every quote with its tags, as the window's list is filled at start: what the
// program reads before it can show anything.
void BM_read_all_quotes(benchmark::State& state) {
    auto& copy = collection(static_cast<int>(state.range(0)));
    std::size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (auto all = copy.store->quotes(); !all->empty();) {
            benchmark::DoNotOptimize(all->current().m_utftext.data());
            ++count;
            if (!all->next()) {
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}
BENCHMARK(BM_read_all_quotes)->Arg(100'000)->Unit(benchmark::kMillisecond);

// ---- The list as a sequence of ids, and the rows in view --------------------------------

// The search's result as ids only: every quote for an empty search, then tags given by
// popularity rank (rank 1 is on about 40% of the quotes, ranks 40 and 41 on about 1%).
void BM_searchQuoteIds(benchmark::State& state, int quotes, int mode,
                       std::vector<record_id> ranks) {
    auto& store = *collection(quotes).store;
    store.clearSearchTags();
    store.setSearchMode(mode);
    for (const record_id rank : ranks) {
        store.addSearchTag(rank);
    }
    std::size_t results = 0;
    for (auto _ : state) {
        const auto ids = store.searchQuoteIds();
        results = ids.size();
        benchmark::DoNotOptimize(ids.data());
    }
    state.counters["results"] = static_cast<double>(results);
    store.clearSearchTags();
}
BENCHMARK_CAPTURE(BM_searchQuoteIds, all_1e5, 100'000, search_mode_and, std::vector<record_id>{})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchQuoteIds, all_1e6, 1'000'000, search_mode_and, std::vector<record_id>{})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchQuoteIds, and_ranks_40_41_1e6, 1'000'000, search_mode_and,
                  std::vector<record_id>{40, 41})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchQuoteIds, rank_1_1e6, 1'000'000, search_mode_and,
                  std::vector<record_id>{1})
    ->Unit(benchmark::kMillisecond);

// Every id of the 10^6 collection in list (table) order, read once.
const std::vector<record_id>& all_ids_1e6() {
    static const std::vector<record_id> ids = [] {
        auto& store = *collection(1'000'000).store;
        store.clearSearchTags();
        return store.searchQuoteIds();
    }();
    return ids;
}

// The rows of a window: `state.range(0)` ids that stand next to each other in the list,
// at a random place of it each time.
void BM_read_quotes_window(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto& ids = all_ids_1e6();
    const auto window = static_cast<std::size_t>(state.range(0));
    std::mt19937 random(6);
    std::uniform_int_distribution<std::size_t> start(0, ids.size() - window);
    for (auto _ : state) {
        const auto rows = store.read_quotes(std::span(ids).subspan(start(random), window));
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_read_quotes_window)->Arg(40)->Arg(400)->Unit(benchmark::kMicrosecond);

// The same window size, ids picked anywhere: the list sorted by time, or a
// selection spread over the collection.
void BM_read_quotes_scattered(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto& ids = all_ids_1e6();
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, ids.size() - 1);
    std::vector<record_id> window(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& id : window) {
            id = ids[pick(random)];
        }
        state.ResumeTiming();
        const auto rows = store.read_quotes(window);
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_read_quotes_scattered)->Arg(400)->Unit(benchmark::kMicrosecond);

// 10^5 quotes, every tenth of the 10^6 collection, copied as one text.
std::vector<record_id> every_tenth_id() {
    std::vector<record_id> chosen;
    const auto& ids = all_ids_1e6();
    for (std::size_t i = 0; i < ids.size() && chosen.size() < 100'000; i += 10) {
        chosen.push_back(ids[i]);
    }
    return chosen;
}

void BM_copy_quotes_text(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto chosen = every_tenth_id();
    std::size_t length = 0;
    for (auto _ : state) {
        const auto text = state.range(0) ? copy_quotes_with_data_text(store, chosen)
                                         : copy_quotes_text(store, chosen);
        length = text.size();
    }
    state.counters["quotes"] = static_cast<double>(chosen.size());
    state.counters["chars"] = static_cast<double>(length);
}
BENCHMARK(BM_copy_quotes_text)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The reading part of such a copy: the same quotes, 512 to a read.
void BM_read_quotes_selection(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto chosen = every_tenth_id();
    for (auto _ : state) {
        for (std::size_t from = 0; from < chosen.size(); from += 512) {
            const auto rows = store.read_quotes(
                std::span(chosen).subspan(from, std::min<std::size_t>(512, chosen.size() - from)));
            benchmark::DoNotOptimize(rows.data());
        }
    }
}
BENCHMARK(BM_read_quotes_selection)->Unit(benchmark::kMillisecond);

// Every id of the 10^6 collection in time order, newest first.
void BM_order_by_time(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto& ids = all_ids_1e6();
    for (auto _ : state) {
        const auto ordered = store.order_by_time(ids, false);
        benchmark::DoNotOptimize(ordered.data());
    }
}
BENCHMARK(BM_order_by_time)->Unit(benchmark::kMillisecond);

// The tags common to a selection of 10^5 quotes.
void BM_tags_on_all(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto chosen = every_tenth_id();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.tags_on_all(chosen));
    }
}
BENCHMARK(BM_tags_on_all)->Unit(benchmark::kMillisecond);

// A new tag put on 10^4 quotes spread over the 10^6 collection, in one commit.
void BM_markQuotes(benchmark::State& state) {
    auto& store = *collection(1'000'000).store;
    const auto& ids = all_ids_1e6();
    std::vector<record_id> selection;
    for (std::size_t i = 0; i < ids.size() && selection.size() < 10'000; i += 97) {
        selection.push_back(ids[i]);
    }
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const record_id tag =
            store.addTag(u"bench batch " + fml::utf82wchar(std::to_string(round++)));
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.markQuotes(selection, tag));
    }
    state.counters["quotes"] = static_cast<double>(selection.size());
}
BENCHMARK(BM_markQuotes)->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// ---- Finding quotes by their text ---------------------------------------------------------

// Words of the generated texts by how often they come: one of rank 40,000 or more (a
// few hundred quotes at 10^6), one of rank about 600 (about 2% of the quotes).
std::u16string vocabulary_word(std::size_t from_rank, std::size_t min_length) {
    const auto& words = text_maker::vocabulary();
    for (std::size_t rank = from_rank; rank < words.size(); ++rank) {
        if (words[rank].size() >= min_length) {
            return fml::utf82wchar(words[rank]);
        }
    }
    return u"";
}
const std::u16string& rare_word() {
    static const std::u16string word = vocabulary_word(40'000, 7);
    return word;
}
const std::u16string& common_word() {
    static const std::u16string word = vocabulary_word(600, 5);
    return word;
}

enum class term { rare, common, one_char, two_chars, rare_two_words };

std::u16string text_of(term kind) {
    switch (kind) {
    case term::rare:
        return rare_word();
    case term::common:
        return common_word();
    case term::one_char:
        return u"q";
    case term::two_chars:
        return u"zx";
    case term::rare_two_words:
        return rare_word() + u" " + common_word();
    }
    return u"";
}

// The search to its ids on the UI thread, as the list is rebuilt: the text alone, or
// with an AND of two tags (ranks 1 and 2: on about 40% and 20% of the quotes). The
// apart variant opens its own connection each time, as a search off the UI thread does.
void BM_text_search(benchmark::State& state, int quotes, term kind, bool tagged, bool apart) {
    auto& store = *collection(quotes).store;
    store.clearSearchTags();
    store.setSearchMode(search_mode_and);
    if (tagged) {
        store.addSearchTag(1);
        store.addSearchTag(2);
    }
    store.setSearchText(text_of(kind));
    const std::atomic<bool> go_on{false};
    std::size_t results = 0;
    for (auto _ : state) {
        if (apart) {
            const auto ids =
                CollectionStore::search_ids_apart(store.database_path(), store.currentSearch(), go_on);
            results = ids ? ids->size() : 0;
        } else {
            const auto ids = store.searchQuoteIds();
            results = ids.size();
            benchmark::DoNotOptimize(ids.data());
        }
    }
    state.counters["results"] = static_cast<double>(results);
    store.setSearchText(u"");
    store.clearSearchTags();
}
#define HOARDLY_TEXT_SEARCH(name, quotes, kind, tagged, apart)                        \
    BENCHMARK_CAPTURE(BM_text_search, name, quotes, term::kind, tagged, apart)       \
        ->Unit(benchmark::kMillisecond)
HOARDLY_TEXT_SEARCH(rare_1e4, 10'000, rare, false, false);
HOARDLY_TEXT_SEARCH(rare_1e5, 100'000, rare, false, false);
HOARDLY_TEXT_SEARCH(rare_1e6, 1'000'000, rare, false, false);
HOARDLY_TEXT_SEARCH(rare_apart_1e6, 1'000'000, rare, false, true);
HOARDLY_TEXT_SEARCH(common_1e4, 10'000, common, false, false);
HOARDLY_TEXT_SEARCH(common_1e5, 100'000, common, false, false);
HOARDLY_TEXT_SEARCH(common_1e6, 1'000'000, common, false, false);
HOARDLY_TEXT_SEARCH(common_apart_1e6, 1'000'000, common, false, true);
HOARDLY_TEXT_SEARCH(two_words_1e6, 1'000'000, rare_two_words, false, false);
HOARDLY_TEXT_SEARCH(one_char_1e4, 10'000, one_char, false, false);
HOARDLY_TEXT_SEARCH(one_char_1e5, 100'000, one_char, false, false);
HOARDLY_TEXT_SEARCH(one_char_1e6, 1'000'000, one_char, false, false)->Iterations(2);
HOARDLY_TEXT_SEARCH(two_chars_1e5, 100'000, two_chars, false, false);
HOARDLY_TEXT_SEARCH(two_chars_1e6, 1'000'000, two_chars, false, false)->Iterations(2);
HOARDLY_TEXT_SEARCH(two_chars_apart_1e6, 1'000'000, two_chars, false, true)->Iterations(2);
HOARDLY_TEXT_SEARCH(rare_and_ranks_1_2_1e6, 1'000'000, rare, true, false);
HOARDLY_TEXT_SEARCH(common_and_ranks_1_2_1e6, 1'000'000, common, true, false);
HOARDLY_TEXT_SEARCH(one_char_and_ranks_1_2_1e5, 100'000, one_char, true, false);

// The size of the text index next to the text it indexes, at 10^6 quotes.
void BM_text_index_size(benchmark::State& state) {
    auto& copy = collection(1'000'000);
    const fs::path file = copy.folder / "hoardly.fdb";
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    auto number = [&](const char* sql) {
        sqlite3_stmt* query = nullptr;
        double value = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK &&
            sqlite3_step(query) == SQLITE_ROW) {
            value = sqlite3_column_double(query, 0);
        }
        sqlite3_finalize(query);
        return value;
    };
    double index_bytes = 0;
    double text_bytes = 0;
    for (auto _ : state) {
        // Whole pages where SQLite can tell them, the stored blocks otherwise.
        index_bytes = number("SELECT sum(pgsize) FROM dbstat WHERE name LIKE 'quote_text%'");
        if (index_bytes < 0) {
            index_bytes = number("SELECT sum(length(block)) FROM quote_text_data") +
                          number("SELECT count(*) * 16 FROM quote_text_idx");
        }
        text_bytes = number("SELECT sum(length(CAST(m_utftext AS BLOB))) FROM quote");
    }
    sqlite3_close(db);
    state.counters["index_MiB"] = index_bytes / (1 << 20);
    state.counters["text_MiB"] = text_bytes / (1 << 20);
    state.counters["index_bytes_per_text_byte"] = index_bytes / text_bytes;
}
BENCHMARK(BM_text_index_size)->Iterations(1)->Unit(benchmark::kMillisecond);

// Opening a 10^5 collection of version 1, which builds its text index, against
// opening it once built.
void BM_text_index_build(benchmark::State& state) {
    register_logs();
    // The index's table needs its way of cutting texts even to be dropped.
    hrd::register_text_pieces();
    const fs::path source = cached_collection(100'000);
    const fs::path folder = work_root() / "index-build";
    std::size_t told = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::copy(source, folder, fs::copy_options::recursive);
        {
            sqlite3* db = nullptr;
            check(sqlite3_open((folder / "hoardly.fdb").c_str(), &db), db, "open");
            check(sqlite3_exec(db,
                               "BEGIN; DROP TRIGGER quote_text_added; DROP TRIGGER "
                               "quote_text_removed; DROP TRIGGER quote_text_changed; DROP TABLE "
                               "quote_text; PRAGMA user_version=1; COMMIT; VACUUM; "
                               "PRAGMA wal_checkpoint(TRUNCATE);",
                               nullptr, nullptr, nullptr),
                  db, "back to version 1");
            sqlite3_close(db);
        }
        told = 0;
        state.ResumeTiming();
        CollectionStore store(fml::utf82wchar(folder.string()), [&](double) { ++told; });
        benchmark::DoNotOptimize(store.max_quote_id());
    }
    state.counters["progress_calls"] = static_cast<double>(told);
    fs::remove_all(folder);
}
BENCHMARK(BM_text_index_build)->Iterations(2)->Unit(benchmark::kMillisecond);

// Captures right after a start that rebuilt the text index of a 10^5 collection (of
// version 3): they should cost what they cost after an ordinary start (BM_addQuote).
void BM_addQuote_after_index_build(benchmark::State& state) {
    register_logs();
    hrd::register_text_pieces();
    const fs::path folder = work_root() / "index-rebuilt";
    fs::remove_all(folder);
    fs::copy(cached_collection(100'000), folder, fs::copy_options::recursive);
    {
        sqlite3* db = nullptr;
        check(sqlite3_open((folder / "hoardly.fdb").c_str(), &db), db, "open");
        check(sqlite3_exec(db, "PRAGMA user_version=3", nullptr, nullptr, nullptr), db,
              "back to version 3");
        sqlite3_close(db);
    }
    CollectionStore store(fml::utf82wchar(folder.string()), [](double) {});
    text_maker texts(4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.addQuote(fml::utf82wchar(texts.next())));
    }
    fs::remove_all(folder);
}
BENCHMARK(BM_addQuote_after_index_build)->Iterations(300)->Unit(benchmark::kMicrosecond);
