#include "collection_builder.h"

#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "fml/text.h"
#include "model/collection_store.h"

namespace fs = std::filesystem;

namespace hrd::testing {
namespace {

void check(int result, sqlite3* db, const char* what) {
    if (result != SQLITE_OK && result != SQLITE_DONE && result != SQLITE_ROW) {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
    }
}

struct statement_closer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using statement = std::unique_ptr<sqlite3_stmt, statement_closer>;

statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, sql);
    return statement(s);
}

void step(sqlite3* db, sqlite3_stmt* s, const char* what) {
    check(sqlite3_step(s), db, what);
    sqlite3_reset(s);
}

}  // namespace

void build_collection(const fs::path& folder, const collection_plan& plan) {
    fs::create_directories(folder);
    std::ofstream(folder / "defaulttags.xml", std::ios::binary) << "<tags/>";
    std::ofstream(folder / "defaultquotes.xml", std::ios::binary) << "<quotes/>";
    { CollectionStore empty(fml::utf82wchar(folder.string())); }

    sqlite3* opened = nullptr;
    const int status = sqlite3_open((folder / "hoardly.fdb").c_str(), &opened);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(opened, sqlite3_close);
    check(status, db.get(), "open");
    check(sqlite3_exec(db.get(), "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; BEGIN",
                       nullptr, nullptr, nullptr),
          db.get(), "begin");
    {
        statement tag = prepare(db.get(), "INSERT INTO tag(m_id, m_utfname) VALUES(?1, ?2)");
        statement quote = prepare(db.get(),
                                  "INSERT INTO quote(m_id, m_utftext, m_stamp) VALUES(?1, ?2, ?3)");
        statement mark = prepare(db.get(),
                                 "INSERT INTO mark(quote_id, tag_id, quote_seq, position) "
                                 "VALUES(?1, ?2, ?1, ?3)");
        for (std::size_t t = 0; t < plan.tags.size(); ++t) {
            sqlite3_bind_int(tag.get(), 1, static_cast<int>(t + 1));
            sqlite3_bind_text(tag.get(), 2, plan.tags[t].c_str(), -1, SQLITE_TRANSIENT);
            step(db.get(), tag.get(), "tag");
        }
        std::vector<int> tags;
        for (int q = 1; q <= plan.quotes; ++q) {
            const std::string text = plan.text(q);
            sqlite3_bind_int(quote.get(), 1, q);
            sqlite3_bind_text(quote.get(), 2, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC);
            sqlite3_bind_int(quote.get(), 3, 1700000000 + q);
            step(db.get(), quote.get(), "quote");
            tags.clear();
            if (plan.tags_of) {
                plan.tags_of(q, tags);
            }
            for (std::size_t position = 0; position < tags.size(); ++position) {
                sqlite3_bind_int(mark.get(), 1, q);
                sqlite3_bind_int(mark.get(), 2, tags[position]);
                sqlite3_bind_int(mark.get(), 3, static_cast<int>(position) + 1);
                step(db.get(), mark.get(), "mark");
            }
        }
    }
    check(sqlite3_exec(db.get(), "COMMIT; PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr),
          db.get(), "commit");
}

}  // namespace hrd::testing
