#include "fml/text.h"

namespace fml {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Reads one code point at `i` and advances past it; a lone surrogate reads as U+FFFD.
char32_t next_code_point(std::u16string_view text, size_t& i) {
    const char16_t unit = text[i++];
    if (is_high_surrogate(unit)) {
        if (i < text.size() && is_low_surrogate(text[i])) {
            const char16_t low = text[i++];
            return 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
        }
        return replacement_character;
    }
    if (is_low_surrogate(unit)) {
        return replacement_character;
    }
    return unit;
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += char16_t(cp);
    } else {
        cp -= 0x10000;
        out += char16_t(0xD800 + (cp >> 10));
        out += char16_t(0xDC00 + (cp & 0x3FF));
    }
}

// The valid range of the second byte of a sequence led by `lead`; the rest of the
// continuation bytes are always 0x80..0xBF. Ranges exclude overlongs, surrogates
// and code points above U+10FFFF.
struct lead_info {
    int length;  // 0: not a valid lead byte
    unsigned char second_low;
    unsigned char second_high;
};

lead_info classify_lead(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2, 0x80, 0xBF};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3, 0x80, 0xBF};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4, 0x80, 0xBF};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = replacement_character;
    }
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string wchar2utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (size_t i = 0; i < text.size();) {
        append_utf8(out, next_code_point(text, i));
    }
    return out;
}

std::u16string utf82wchar(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out += char16_t(lead);
            ++i;
            continue;
        }
        const lead_info info = classify_lead(lead);
        if (info.length == 0) {
            out += char16_t(replacement_character);
            ++i;
            continue;
        }
        char32_t cp = lead & (0xFF >> (info.length + 1));
        size_t consumed = 1;
        bool complete = true;
        for (int k = 1; k < info.length; ++k) {
            if (i + consumed >= n) {
                complete = false;
                break;
            }
            const auto byte = static_cast<unsigned char>(text[i + consumed]);
            const unsigned char low = k == 1 ? info.second_low : 0x80;
            const unsigned char high = k == 1 ? info.second_high : 0xBF;
            if (byte < low || byte > high) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (byte & 0x3F);
            ++consumed;
        }
        // An incomplete sequence is replaced by one U+FFFD for the bytes that did
        // fit; the byte that broke it starts the next read.
        append_utf16(out, complete ? cp : replacement_character);
        i += consumed;
    }
    return out;
}

std::string wchar2ansi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = next_code_point(text, i);
        out += cp < 0x100 ? char(cp) : '?';
    }
    return out;
}

}  // namespace fml
