#pragma once
// Result sets: what the store hands out where a query selects records. A result set
// stands on its first record when it is created (or on none), and moves forward only.
//
// Records are read from the database one at a time as the reader moves, so a result
// over a million quotes costs memory for its row keys only (or nothing, for a whole
// table), and no read stays open between calls: the store may change the collection
// while a result set is alive. A record removed in the meantime is skipped.
//
// A result set reads through the store that made it and must not outlive it.

#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "model/errors.h"
#include "model/records.h"

namespace hrd {

// Where a result set reads its records from; the store implements it per table.
// Row keys give table order: a later insert always has a larger key.
template <class Record>
class record_source {
public:
    // Reads the record with row key `key` into `record`; false when it is gone.
    virtual bool load(std::int64_t key, Record& record) = 0;
    // Reads the first record whose row key is larger than `after`; false past the end.
    virtual bool load_after(std::int64_t after, std::int64_t& key, Record& record) = 0;

protected:
    ~record_source() = default;
};

template <class Record>
class result_set {
public:
    // The records with the given row keys, which must ascend. Reading an empty
    // result raises `missing` (for a lookup by id: the id's own error).
    static std::unique_ptr<result_set> of_keys(record_source<Record>& source,
                                               std::vector<std::int64_t> keys,
                                               std::exception_ptr missing = {}) {
        std::unique_ptr<result_set> result(new result_set(source, std::move(missing)));
        result->m_keys = std::move(keys);
        result->m_whole_table = false;
        result->advance();
        return result;
    }

    // Every record of the table, in table order.
    static std::unique_ptr<result_set> of_table(record_source<Record>& source) {
        std::unique_ptr<result_set> result(new result_set(source, {}));
        result->m_whole_table = true;
        result->advance();
        return result;
    }

    result_set(const result_set&) = delete;
    result_set& operator=(const result_set&) = delete;

    // No current record: the selection was empty, or the reader went past its end.
    bool empty() const { return !m_has_current; }

    // The record the result stands on. Raises when there is none, so a reader never
    // takes a default record for a real one.
    const Record& current() const {
        if (!m_has_current) {
            if (m_missing) {
                std::rethrow_exception(m_missing);
            }
            throw no_current_record("the result set holds no current record");
        }
        return m_current;
    }

    // Moves to the next record; false when there is none.
    bool next() {
        if (m_has_current) {
            advance();
        }
        return m_has_current;
    }

private:
    result_set(record_source<Record>& source, std::exception_ptr missing)
        : m_source(source), m_missing(std::move(missing)) {}

    void advance() {
        m_current = Record();
        if (m_whole_table) {
            std::int64_t key = 0;
            m_has_current = m_source.load_after(m_last_key, key, m_current);
            if (m_has_current) {
                m_last_key = key;
            }
            return;
        }
        m_has_current = false;
        while (m_next_index < m_keys.size() && !m_has_current) {
            m_has_current = m_source.load(m_keys[m_next_index++], m_current);
        }
    }

    record_source<Record>& m_source;
    std::exception_ptr m_missing;
    bool m_whole_table = false;
    std::vector<std::int64_t> m_keys;
    std::size_t m_next_index = 0;
    // Row keys start at 1, so 0 is before the first record.
    std::int64_t m_last_key = 0;
    Record m_current;
    bool m_has_current = false;
};

using tag_cursor = result_set<tag>;
using quote_cursor = result_set<quote>;

}  // namespace hrd
