// A store killed at any moment loses no quote it has acknowledged, and its file opens
// cleanly afterwards.

#include <signal.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <random>
#include <thread>

#include "fml/unique_fd.h"
#include "store_fixture.h"

using namespace hrd;

namespace {

std::u16string text_for(record_id id) {
    return u"quote " + fml::utf82wchar(std::to_string(id)) + u"\r\n" +
           std::u16string(static_cast<std::size_t>(id % 700), u'\u00E9');
}

// A store process of its own: `work` runs in a forked child that writes its store
// logs to `log_folder` and reports through the pipe whose reading end is returned.
// The child never returns: it ends when `work` fails (exit 3) or when it is killed.
struct store_child {
    pid_t pid = -1;
    fml::unique_fd reports;
};

template <class Work>
store_child start_store_child(const std::string& log_folder, Work work) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) {
        return {};
    }
    fml::unique_fd from_child(pipe_ends[0]);
    fml::unique_fd to_parent(pipe_ends[1]);
    const pid_t child = ::fork();
    if (child == 0) {
        from_child.reset();
        fml::closelogs();
        app_dirs::set(app_dirs::DataDir, fml::utf82wchar(log_folder));
        fml::reglog("logic", u"logic.log");
        fml::reglog("debug", u"debug.log");
        try {
            work(to_parent.get());
        } catch (...) {
            ::_exit(3);
        }
        ::pause();  // waits for the kill, as a program does after its work
        ::_exit(4);
    }
    return {child, std::move(from_child)};
}

// Writes one value to the parent; a parent that is gone ends the child.
template <class Value>
void report(int to_parent, const Value& value) {
    if (::write(to_parent, &value, sizeof value) != sizeof value) {
        ::_exit(2);
    }
}

// A child that opens the collection in `data_folder` and runs one batch on it:
// returned once the store is open and the batch is about to start (pid -1 when
// the child never got there). With `while_indexing`, returned as soon as opening
// the store has begun building the text index instead; opening is then the batch.
template <class Batch>
store_child start_batch_child(const std::string& log_folder, const std::u16string& data_folder,
                              Batch batch, bool while_indexing = false) {
    store_child child = start_store_child(log_folder, [&](int to_parent) {
        bool started = false;
        CollectionStore store(data_folder, [&](double) {
            if (while_indexing && !started) {
                started = true;
                report(to_parent, 's');
            }
        });
        if (!started) {
            report(to_parent, 's');
        }
        batch(store);
        report(to_parent, 'd');
    });
    char said = 0;
    pollfd ready{child.reports.get(), POLLIN, 0};
    if (child.pid <= 0 || ::poll(&ready, 1, 30000) != 1 ||
        ::read(child.reports.get(), &said, 1) != 1 || said != 's') {
        return {};
    }
    return child;
}

// Kills the child; whether it had said its batch was done. Fails the test when
// the child ended by itself.
bool kill_batch_child(store_child& child) {
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the child ended on its own: " << status;
    char said = 0;
    return ::read(child.reports.get(), &said, 1) == 1 && said == 'd';
}

class crash : public hrd::test::store_fixture {};

unsigned crash_seed() {
    // The kill moments change from run to run; HOARDLY_CRASH_SEED=<seed> replays one.
    const char* replay = std::getenv("HOARDLY_CRASH_SEED");
    const unsigned seed = replay && *replay ? unsigned(std::strtoul(replay, nullptr, 10))
                                            : std::random_device{}();
    std::cout << "kill moments from seed " << seed << " (HOARDLY_CRASH_SEED=" << seed
              << " replays them)\n";
    return seed;
}

}  // namespace

