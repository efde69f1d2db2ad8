#include "model/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unordered_map>

#include "fml/exception.h"
#include "fml/text.h"
#include "fml/unique_fd.h"
#include "model/collection_store.h"
#include "model/errors.h"

namespace hrd {
namespace {

// Tag names looked up once per tag per output, however many quotes carry the tag.
class tag_names {
public:
    explicit tag_names(CollectionStore& store) : m_store(store) {}

    const std::string& utf8(record_id id) {
        auto found = m_names.find(id);
        if (found == m_names.end()) {
            found = m_names.emplace(id, m_store.tag_utfname(id)).first;
        }
        return found->second;
    }

    // The quote's tag names joined by ", ", each passed through `transform`.
    template <class Transform>
    std::string joined(const quote& record, Transform transform) {
        std::string text;
        for (const record_id id : record.m_tags) {
            if (!text.empty()) {
                text += ", ";
            }
            text += transform(utf8(id));
        }
        return text;
    }
    std::string joined(const quote& record) {
        return joined(record, [](const std::string& name) -> const std::string& { return name; });
    }

private:
    CollectionStore& m_store;
    std::unordered_map<record_id, std::string> m_names;
};

quote read_quote(CollectionStore& store, record_id id) {
    return store.read_quote_quietly(id);
}

// Hands `each` the quotes of `ids` in order, read a batch at a time (one read of the
// database per batch rather than per quote). wrong_quote_id for an id that names no
// quote, before `each` has seen any of its batch.
template <class Each>
void for_each_quote(CollectionStore& store, std::span<const record_id> ids, Each each) {
    constexpr std::size_t batch = 512;
    for (std::size_t from = 0; from < ids.size(); from += batch) {
        const auto part = ids.subspan(from, std::min(batch, ids.size() - from));
        const std::vector<quote> found = store.read_quotes(part);
        if (found.size() != part.size()) {
            for (std::size_t i = 0; i < part.size(); ++i) {
                if (i >= found.size() || found[i].m_id != part[i]) {
                    throw wrong_quote_id(std::to_string(part[i]));
                }
            }
        }
        for (const quote& record : found) {
            each(record);
        }
    }
}

}  // namespace

std::u16string copy_quote_text(CollectionStore& store, record_id id) {
    return fml::utf82wchar(read_quote(store, id).m_utftext);
}

std::u16string copy_quote_with_data_text(CollectionStore& store, record_id id) {
    const quote record = read_quote(store, id);
    tag_names names(store);
    return fml::utf82wchar(record.m_utftext + "\r\n\r\n" + names.joined(record));
}

std::u16string copy_quotes_text(CollectionStore& store, std::span<const record_id> ids) {
    std::string text;
    for_each_quote(store, ids, [&](const quote& record) {
        text += record.m_utftext;
        text += "\r\n\r\n";
    });
    return fml::utf82wchar(text);
}

std::u16string copy_quotes_with_data_text(CollectionStore& store, std::span<const record_id> ids) {
    tag_names names(store);
    std::string text;
    for_each_quote(store, ids, [&](const quote& record) {
        text += record.m_utftext;
        text += "\r\n";
        if (!record.m_tags.empty()) {
            text += "Tags: " + names.joined(record);
        }
        text += "\r\n\r\n";
    });
    return fml::utf82wchar(text);
}

namespace {

// Appends `c`, as a character reference where HTML would take it for markup or for
// the end of a quoted attribute value.
void append_escaped(std::string& out, char c) {
    switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
    }
}

}  // namespace

std::string html_escape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 8);
    for (const char c : utf8) {
        append_escaped(out, c);
    }
    return out;
}

namespace {

// Writes the document to a temporary file beside the target, checking every step, and
// renames it over the target at the end. Until then the target is untouched; a writer
// that is dropped half-way removes its temporary file.
class export_file {
public:
    explicit export_file(std::string target) : m_target(std::move(target)) {
        const auto slash = m_target.rfind('/');
        m_folder = slash == std::string::npos ? "." : m_target.substr(0, slash == 0 ? 1 : slash);
        const std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
        m_temporary = m_folder + "/." + base + ".XXXXXX";
        m_fd.reset(::mkostemp(m_temporary.data(), O_CLOEXEC));
        if (!m_fd.valid()) {
            fail("cannot create a file in " + m_folder);
        }
    }

    ~export_file() {
        m_fd.reset();
        if (!m_done) {
            ::unlink(m_temporary.c_str());
        }
    }
    export_file(const export_file&) = delete;
    export_file& operator=(const export_file&) = delete;

    void write(std::string_view text) {
        m_buffer += text;
        if (m_buffer.size() >= 1 << 16) {
            flush();
        }
    }

    void finish() {
        flush();
        // A file replaced keeps its permissions; a new one gets the usual ones.
        struct stat existing {};
        mode_t mode = 0;
        if (::stat(m_target.c_str(), &existing) == 0) {
            mode = existing.st_mode & 07777;
        } else {
            mode = ::umask(0);
            ::umask(mode);
            mode = 0666 & ~mode;
        }
        if (::fchmod(m_fd.get(), mode) != 0) {
            fail("cannot set the permissions of " + m_temporary);
        }
        if (::fsync(m_fd.get()) != 0) {
            fail("cannot write " + m_temporary);
        }
        if (!m_fd.close()) {
            fail("cannot write " + m_temporary);
        }
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
            fail("cannot replace the file");
        }
        m_done = true;
        const fml::unique_fd folder(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.valid()) {
            ::fsync(folder.get());
        }
    }

private:
    void flush() {
        const char* data = m_buffer.data();
        std::size_t left = m_buffer.size();
        while (left > 0) {
            const ssize_t written = ::write(m_fd.get(), data, left);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                fail("cannot write " + m_temporary);
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        m_buffer.clear();
    }

    [[noreturn]] void fail(const std::string& what) {
        const int error = errno;
        char buffer[256];
        // GNU strerror_r: the text, in the buffer or not.
        const char* words = strerror_r(error, buffer, sizeof buffer);
        throw export_error(
            "cannot export to " + m_target + ": " + what + ": " + fml::error_text(error),
            words != nullptr ? words : "unknown error");
    }

    std::string m_target;
    std::string m_folder;
    std::string m_temporary;
    std::string m_buffer;
    fml::unique_fd m_fd;
    bool m_done = false;
};

constexpr std::string_view export_head =
    "<html><head><title>Quotes</title><META http-equiv=\"Content-Type\" content=\"text/html; "
    "charset=utf-8\"><META name=\"GENERATOR\" content=\"Hoardly\"><style "
    "type=\"text/css\"></style></head><body>\r\n";

// A quote's text for the document: escaped, each line feed shown as a line break.
void append_document_text(std::string& out, std::string_view utf8) {
    for (const char c : utf8) {
        if (c == '\n') {
            out += "<br>";
        } else {
            append_escaped(out, c);
        }
    }
}

}  // namespace

void export_document(CollectionStore& store, std::u16string_view path) {
    export_file file(fml::wchar2utf8(path));
    file.write(export_head);
    tag_names names(store);
    std::string block;
    for (auto quotes = store.searchQuotes(); !quotes->empty(); quotes->next()) {
        const quote& record = quotes->current();
        block.clear();
        append_document_text(block, record.m_utftext);
        block += "<br>";
        if (!record.m_tags.empty()) {
            block += "Tags: " + names.joined(record, html_escape);
        }
        block += "<br><br>";
        file.write(block);
    }
    file.write("Generated by <a href=\"" + html_escape(product_web_address) +
               "\">Hoardly</a></body></html>");
    file.finish();
}

}  // namespace hrd
