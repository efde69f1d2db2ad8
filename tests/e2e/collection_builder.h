#pragma once
// Large collections, made fast, for the end-to-end tests and the benchmarks. The
// store makes the empty file with its own schema (so the layout is always the
// program's), then the rows go in through SQLite in one bulk transaction: the
// store's own operations commit durably one by one, which would take hours for a
// million quotes.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace hrd::testing {

struct collection_plan {
    int quotes = 0;
    // Tag t (1, 2, ...) is named tags[t - 1].
    std::vector<std::string> tags;
    // The text of quote q (1 ... quotes). Quotes go in in that order, so q is the
    // quote's id and its place in the table; its stamp is 1700000000 + q.
    std::function<std::string(int q)> text;
    // Appends the tags of quote q, in the order the quote shows them. Unset: none.
    std::function<void(int q, std::vector<int>& tags)> tags_of;
};

// Writes `folder`/hoardly.fdb holding the plan, beside empty default files. The
// caller has registered the store's logs ("logic" and "debug").
void build_collection(const std::filesystem::path& folder, const collection_plan& plan);

}  // namespace hrd::testing
