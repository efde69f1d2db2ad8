#pragma once
// A collection in a private temporary folder, with the store's logs registered there.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fml/app_dirs.h"
#include "fml/log.h"
#include "model/collection_store.h"
#include "support/temp_dir.h"

namespace hrd::test {

inline const std::string empty_tags = "<tags/>";
inline const std::string empty_quotes = "<quotes/>";

class store_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(m_dir.file("logs"));
        app_dirs::set(app_dirs::DataDir, m_dir.wpath());
        fml::reglog("logic", u"logs/logic.log");
        fml::reglog("debug", u"logs/debug.log");
        write_defaults(empty_tags, empty_quotes);
    }
    void TearDown() override {
        m_store.reset();
        fml::closelogs();
    }

    void write_defaults(const std::string& tags, const std::string& quotes) {
        write_file(m_dir.file("defaulttags.xml"), tags);
        write_file(m_dir.file("defaultquotes.xml"), quotes);
    }

    CollectionStore& open() {
        m_store.reset();
        m_store = std::make_unique<CollectionStore>(m_dir.wpath());
        return *m_store;
    }

    // The log's text written since the last call.
    std::string new_log(const std::string& id) {
        const std::string all = read_file(m_dir.file("logs/" + id + ".log"));
        std::string& seen = id == "debug" ? m_debug_seen : m_logic_seen;
        const std::string fresh = all.substr(std::min(seen.size(), all.size()));
        seen = all;
        return fresh;
    }

    // One number from the collection file, read through a connection of its own: what
    // another reader sees is what was committed.
    long long committed(const std::string& sql) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(m_dir.file("hoardly.fdb").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        long long value = -999;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            value = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return value;
    }

    // Writes hoardly.fdb as the previous version of the program left it (version 1, no
    // text index), holding these quotes (ids 1, 2, ...) and, when `tagged` is set, one
    // tag "even" on the quotes of even id. Replaces any collection there.
    void write_version1_file(const std::vector<std::string>& texts, bool tagged = false) {
        const std::string path = m_dir.file("hoardly.fdb");
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::filesystem::remove(path + suffix);
        }
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        // That version's layout, as files in users' hands have it.
        sqlite3_exec(db, R"sql(
PRAGMA journal_mode=WAL; BEGIN;
CREATE TABLE tag(
    seq INTEGER PRIMARY KEY,
    m_id INTEGER NOT NULL UNIQUE,
    m_utfname TEXT NOT NULL UNIQUE,
    n_marks INTEGER NOT NULL DEFAULT 0);
CREATE TABLE quote(
    seq INTEGER PRIMARY KEY,
    m_id INTEGER NOT NULL UNIQUE,
    m_utftext TEXT NOT NULL,
    m_stamp INTEGER NOT NULL);
CREATE INDEX quote_by_stamp ON quote(m_stamp);
CREATE TABLE mark(
    quote_id INTEGER NOT NULL REFERENCES quote(m_id) ON DELETE CASCADE,
    tag_id INTEGER NOT NULL REFERENCES tag(m_id) ON DELETE CASCADE,
    quote_seq INTEGER NOT NULL,
    position INTEGER NOT NULL,
    PRIMARY KEY(quote_id, tag_id)) WITHOUT ROWID;
CREATE INDEX mark_by_tag ON mark(tag_id, quote_seq, quote_id);
CREATE TRIGGER mark_added AFTER INSERT ON mark BEGIN
    UPDATE tag SET n_marks = n_marks + 1 WHERE m_id = NEW.tag_id;
END;
CREATE TRIGGER mark_removed AFTER DELETE ON mark BEGIN
    UPDATE tag SET n_marks = n_marks - 1 WHERE m_id = OLD.tag_id;
END;
PRAGMA user_version=1;)sql",
                     nullptr, nullptr, nullptr);
        if (tagged) {
            sqlite3_exec(db, "INSERT INTO tag(m_id, m_utfname) VALUES(1, 'even')", nullptr,
                         nullptr, nullptr);
        }
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO quote(m_id, m_utftext, m_stamp) VALUES(?1, ?2, ?1)",
                           -1, &insert, nullptr);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(i + 1));
            sqlite3_bind_text(insert, 2, texts[i].data(), static_cast<int>(texts[i].size()),
                              SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
            if (tagged && (i + 1) % 2 == 0) {
                const std::string mark = "INSERT INTO mark VALUES(" + std::to_string(i + 1) +
                                         ", 1, " + std::to_string(i + 1) + ", 1)";
                sqlite3_exec(db, mark.c_str(), nullptr, nullptr, nullptr);
            }
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }

    temp_dir m_dir;
    std::unique_ptr<CollectionStore> m_store;
    std::string m_logic_seen;
    std::string m_debug_seen;
};

}  // namespace hrd::test
