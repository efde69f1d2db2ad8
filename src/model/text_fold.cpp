#include "model/text_fold.h"

#include <sqlite3.h>

#include "model/fts5_calls.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace hrd {
namespace {


void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}


// Every code point SQLite's trigram tokenizer folds to another one, sorted. SQLite
// folds nothing past U+1FFFF.
struct fold_table {
    std::vector<std::pair<char32_t, char32_t>> changed;
    bool ascii_is_plain = true;  // folds only A-Z, to a-z, below U+0080
    // The same for lookups, in blocks of 256 code points: those blocks where
    // something changes have a block of their own, the others none (index 0).
    std::vector<std::uint16_t> block_of;
    std::vector<std::array<char32_t, 256>> blocks;
};

constexpr char32_t folded_limit = 0x20000;

fold_table read_sqlite_folding() {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open SQLite to read its case folding");
    }
    fts5::api* api = fts5::api_of(db);
    void* user_data = nullptr;
    fts5::tokenizer_calls calls{};
    fts5::tokenizer_handle* tokenizer = nullptr;
    if (api == nullptr || api->find_tokenizer(api, "trigram", &user_data, &calls) != SQLITE_OK ||
        calls.create(user_data, nullptr, 0, &tokenizer) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("SQLite has no trigram tokenizer");
    }
    // Each code point three times over: the trigram starting at its first copy is its
    // folded form three times.
    std::string text;
    std::vector<std::pair<int, char32_t>> starts;  // (byte offset, code point)
    for (char32_t c = 1; c < 0x20000; ++c) {
        if (c >= 0xD800 && c < 0xE000) {
            continue;
        }
        starts.emplace_back(static_cast<int>(text.size()), c);
        for (int copy = 0; copy < 3; ++copy) {
            append_utf8(text, c);
        }
    }
    struct reading {
        const std::vector<std::pair<int, char32_t>>* starts;
        fold_table table;
    } read{&starts, {}};
    const auto on_token = [](void* context, int, const char* token, int size, int start,
                             int) -> int {
        auto& into = *static_cast<reading*>(context);
        const auto at = std::lower_bound(into.starts->begin(), into.starts->end(),
                                         std::pair<int, char32_t>(start, 0));
        if (at == into.starts->end() || at->first != start) {
            return SQLITE_OK;
        }
        std::size_t position = 0;
        const char32_t folded = next_utf8(std::string_view(token, std::size_t(size)), position);
        if (folded != at->second) {
            into.table.changed.emplace_back(at->second, folded);
        }
        return SQLITE_OK;
    };
    const int result = calls.tokenize(tokenizer, &read, fts5::tokenize_document, text.data(),
                                      static_cast<int>(text.size()), on_token);
    calls.destroy(tokenizer);
    sqlite3_close(db);
    if (result != SQLITE_OK) {
        throw std::runtime_error("cannot read SQLite's case folding");
    }
    std::sort(read.table.changed.begin(), read.table.changed.end());
    read.table.block_of.assign(folded_limit / 256, 0);
    read.table.blocks.emplace_back();  // block 0: unused
    for (const auto& [from, to] : read.table.changed) {
        std::uint16_t& block = read.table.block_of[from / 256];
        if (block == 0) {
            block = static_cast<std::uint16_t>(read.table.blocks.size());
            auto& identity = read.table.blocks.emplace_back();
            for (char32_t i = 0; i < 256; ++i) {
                identity[i] = (from & ~char32_t(255)) + i;
            }
        }
        read.table.blocks[block][from & 255] = to;
    }
    for (const auto& [from, to] : read.table.changed) {
        if (from < 0x80 && !(from >= 'A' && from <= 'Z' && to == from + 32)) {
            read.table.ascii_is_plain = false;
        }
    }
    return read.table;
}

const fold_table& folding() {
    static const fold_table table = read_sqlite_folding();
    return table;
}


}  // namespace

