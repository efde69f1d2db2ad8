#pragma once
// How the text index cuts a quote's text: into every piece of one and three
// characters without a blank in it (a search word has none), and the pairs that end a
// word and begin no piece of three, case folded (text_fold.h), each piece once per
// quote. A word of one or three characters is then one piece, looked up exactly; a
// word of two is found as the beginning of pieces (a pair inside a word begins a piece
// of three, one at its end is a piece); a longer word is looked up by its
// three-character pieces, and the texts of the quotes holding them all decide.
//
// SQLite knows the cutting as the tokenizer "folded_pieces"; every connection this
// process opens gets it once register_text_pieces() has run (the collection store runs
// it), including those of tests and tools that write quotes through plain SQL.

#include <string>
#include <string_view>
#include <vector>

namespace hrd {

void register_text_pieces();

// Appends a folded code point of a piece as the index spells it: UTF-8, with U+0000 as
// the two bytes C0 80, as no byte of a piece may be zero.
void append_piece_utf8(std::string& out, char32_t c);

// The pieces the index holds for `text` (UTF-8), each once: those of one and three
// characters in the order first met, then the pairs; the folded pieces as UTF-8. For
// tests and for checking the index.
std::vector<std::string> text_pieces(std::string_view text);

}  // namespace hrd
