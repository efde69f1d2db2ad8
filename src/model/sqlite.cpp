#include "model/sqlite.h"

#include "model/errors.h"

namespace hrd::sqlite {

void fail(sqlite3* db, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    throw db_error(message);
}

connection::~connection() {
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
    }
}

connection& connection::operator=(connection&& other) noexcept {
    if (this != &other) {
        if (m_db != nullptr) {
            sqlite3_close_v2(m_db);
        }
        m_db = other.m_db;
        other.m_db = nullptr;
    }
    return *this;
}

void connection::execute_on(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(db, std::string("executing \"") + sql + "\"");
    }
}

statement::statement(sqlite3* db, std::string_view sql) : m_db(db), m_sql(sql) {
    if (sqlite3_prepare_v3(db, m_sql.c_str(), static_cast<int>(m_sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK) {
        fail(db, "preparing \"" + m_sql + "\"");
    }
}

statement::~statement() {
    sqlite3_finalize(m_statement);
}

void statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK) {
        fail(m_db, "binding a number to \"" + m_sql + "\"");
    }
}

void statement::bind_text(int index, std::string_view text) {
    // SQLITE_TRANSIENT: SQLite copies the text, so the caller's buffer may go at once.
    if (sqlite3_bind_text64(m_statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8) != SQLITE_OK) {
        fail(m_db, "binding a text to \"" + m_sql + "\"");
    }
}

bool statement::step() {
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result == SQLITE_DONE) {
        return false;
    }
    fail(m_db, "running \"" + m_sql + "\"");
}

void statement::run() {
    reset_on_exit resetter(*this);
    while (step()) {
    }
}

void statement::reset() noexcept {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

std::int64_t statement::column_int(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string statement::column_text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    // Byte count after the text call: embedded NULs and the full length are kept.
    const int size = sqlite3_column_bytes(m_statement, column);
    if (text == nullptr) {
        if (sqlite3_errcode(m_db) == SQLITE_NOMEM) {
            fail(m_db, "reading a text of \"" + m_sql + "\"");
        }
        return {};
    }
    return std::string(text, static_cast<size_t>(size));
}

std::string_view statement::column_view(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    if (text == nullptr) {
        if (sqlite3_errcode(m_db) == SQLITE_NOMEM) {
            fail(m_db, "reading a text of \"" + m_sql + "\"");
        }
        return {};
    }
    return std::string_view(text, static_cast<size_t>(size));
}

bool statement::column_is_null(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

}  // namespace hrd::sqlite
