#pragma once
// Conversions between the program's wide text (UTF-16) and narrow text.
// They never fail: ill-formed input (a lone surrogate, bytes that are not UTF-8)
// becomes U+FFFD, and embedded NULs pass through.

#include <string>
#include <string_view>

namespace fml {

// UTF-16 to UTF-8. Surrogate pairs become one four-byte sequence.
std::string wchar2utf8(std::u16string_view text);
// UTF-8 to UTF-16. Each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string utf82wchar(std::string_view text);
// Appends one code point as UTF-8; surrogates and values past U+10FFFF become U+FFFD.
void append_utf8(std::string& out, char32_t code_point);

// UTF-16 to ISO-8859-1 bytes; "?" for every character outside it (a pair counts once).
std::string wchar2ansi(std::u16string_view text);

}  // namespace fml
