#pragma once
// A thin, checked layer over the SQLite C interface for the store's own use. Every call's
// result is examined; a failure raises db_error with what was being done and SQLite's
// own message.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace hrd::sqlite {

// Raises db_error: "<what>: <SQLite's message for db>".
[[noreturn]] void fail(sqlite3* db, std::string_view what);

// One open database connection, closed when destroyed.
class connection {
public:
    connection() = default;
    explicit connection(sqlite3* db) : m_db(db) {}
    ~connection();
    connection(connection&& other) noexcept : m_db(other.m_db) { other.m_db = nullptr; }
    connection& operator=(connection&& other) noexcept;
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    sqlite3* get() const { return m_db; }
    // Runs one or more statements that return nothing the caller needs.
    void execute(const char* sql) const { execute_on(m_db, sql); }
    static void execute_on(sqlite3* db, const char* sql);

private:
    sqlite3* m_db = nullptr;
};

// One prepared statement, kept for the life of the store so each operation pays for
// parsing only once.
class statement {
public:
    statement(sqlite3* db, std::string_view sql);
    ~statement();
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;

    void bind(int index, std::int64_t value);
    void bind_text(int index, std::string_view text);
    // Steps once: true while a row is ready, false when done.
    bool step();
    // Runs a statement that returns no rows, then resets it.
    void run();
    // Back to the start with the bindings cleared; ends any read the statement holds.
    void reset() noexcept;

    std::int64_t column_int(int column) const;
    std::string column_text(int column) const;
    // The text of a column without a copy, valid until the next step or reset.
    std::string_view column_view(int column) const;
    bool column_is_null(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    std::string m_sql;
};

// Resets a cached statement when one use of it ends, by return or by exception.
class reset_on_exit {
public:
    explicit reset_on_exit(statement& statement) : m_statement(statement) {}
    ~reset_on_exit() { m_statement.reset(); }
    reset_on_exit(const reset_on_exit&) = delete;
    reset_on_exit& operator=(const reset_on_exit&) = delete;

private:
    statement& m_statement;
};

}  // namespace hrd::sqlite
