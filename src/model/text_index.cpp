#include "model/text_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstring>

#include "fml/text.h"
#include "model/fts5_calls.h"
#include "model/text_fold.h"

namespace hrd {
namespace {

// A piece of up to three code points as one number: 21 bits each, the unused places
// holding a value no code point has, so pieces of different lengths never meet. The
// top bit marks a pair that begins some three-character piece of the text.
constexpr std::uint64_t no_point = 0x1FFFFF;
constexpr std::uint64_t empty_slot = ~std::uint64_t{0};
constexpr std::uint64_t begins_three = std::uint64_t{1} << 63;

// The pieces already handed over for one text. A text of millions of characters stops
// remembering once the table is three quarters full: the index takes a piece twice
// without harm, only more slowly.
class seen_pieces {
public:
    explicit seen_pieces(std::size_t pieces) {
        std::size_t size = 64;
        while (size * 3 < pieces * 4 && size < (std::size_t{1} << 20)) {
            size *= 2;
        }
        m_slots.assign(size, empty_slot);
        m_shift = 64;
        for (std::size_t s = size; s > 1; s /= 2) {
            --m_shift;
        }
    }
    // Whether `key` is new (and now remembered).
    bool add(std::uint64_t key) {
        if (m_full) {
            return true;
        }
        std::size_t at = slot_of(key);
        const std::size_t mask = m_slots.size() - 1;
        while (m_slots[at] != empty_slot) {
            if (m_slots[at] == key) {
                return false;
            }
            at = (at + 1) & mask;
        }
        m_slots[at] = key;
        m_full = ++m_count * 4 > m_slots.size() * 3;
        return true;
    }
    // Whether `key` is remembered.
    bool holds(std::uint64_t key) const {
        std::size_t at = slot_of(key);
        const std::size_t mask = m_slots.size() - 1;
        while (m_slots[at] != empty_slot) {
            if (m_slots[at] == key) {
                return true;
            }
            at = (at + 1) & mask;
        }
        return false;
    }

private:
    std::size_t slot_of(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> m_shift);
    }

    std::vector<std::uint64_t> m_slots;
    unsigned m_shift = 64;
    std::size_t m_count = 0;
    bool m_full = false;
};

// Hands every distinct piece of `text` to `emit(folded UTF-8, size, start, end)`, with
// the byte range of the original text it comes from; stops at the first answer that is
// not SQLITE_OK and returns it.
//
// A pair of characters is found as the beginning of the three-character pieces, which
// a search asks for by their first two characters: only a pair that ends a word, and
// begins no piece of three anywhere in the text, is a piece of its own. That leaves
// out about two pieces in five, and each piece is work for every capture.
template <class Emit>
int cut(std::string_view text, Emit&& emit) {
    std::vector<std::uint32_t> starts;  // byte offset of each code point, then the end
    std::vector<std::uint32_t> folded_at;
    std::vector<std::uint64_t> points;
    std::vector<std::uint32_t> word_ends;  // where a pair ending a word begins
    std::string folded;
    starts.reserve(text.size() + 1);
    folded.reserve(text.size());
    points.reserve(text.size());
    folded_at.reserve(text.size() + 1);
    std::size_t wide = 0;  // characters outside ASCII
    for (std::size_t at = 0; at < text.size();) {
        starts.push_back(static_cast<std::uint32_t>(at));
        folded_at.push_back(static_cast<std::uint32_t>(folded.size()));
        // Most text is ASCII, which folds to lower case: no call and no table.
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte != 0 && byte < 0x80) {
            const char lower = static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte);
            points.push_back(static_cast<unsigned char>(lower));
            folded.push_back(lower);
            ++at;
            continue;
        }
        const char32_t c = fold_case(next_utf8(text, at));
        points.push_back(c);
        append_piece_utf8(folded, c);
        ++wide;
    }
    starts.push_back(static_cast<std::uint32_t>(text.size()));
    folded_at.push_back(static_cast<std::uint32_t>(folded.size()));
    const std::size_t count = points.size();
    // Pieces of one ASCII character, and ASCII pairs that begin a piece of three, are
    // remembered in bitmaps; the hash table holds the pieces of three, and for the
    // other characters up to two keys more each.
    std::bitset<128> ascii_seen;
    std::bitset<128 * 128> ascii_begins_three;
    seen_pieces seen(count + 2 * wide);
    const auto hand_over = [&](std::size_t i, std::size_t length) {
        return emit(folded.data() + folded_at[i],
                    static_cast<std::size_t>(folded_at[i + length] - folded_at[i]),
                    static_cast<int>(starts[i]), static_cast<int>(starts[i + length]));
    };
    const auto blank = [&](std::size_t i) {
        const std::uint64_t c = points[i];
        return c < 0x80 ? c == ' ' || (c >= 0x09 && c <= 0x0D)
                        : separates_words(static_cast<char32_t>(c));
    };
    for (std::size_t i = 0; i < count; ++i) {
        // A search word never holds a blank: neither does a piece worth keeping.
        if (blank(i)) {
            continue;
        }
        std::uint64_t key = (points[i] << 42) | (no_point << 21) | no_point;
        bool first_time = false;
        if (points[i] < 0x80) {
            first_time = !ascii_seen.test(points[i]);
            ascii_seen.set(points[i]);
        } else {
            first_time = seen.add(key);
        }
        if (first_time) {
            if (const int answer = hand_over(i, 1); answer != SQLITE_OK) {
                return answer;
            }
        }
        if (i + 1 >= count || blank(i + 1)) {
            continue;
        }
        key = (key & ~(no_point << 21)) | (points[i + 1] << 21);
        if (i + 2 >= count || blank(i + 2)) {
            word_ends.push_back(static_cast<std::uint32_t>(i));
            continue;
        }
        if ((points[i] | points[i + 1]) < 0x80) {
            ascii_begins_three.set(points[i] * 128 + points[i + 1]);
        } else {
            seen.add(key | begins_three);
        }
        key = (key & ~no_point) | points[i + 2];
        if (seen.add(key)) {
            if (const int answer = hand_over(i, 3); answer != SQLITE_OK) {
                return answer;
            }
        }
    }
    for (const std::uint32_t i : word_ends) {
        const std::uint64_t key = (points[i] << 42) | (points[i + 1] << 21) | no_point;
        const bool begins = (points[i] | points[i + 1]) < 0x80
                                ? ascii_begins_three.test(points[i] * 128 + points[i + 1])
                                : seen.holds(key | begins_three);
        if (begins || !seen.add(key)) {
            continue;
        }
        if (const int answer = hand_over(i, 2); answer != SQLITE_OK) {
            return answer;
        }
    }
    return SQLITE_OK;
}

