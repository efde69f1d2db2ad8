#pragma once
// Result sets: what the store hands out where a query selects records. A result set
// stands on its first record when it is created (or on none), and moves forward only.
//
// Records are read from the database in small batches as the reader moves, so a result
// over a million quotes costs memory for its row keys only (or nothing, for a whole
// table), and no read stays open between calls: the store may change the collection
// while a result set is alive. A record removed before its batch is read is skipped.
//
// A result set reads through the store that made it and must not outlive it.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
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
    // Appends to `into` the records of the first keys that are still there, in order,
    // reading at most `limit` keys (fewer when the texts grow large); returns how many
    // keys it read, at least one when `keys` is not empty.
    virtual std::size_t load(std::span<const std::int64_t> keys, std::size_t limit,
                             std::vector<Record>& into) = 0;
    // Appends to `into` up to `limit` records whose keys are larger than `after`, in
    // order (fewer when the texts grow large); returns the key of the last one, or
    // `after` when there is none.
    virtual std::int64_t load_after(std::int64_t after, std::size_t limit,
                                    std::vector<Record>& into) = 0;

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
        result->refill();
        return result;
    }

    // Every record of the table, in table order.
    static std::unique_ptr<result_set> of_table(record_source<Record>& source) {
        std::unique_ptr<result_set> result(new result_set(source, {}));
        result->m_whole_table = true;
        result->refill();
        return result;
    }

    result_set(const result_set&) = delete;
    result_set& operator=(const result_set&) = delete;

    // No current record: the selection was empty, or the reader went past its end.
    bool empty() const { return m_position >= m_batch.size(); }

    // The record the result stands on. Raises when there is none, so a reader never
    // takes a default record for a real one.
    const Record& current() const {
        if (empty()) {
            if (m_missing) {
                std::rethrow_exception(m_missing);
            }
            throw no_current_record("the result set holds no current record");
        }
        return m_batch[m_position];
    }

    // Moves to the next record; false when there is none.
    bool next() {
        if (empty()) {
            return false;
        }
        if (++m_position == m_batch.size()) {
            refill();
        }
        return !empty();
    }

private:
    result_set(record_source<Record>& source, std::exception_ptr missing)
        : m_source(source), m_missing(std::move(missing)) {}

    // Records are read a batch at a time, each batch in one read of the database: a
    // reader that wants only the first record pays for few, one that walks a million
    // pays for the database's bookkeeping once per batch rather than per record.
    void refill() {
        m_batch.clear();
        m_position = 0;
        while (m_batch.empty()) {
            if (m_whole_table) {
                const std::int64_t last = m_source.load_after(m_last_key, m_batch_limit, m_batch);
                if (last == m_last_key) {
                    return;
                }
                m_last_key = last;
            } else {
                if (m_next_index >= m_keys.size()) {
                    return;
                }
                m_next_index +=
                    m_source.load(std::span(m_keys).subspan(m_next_index), m_batch_limit, m_batch);
            }
            m_batch_limit = std::min<std::size_t>(m_batch_limit * 4, 256);
        }
    }

    record_source<Record>& m_source;
    std::exception_ptr m_missing;
    bool m_whole_table = false;
    std::vector<std::int64_t> m_keys;
    std::size_t m_next_index = 0;
    // Row keys start at 1, so 0 is before the first record.
    std::int64_t m_last_key = 0;
    std::size_t m_batch_limit = 4;
    std::vector<Record> m_batch;
    std::size_t m_position = 0;
};

using tag_cursor = result_set<tag>;
using quote_cursor = result_set<quote>;

}  // namespace hrd
