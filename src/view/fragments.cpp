#include "view/fragments.h"

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

void append_quote_block(std::string& out, const quote& q, const tag_lookup& tags) {
    out += "<div class=\"quote\" id=\"";
    out += ids::quote(q.m_id);
    out +=
        "\"><table class=\"qtable\" border=1 cellspacing=-1px>"
        "<tr><td colspan=3><div class=\"title\"></div></td></tr>"
        "<tr><td class=\"text\" colspan=3>";
    append_escaped(out, q.m_utftext);
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