// The bytes of the first `points` code points of a piece (at most its size).
std::size_t head_bytes(const char* piece, std::size_t size, int points) {
    std::size_t at = 0;
    for (int i = 0; i < points && at < size; ++i) {
        const auto lead = static_cast<unsigned char>(piece[at]);
        at += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    return std::min(at, size);
}

// The index keeps its pieces in a hash table whose hash of a few bytes of text has
// little spread, so its chains grow long and each piece costs a long walk. Each token
// starts with two bytes mixed from the first two characters of its piece (all of it
// when shorter), then the folded piece: the bytes spread the pieces over the table, and
// every piece that begins with the same two characters begins with the same token
// bytes, so a search for a pair asks for the tokens beginning with it.
constexpr std::size_t spread_bytes = 2;

std::size_t with_spread(const char* piece, std::size_t size, char* token) {
    const std::size_t head = head_bytes(piece, size, 2);
    std::uint64_t mixed = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < head; ++i) {
        mixed = (mixed ^ static_cast<unsigned char>(piece[i])) * 0x100000001B3ull;
    }
    mixed ^= mixed >> 29;
    mixed *= 0xBF58476D1CE4E5B9ull;
    mixed ^= mixed >> 32;
    // Never a zero byte: the index ends its keys with one.
    token[0] = static_cast<char>(1 + (mixed & 0xFF) % 255);
    token[1] = static_cast<char>(1 + ((mixed >> 8) & 0xFF) % 255);
    std::memcpy(token + spread_bytes, piece, size);
    return size + spread_bytes;
}

fts5::tokenizer_handle* the_handle() {
    static char handle;
    return reinterpret_cast<fts5::tokenizer_handle*>(&handle);
}

int create(void*, const char**, int, fts5::tokenizer_handle** made) {
    *made = the_handle();
    return SQLITE_OK;
}

void destroy(fts5::tokenizer_handle*) {}

int tokenize(fts5::tokenizer_handle*, void* context, int flags, const char* text, int size,
             int (*token)(void*, int, const char*, int, int, int)) {
    if (size <= 0) {
        return SQLITE_OK;
    }
    try {
        std::string spread;
        // A search asks for pieces it has cut and folded itself: each is one token (a
        // pair is asked for as the beginning of tokens, the same bytes).
        if ((flags & fts5::tokenize_query) != 0) {
            spread.resize(static_cast<std::size_t>(size) + spread_bytes);
            const std::size_t length = with_spread(text, static_cast<std::size_t>(size), spread.data());
            return token(context, 0, spread.data(), static_cast<int>(length), 0, size);
        }
        char piece_token[16];
        return cut(std::string_view(text, static_cast<std::size_t>(size)),
                   [&](const char* piece, std::size_t length, int start, int end) {
                       const std::size_t made = with_spread(piece, length, piece_token);
                       return token(context, 0, piece_token, static_cast<int>(made), start, end);
                   });
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (...) {
        return SQLITE_ERROR;
    }
}

int add_to_connection(sqlite3* db, const char**, const struct sqlite3_api_routines*) {
    static fts5::tokenizer_calls calls{create, destroy, tokenize};
    if (fts5::api* api = fts5::api_of(db)) {
        api->create_tokenizer(api, "folded_pieces", nullptr, &calls, nullptr);
    }
    // A connection without the extension still opens: using the index then fails
    // with SQLite's own message.
    return SQLITE_OK;
}

}  // namespace

void append_piece_utf8(std::string& out, char32_t c) {
    if (c == 0) {
        out += "\xC0\x80";
    } else {
        fml::append_utf8(out, c);
    }
}

void register_text_pieces() {
    // SQLite keeps each entry once, and a test may clear the list: asked each time.
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&add_to_connection));
}

std::vector<std::string> text_pieces(std::string_view text) {
    std::vector<std::string> pieces;
    cut(text, [&](const char* piece, std::size_t length, int, int) {
        pieces.emplace_back(piece, length);
        return SQLITE_OK;
    });
    return pieces;
}

}  // namespace hrd