char32_t next_utf8(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at++);
    if (lead < 0x80) {
        return lead;
    }
    int more = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int i = 0; i < more; ++i) {
        if (at >= text.size() || (byte(at) & 0xC0) != 0x80) {
            return 0xFFFD;
        }
        c = (c << 6) | (byte(at++) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
        return 0xFFFD;
    }
    return c;
}

bool separates_words(char32_t c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

char32_t fold_case(char32_t c) {
    if (c >= folded_limit) {
        return c;
    }
    const auto& table = folding();
    const std::uint16_t block = table.block_of[c / 256];
    return block == 0 ? c : table.blocks[block][c & 255];
}

std::u32string fold_utf8(std::string_view text) {
    std::u32string folded;
    folded.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        folded += fold_case(next_utf8(text, at));
    }
    return folded;
}

std::u32string fold_utf16(std::u16string_view text) {
    std::u32string folded;
    folded.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t c = text[at];
        if (c >= 0xD800 && c < 0xDC00 && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
            text[at + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[at + 1] - 0xDC00);
            ++at;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        folded += fold_case(c);
    }
    return folded;
}

std::vector<std::u32string> search_words(std::u16string_view text) {
    const std::u32string folded = fold_utf16(text);
    std::vector<std::u32string> words;
    std::size_t at = 0;
    while (at < folded.size()) {
        while (at < folded.size() && separates_words(folded[at])) {
            ++at;
        }
        std::size_t end = at;
        while (end < folded.size() && !separates_words(folded[end])) {
            ++end;
        }
        if (end > at) {
            std::u32string word = folded.substr(at, end - at);
            if (std::find(words.begin(), words.end(), word) == words.end()) {
                words.push_back(std::move(word));
            }
        }
        at = end;
    }
    return words;
}

bool holds_all(std::u32string_view text, const std::vector<std::u32string>& words) {
    return std::all_of(words.begin(), words.end(), [&](const std::u32string& word) {
        return text.find(word) != std::u32string_view::npos;
    });
}

namespace {

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Where the ASCII `word` (lower case) is in `text`, ignoring ASCII case.
bool find_ascii(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) {
        return false;
    }
    const char first = word.front();
    const char first_upper = first >= 'a' && first <= 'z' ? static_cast<char>(first - 32) : first;
    const std::size_t last = text.size() - word.size();
    for (std::size_t at = 0; at <= last; ++at) {
        if (text[at] != first && text[at] != first_upper) {
            continue;
        }
        std::size_t i = 1;
        while (i < word.size() && ascii_lower(text[at + i]) == word[i]) {
            ++i;
        }
        if (i == word.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace

word_matcher::word_matcher(std::vector<std::u32string> words)
    : m_words(std::move(words)), m_plain(folding().ascii_is_plain) {
    for (const auto& word : m_words) {
        if (!m_plain) {
            break;
        }
        std::string& bytes = m_ascii.emplace_back();
        for (const char32_t c : word) {
            if (c >= 0x80) {
                m_plain = false;
                break;
            }
            bytes += static_cast<char>(c);
        }
    }
}

bool word_matcher::operator()(std::string_view text) const {
    if (!m_plain && folding().ascii_is_plain && !m_words.empty() &&
        std::none_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        // A text of plain ASCII folds into plain ASCII: a word with anything else in
        // it is not there, and the others are looked for as bytes.
        for (const auto& word : m_words) {
            std::string bytes;
            for (const char32_t c : word) {
                if (c >= 0x80) {
                    return false;
                }
                bytes += static_cast<char>(c);
            }
            if (!find_ascii(text, bytes)) {
                return false;
            }
        }
        return true;
    }
    if (m_plain) {
        bool all = true;
        for (const auto& word : m_ascii) {
            if (!word.empty() && !find_ascii(text, word)) {
                all = false;
                break;
            }
        }
        if (all) {
            return true;
        }
        // Not found as ASCII: only a character outside ASCII that folds into it (the
        // Kelvin sign to k) could still make a match.
        if (std::none_of(text.begin(), text.end(),
                         [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            return false;
        }
    }
    return holds_all(fold_utf8(text), m_words);
}

}  // namespace hrd
