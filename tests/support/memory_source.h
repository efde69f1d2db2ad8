#pragma once
// Result sets over records held in memory, for tests of code that reads them.

#include <memory>
#include <span>
#include <vector>

#include "model/result_set.h"

namespace hrd::test {

// Row keys are positions from 1.
template <class Record>
class memory_source final : public record_source<Record> {
public:
    explicit memory_source(std::vector<Record> records) : m_records(std::move(records)) {}

    std::size_t load(std::span<const std::int64_t> keys, std::size_t limit,
                     std::vector<Record>& into) override {
        std::size_t read = 0;
        for (; read < keys.size() && read < limit; ++read) {
            if (keys[read] >= 1 && keys[read] <= std::int64_t(m_records.size())) {
                into.push_back(m_records[keys[read] - 1]);
            }
        }
        return read;
    }
    std::int64_t load_after(std::int64_t after, std::size_t limit,
                            std::vector<Record>& into) override {
        std::int64_t last = after;
        while (into.size() < limit && last < std::int64_t(m_records.size())) {
            into.push_back(m_records[last++]);
        }
        return last;
    }
    // Every record, in order.
    std::unique_ptr<result_set<Record>> all() { return result_set<Record>::of_table(*this); }

private:
    std::vector<Record> m_records;
};

}  // namespace hrd::test
