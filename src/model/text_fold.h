#pragma once
// Case folding for finding quotes by their text.
//
// One code point folds to one code point, with the table SQLite's full-text extension
// folds with (read from SQLite itself once per process). The text index cuts texts
// folded by this very function, so what the index finds and what a word-by-word check
// finds agree on every character. É finds é, Σ finds σ, ẞ finds ß; accents stay (é is
// not e), and a letter never becomes two (ß does not find "ss"), so a match keeps its
// length.

#include <string>
#include <string_view>
#include <vector>

namespace hrd {

// Decodes the code point at `at` of UTF-8 text, moving past it; U+FFFD for an
// ill-formed sequence, as storing it would make it.
char32_t next_utf8(std::string_view text, std::size_t& at);

// The folded form of one code point.
char32_t fold_case(char32_t c);

// The folded code points of a text; ill-formed input becomes U+FFFD, as storing it
// would make it.
std::u32string fold_utf8(std::string_view text);
std::u32string fold_utf16(std::u16string_view text);

// Whether `c` is a blank that separates the words of a search text.
bool separates_words(char32_t c);

// The whitespace-separated words of a search text, folded, each once, in the order
// they first come.
std::vector<std::u32string> search_words(std::u16string_view text);

// Whether the folded `text` holds every one of the folded `words`.
bool holds_all(std::u32string_view text, const std::vector<std::u32string>& words);
// The same for stored (UTF-8) texts: holds_all(fold_utf8(text), words), made once for
// many texts, without folding a text of plain ASCII.
class word_matcher {
public:
    explicit word_matcher(std::vector<std::u32string> words);
    bool operator()(std::string_view text) const;

private:
    std::vector<std::u32string> m_words;
    std::vector<std::string> m_ascii;  // the words as bytes, when all are ASCII
    bool m_plain = false;
};

inline bool text_holds_all(std::string_view text, const std::vector<std::u32string>& words) {
    return word_matcher(words)(text);
}

}  // namespace hrd