TEST_F(crash, a_killed_store_keeps_every_acknowledged_quote) {
    const std::string child_logs = m_dir.file("child-logs");
    std::filesystem::create_directory(child_logs);
    // The kill moments change from run to run; HOARDLY_CRASH_SEED=<seed> replays one.
    const char* replay = std::getenv("HOARDLY_CRASH_SEED");
    const unsigned seed = replay && *replay ? unsigned(std::strtoul(replay, nullptr, 10))
                                            : std::random_device{}();
    std::cout << "kill moments from seed " << seed << " (HOARDLY_CRASH_SEED=" << seed
              << " replays them)\n";
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    std::size_t total = 0;
    for (int round = 0; round < 20; ++round) {
        // Adds quotes until killed, reporting each id once addQuote returned, and
        // tidies the text index after every eighth, so some kills land in a merge.
        auto [child, from_child] = start_store_child(child_logs, [&](int to_parent) {
            CollectionStore store(m_dir.wpath());
            for (;;) {
                const record_id added = store.addQuote(text_for(store.max_quote_id() + 1));
                report(to_parent, added);
                if (added % 8 == 0) {
                    while (store.tidy_text_index()) {
                    }
                }
            }
        });
        ASSERT_GT(child, 0);
        std::vector<record_id> acknowledged;
        record_id id = 0;
        // The first round may die while the file is still being made. The others wait
        // for the burst to be under way (a slow, loaded machine may take a while to
        // start it), then kill it at a random moment.
        if (round > 0) {
            pollfd ready{from_child.get(), POLLIN, 0};
            if (::poll(&ready, 1, 20000) == 1 &&
                ::read(from_child.get(), &id, sizeof id) == sizeof id) {
                acknowledged.push_back(id);
            }
        }
        const int delay_ms = std::uniform_int_distribution<int>(0, 120)(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status))
            << "the child ended on its own: " << status << " (seed " << seed << ")";

        while (::read(from_child.get(), &id, sizeof id) == sizeof id) {
            acknowledged.push_back(id);
        }
        from_child.reset();
        total += acknowledged.size();

        auto& store = open();  // raises if the file does not open cleanly
        for (const record_id acked : acknowledged) {
            auto found = store.getQuote(acked);
            ASSERT_FALSE(found->empty())
                << "round " << round << " lost quote " << acked << " (seed " << seed << ")";
            ASSERT_TRUE(fml::utf82wchar(found->current().m_utftext) == text_for(acked));
        }
        // The text index is whole, and finds what was acknowledged last.
        sqlite3* db = nullptr;
        sqlite3_open(m_dir.file("hoardly.fdb").c_str(), &db);
        EXPECT_EQ(sqlite3_exec(db, "INSERT INTO quote_text(quote_text, rank) "
                                   "VALUES('integrity-check', 0)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db) << ", round " << round << " (seed " << seed << ")";
        sqlite3_close(db);
        if (!acknowledged.empty()) {
            store.setSearchText(u"quote " + fml::utf82wchar(std::to_string(acknowledged.back())));
            const auto found = store.searchQuoteIds();
            EXPECT_NE(std::find(found.begin(), found.end(), acknowledged.back()), found.end())
                << "round " << round << " (seed " << seed << ")";
        }
        m_store.reset();
    }
    EXPECT_GT(total, 0u);
    std::cout << total << " acknowledged quotes checked over 20 kills\n";
}

// A large removal killed at any moment leaves all of its quotes or none of them.
TEST_F(crash, a_killed_removal_of_many_quotes_leaves_all_or_none) {
    const std::string child_logs = m_dir.file("child-logs");
    std::filesystem::create_directory(child_logs);
    constexpr record_id count = 3000;
    {
        auto& store = open();
        for (record_id i = 1; i <= count; ++i) {
            store.addQuote(text_for(i));
        }
        m_store.reset();
    }
    std::vector<record_id> all;
    for (record_id i = 1; i <= count; ++i) {
        all.push_back(i);
    }
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 6; ++round) {
        const long long before = committed("SELECT count(*) FROM quote");
        ASSERT_EQ(before, count) << "round " << round;
        store_child child = start_batch_child(
            child_logs, m_dir.wpath(), [&](CollectionStore& store) { store.removeQuotes(all); });
        ASSERT_GT(child.pid, 0) << "the child never opened the store";
        // Rounds kill early in the removal, later, or after it said it was done.
        const int delay_us = std::uniform_int_distribution<int>(0, 40000)(random) * round / 5;
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        const bool acknowledged = kill_batch_child(child);

        auto& store = open();  // raises if the file does not open cleanly
        const long long left = committed("SELECT count(*) FROM quote");
        if (acknowledged) {
            EXPECT_EQ(left, 0) << "round " << round << ": an acknowledged removal came back";
        } else {
            EXPECT_TRUE(left == 0 || left == count)
                << "round " << round << ": " << left << " of " << count << " quotes left";
        }
        // Back to the full set for the next round.
        if (left == 0) {
            for (record_id i = 1; i <= count; ++i) {
                store.addQuote(text_for(i));
            }
            all.clear();
            for (record_id i = store.max_quote_id() - count + 1; i <= store.max_quote_id(); ++i) {
                all.push_back(i);
            }
        }
        m_store.reset();
    }
}

