#pragma once
// A collection in a private temporary folder, with the store's logs registered there.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

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

    temp_dir m_dir;
    std::unique_ptr<CollectionStore> m_store;
    std::string m_logic_seen;
    std::string m_debug_seen;
};

}  // namespace hrd::test
