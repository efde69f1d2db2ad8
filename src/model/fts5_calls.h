#pragma once
// The parts of SQLite's full-text extension interface the model uses. Its header is
// not installed with SQLite's own; the layout is part of SQLite's stable interface.

#include <sqlite3.h>

namespace hrd::fts5 {

struct tokenizer_handle;

struct tokenizer_calls {
    int (*create)(void* user_data, const char** arguments, int count, tokenizer_handle** made);
    void (*destroy)(tokenizer_handle*);
    int (*tokenize)(tokenizer_handle*, void* context, int flags, const char* text, int size,
                    int (*token)(void* context, int flags, const char* token, int size,
                                 int start, int end));
};

struct api {
    int version;
    int (*create_tokenizer)(api*, const char* name, void* user_data, tokenizer_calls* calls,
                            void (*destroy)(void*));
    int (*find_tokenizer)(api*, const char* name, void** user_data, tokenizer_calls* calls);
    void* create_function;
};

// What a tokenizer is asked to cut.
constexpr int tokenize_query = 0x0001;
constexpr int tokenize_document = 0x0004;

// The extension's interface on `db`, or null where SQLite was built without it.
inline api* api_of(sqlite3* db) {
    api* found = nullptr;
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &query, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(query, 1, static_cast<void*>(&found), "fts5_api_ptr", nullptr);
        sqlite3_step(query);
    }
    sqlite3_finalize(query);
    return found;
}

}  // namespace hrd::fts5