// A large batch of marks killed at any moment leaves all of its marks or none of them.
TEST_F(crash, a_killed_batch_of_marks_leaves_all_or_none) {
    const std::string child_logs = m_dir.file("child-logs");
    std::filesystem::create_directory(child_logs);
    constexpr record_id count = 5000;
    // Imported in one transaction: thousands of single durable commits would make the
    // set-up the longest part.
    std::string quotes = "<quotes>";
    std::vector<record_id> all;
    for (record_id i = 1; i <= count; ++i) {
        quotes += "<q id='" + std::to_string(i) + "' text='q'/>";
        all.push_back(i);
    }
    write_defaults(hrd::test::empty_tags, quotes + "</quotes>");
    const char* replay = std::getenv("HOARDLY_CRASH_SEED");
    const unsigned seed = replay && *replay ? unsigned(std::strtoul(replay, nullptr, 10))
                                            : std::random_device{}();
    std::cout << "kill moments from seed " << seed << " (HOARDLY_CRASH_SEED=" << seed
              << " replays them)\n";
    std::mt19937 random(seed);
    using clock = std::chrono::steady_clock;
    clock::duration batch_time{};
    for (int round = 0; round < 8; ++round) {
        // A tag of its own each round, so every mark of the batch is a new one.
        const record_id tag = open().addTag(u"round " + fml::utf82wchar(std::to_string(round)));
        m_store.reset();
        store_child child = start_batch_child(
            child_logs, m_dir.wpath(), [&](CollectionStore& store) { store.markQuotes(all, tag); });
        ASSERT_GT(child.pid, 0) << "the child never opened the store";
        const auto started = clock::now();
        if (round == 0) {
            // The first round runs to its end and tells how long a batch takes here;
            // the others are killed at a random moment up to half as long again.
            pollfd ready{child.reports.get(), POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "the batch never ended";
            batch_time = clock::now() - started;
        } else {
            const auto until = std::chrono::duration_cast<std::chrono::microseconds>(batch_time);
            const auto delay = std::chrono::microseconds(
                std::uniform_int_distribution<long long>(0, until.count() * 3 / 2)(random));
            std::this_thread::sleep_for(delay);
        }
        const bool acknowledged = kill_batch_child(child);

        open();  // raises if the file does not open cleanly
        const std::string of_tag = " WHERE tag_id = " + std::to_string(tag);
        const long long marks = committed("SELECT count(*) FROM mark" + of_tag);
        if (acknowledged) {
            EXPECT_EQ(marks, count) << "round " << round << ": an acknowledged batch was lost";
        } else {
            EXPECT_TRUE(marks == 0 || marks == count)
                << "round " << round << ": " << marks << " of " << count << " marks left";
        }
        // The tag's count of marks moved with the marks.
        EXPECT_EQ(committed("SELECT n_marks FROM tag WHERE m_id = " + std::to_string(tag)), marks);
        m_store.reset();
    }
}

// Building the text index of an older file, killed at any moment, leaves the file as it
// was, and the next start builds it again.
TEST_F(crash, a_killed_index_build_leaves_the_older_file_as_it_was) {
    const std::string child_logs = m_dir.file("child-logs");
    std::filesystem::create_directory(child_logs);
    std::vector<std::string> texts;
    for (int i = 1; i <= 20000; ++i) {
        texts.push_back(std::string(static_cast<std::size_t>(200 + i % 600), 'a' + char(i % 26)) +
                        " quote " + std::to_string(i));
    }
    const unsigned seed = crash_seed();
    std::mt19937 random(seed);
    using clock = std::chrono::steady_clock;
    clock::duration build_time{};
    int killed_building = 0;
    const std::string sum_sql =
        "SELECT count(*) * 1000003 + sum(length(m_utftext) * m_id) FROM quote";
    for (int round = 0; round < 6; ++round) {
        write_version1_file(texts, true);
        const long long sum = committed(sum_sql);
        store_child child = start_batch_child(
            child_logs, m_dir.wpath(), [](CollectionStore&) {}, true);
        ASSERT_GT(child.pid, 0) << "the child never began building";
        const auto started = clock::now();
        if (round == 0) {
            // The first round runs to its end and tells how long a build takes here;
            // the others are killed at a random moment up to half as long again.
            pollfd ready{child.reports.get(), POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 120000), 1) << "the build never ended";
            build_time = clock::now() - started;
        } else {
            const auto until = std::chrono::duration_cast<std::chrono::microseconds>(build_time);
            std::this_thread::sleep_for(std::chrono::microseconds(
                std::uniform_int_distribution<long long>(0, until.count() * 3 / 2)(random)));
        }
        const bool built = kill_batch_child(child);
        const long long version = committed("PRAGMA user_version");
        const long long index_tables =
            committed("SELECT count(*) FROM sqlite_schema WHERE name LIKE 'quote_text%'");
        if (built) {
            EXPECT_EQ(version, collection_schema_version) << "round " << round << " (seed " << seed << ")";
        } else if (version == 1) {
            ++killed_building;
            EXPECT_EQ(index_tables, 0) << "round " << round << " (seed " << seed << ")";
        }
        EXPECT_EQ(committed(sum_sql), sum) << "round " << round << " (seed " << seed << ")";
        EXPECT_EQ(committed("SELECT n_marks FROM tag"), 10000);

        // The next start builds what is missing, whatever the kill left.
        auto& store = open();
        EXPECT_EQ(committed("PRAGMA user_version"), collection_schema_version);
        const auto numbered = [](const std::string& part, bool even_only) {
            std::vector<record_id> ids;
            for (record_id i = 1; i <= 20000; ++i) {
                if (std::to_string(i).find(part) != std::string::npos && (!even_only || i % 2 == 0)) {
                    ids.push_back(i);
                }
            }
            return ids;
        };
        store.setSearchText(u"QUOTE 1999");
        EXPECT_EQ(store.searchQuoteIds(), numbered("1999", false));
        store.addSearchTag(1);
        store.setSearchText(u"quote 1999");
        EXPECT_EQ(store.searchQuoteIds(), numbered("1999", true));
        m_store.reset();
    }
    std::cout << killed_building << " of 5 kills came while the index was being built\n";
}
