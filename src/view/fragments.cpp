#include "view/fragments.h"

#include <algorithm>

#include "model/text_fold.h"
#include "view/ids.h"

namespace hrd::fragments {
namespace {

std::string simple_entry(std::string_view cls, const std::string& id, const std::string& name) {
    std::string out = "<div class=\"";
    out += cls;
    out += "\" id=\"";
    out += id;
    out += "\">";
    append_escaped(out, name);
    out += "</div>";
    return out;
}

}  // namespace

void append_escaped(std::string& out, std::string_view utf8) {
    // Runs of plain bytes are copied in one go; only the few special bytes are replaced.
    size_t start = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const char* replacement = nullptr;
        switch (utf8[i]) {
            case '&':
                replacement = "&#38;";
                break;
            case '\t':
                replacement = "&#160;&#160;";
                break;
            case '<':
                replacement = "&#60;";
                break;
            case '>':
                replacement = "&#62;";
                break;
            case '"':
                replacement = "&#34;";
                break;
            case '\'':
                replacement = "&#39;";
                break;
            case '\n':
                replacement = "<br>";
                break;
            default:
                continue;
        }
        out.append(utf8, start, i - start);
        out += replacement;
        start = i + 1;
    }
    out.append(utf8, start, utf8.size() - start);
}

std::string escape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 8);
    append_escaped(out, utf8);
    return out;
}

namespace {
// A row shows the first 64 KiB of a clip (the page's own limit): marks go no further.
constexpr std::size_t highlighted_bytes = 64 * 1024;
}  // namespace

void append_highlighted(std::string& out, std::string_view utf8,
                        const std::vector<std::u32string>& words) {
    if (words.empty()) {
        append_escaped(out, utf8);
        return;
    }
    // Only the start of a huge clip is searched for marks: a row shows no more.
    std::size_t cut = std::min(utf8.size(), highlighted_bytes);
    while (cut < utf8.size() && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    const std::string_view rest = utf8.substr(cut);
    utf8 = utf8.substr(0, cut);
    // The text as folded code points, each with the byte where it starts; folding
    // keeps one code point for one, so a match is a run of whole characters.
    const std::u32string folded = fold_utf8(utf8);
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            starts.push_back(i);
        }
    }
    starts.push_back(utf8.size());
    if (folded.size() + 1 != starts.size()) {
        append_escaped(out, utf8);  // not text as the store keeps it: shown plain
        append_escaped(out, rest);
        return;
    }
    // Marked ranges of code points, merged where they touch or overlap.
    std::vector<std::pair<std::size_t, std::size_t>> marked;
    for (const std::u32string& word : words) {
        for (std::size_t at = folded.find(word); at != std::u32string::npos && !word.empty() &&
                                                 marked.size() < marks_per_text * words.size();
             at = folded.find(word, at + word.size())) {
            marked.emplace_back(at, at + word.size());
        }
    }
    std::sort(marked.begin(), marked.end());
    std::size_t written = 0;  // code points out so far
    std::size_t marks = 0;
    for (std::size_t k = 0; k < marked.size() && marks < marks_per_text; ++k) {
        std::size_t first = std::max(marked[k].first, written);
        std::size_t last = marked[k].second;
        while (k + 1 < marked.size() && marked[k + 1].first <= last) {
            last = std::max(last, marked[++k].second);
        }
        if (first >= last) {
            continue;
        }
        append_escaped(out, utf8.substr(starts[written], starts[first] - starts[written]));
        out += "<mark>";
        append_escaped(out, utf8.substr(starts[first], starts[last] - starts[first]));
        out += "</mark>";
        written = last;
        ++marks;
    }
    append_escaped(out, utf8.substr(starts[written]));
    append_escaped(out, rest);
}

void append_quote_block(std::string& out, const quote& q, const tag_lookup& tags,
                        const std::vector<std::u32string>& words) {
    out += "<div class=\"quote\" id=\"";
    out += ids::quote(q.m_id);
    out +=
        "\"><table class=\"qtable\" border=1 cellspacing=-1px>"
        "<tr><td colspan=3><div class=\"title\"></div></td></tr>"
        "<tr><td class=\"text\" colspan=3>";
    append_highlighted(out, q.m_utftext, words);
    out += "</td></tr><tr><td class=\"links\">";
    for (record_id t : q.m_tags) {
        if (const tag* found = tags ? tags(t) : nullptr) {
            out += quote_tag(*found, q.m_id);
        }
    }
    out +=
        "</td><td class=\"managecell\"><button class=\"managetags\" menu=\"manage-tags\">"
        "Manage...</button></td><td class=\"timestamp\">";
    out += formatStamp(q.m_stamp);
    out += "</td></tr></table></div>";
}

std::string quote_block(const quote& q, const tag_lookup& tags) {
    std::string out;
    out.reserve(400 + q.m_utftext.size());
    append_quote_block(out, q, tags);
    return out;
}

std::string quote_tag(const tag& t, record_id quote_id) {
    return simple_entry("qtag", ids::quote_tag(quote_id, t.m_id), t.m_utfname);
}

std::string tag_entry(const tag& t) {
    return simple_entry("vtag", ids::tag_entry(t.m_id), t.m_utfname);
}

std::string search_tag(const tag& t) {
    return simple_entry("stag", ids::search_tag(t.m_id), t.m_utfname);
}

std::string menu_item(const tag& t) {
    std::string out = "<li type=\"check\" name=\"mtmchecks\" id=\"";
    out += ids::menu_item(t.m_id);
    out += "\">";
    append_escaped(out, t.m_utfname);
    out += "</li>";
    return out;
}

std::string table_row(std::string_view fragment) {
    std::string out = "<tr><td>";
    out += fragment;
    out += "</td></tr>";
    return out;
}

}  // namespace hrd::fragments
