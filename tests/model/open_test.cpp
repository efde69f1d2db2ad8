// Opening a collection: the default import on a first start, and files that must be
// refused without being touched.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <algorithm>
#include <random>

#include "model/errors.h"
#include "store_fixture.h"
#include "support/process.h"

using namespace hrd;
using hrd::test::read_file;
using hrd::test::write_file;

namespace {

class opening : public hrd::test::store_fixture {
protected:
    std::string open_error() {
        try {
            open();
        } catch (const fml::exception& error) {
            return error.what();
        }
        return "(opened)";
    }
};

}  // namespace

TEST_F(opening, default_files_import_whole_with_free_element_names_and_skipped_comments) {
    write_defaults(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- tags -->\n<tags>\n"
        "  <!-- first --><tag id=\"2\" name=\"Tips\"/>\n  text between\n"
        "  <label id=\" 9 \" name=\"caf&#233; &amp; more\"/>\n</tags>\n",
        "<quotes><entry id=\"5\" text=\"line one&#10;line two\"><!-- c --><t id=\"9\"/>"
        "<t id=\"2\"/><t id=\"9\"/></entry><q id=\"1\" text=\"plain\"/></quotes>");
    ::chmod(m_dir.file("defaulttags.xml").c_str(), 0444);
    auto& store = open();
    EXPECT_EQ(new_log("logic"),
              "quote: 5 marked with tag: 9\nquote: 5 marked with tag: 2\ncreating DB\n"
              "m_max_tid: 9m_max_qid: 5\n");
    const quote first = store.quotes()->current();
    EXPECT_EQ(first.m_id, 5);
    EXPECT_EQ(first.m_utftext, "line one\nline two");
    EXPECT_EQ(first.m_tags, (std::vector<record_id>{9, 2}));
    EXPECT_NE(first.m_stamp, no_stamp);
    EXPECT_EQ(store.getTag(9)->current().m_utfname, "caf\xC3\xA9 & more");
    EXPECT_TRUE(store.getQuote(1)->current().m_tags.empty());
    // Imported once: the next start finds a collection that is not empty.
    new_log("logic");
    open();
    EXPECT_EQ(new_log("logic"), "m_max_tid: 9m_max_qid: 5\n");
}

TEST_F(opening, bad_default_files_raise_and_leave_an_empty_collection_that_imports_later) {
    const std::string good_tags = R"(<tags><t id="1" name="a"/><t id="2" name="b"/></tags>)";
    const std::string good_quotes = R"(<quotes><q id="1" text="x"><t id="1"/></q></quotes>)";
    const struct {
        std::string tags, quotes, expected;
    } cases[] = {
        {"<tags><t id=\"1\" name=\"a\"/>", good_quotes, "defaulttags.xml: not well-formed"},
        {R"(<tags><t id="1"/></tags>)", good_quotes, "has no \"name\" attribute"},
        {R"(<tags><t id="12abc" name="a"/></tags>)", good_quotes, "\"12abc\", which is not"},
        {R"(<tags><t id="0" name="a"/></tags>)", good_quotes, "not a positive decimal number"},
        {R"(<tags><t id="-3" name="a"/></tags>)", good_quotes, "not a positive decimal number"},
        {R"(<tags><t id="99999999999" name="a"/></tags>)", good_quotes, "not a positive"},
        {R"(<tags><t id="1" name="a"/><t id="1" name="b"/></tags>)", good_quotes,
         "repeats the tag id 1"},
        {R"(<tags><t id="1" name="a"/><t id="2" name="a"/></tags>)", good_quotes,
         "repeats the tag name \"a\""},
        {good_tags, R"(<quotes><q id="1" text="x"/><q id="1" text="y"/></quotes>)",
         "repeats the quote id 1"},
        {good_tags, R"(<quotes><q id="1"/></quotes>)", "has no \"text\" attribute"},
        // The tags would import; the bad reference comes last and still nothing is kept.
        {good_tags,
         R"(<quotes><q id="1" text="x"><t id="2"/></q><q id="2" text="y"><t id="7"/></q></quotes>)",
         "names the tag id 7, which the tags file does not define"},
        {good_tags, "", "defaultquotes.xml: not well-formed"},
        // What XML does not allow in a text is refused, not cut short or let through.
        {good_tags, R"(<quotes><q id="1" text="cut&#0;here"/></quotes>)", "\"&#0;\""},
        {good_tags, R"(<quotes><q id="1" text="x&#x0;"/></quotes>)", "\"&#x0;\""},
        {R"(<tags><t id="1" name="a&#xFFFE;"/></tags>)", good_quotes, "\"&#xFFFE;\""},
        {good_tags, "<quotes><q id=\"1\" text=\"bell\x07\"/></quotes>", "U+0007"},
        {good_tags, "<quotes><q id=\"1\" text=\"\xED\xA0\x80\"/></quotes>", "not UTF-8"},
        {good_tags, R"(<quotes><q id="1" text="&nbsp;"/></quotes>)", "unknown entity \"&nbsp;\""},
        {good_tags, R"(<quotes><q id="1" text="a & b"/></quotes>)", "'&' that starts no"},
    };
    for (const auto& bad : cases) {
        write_defaults(bad.tags, bad.quotes);
        const std::string message = open_error();
        EXPECT_NE(message.find(bad.expected), std::string::npos) << message;
        EXPECT_EQ(message.find(m_dir.path() + "/default"), 0u) << message;
        EXPECT_EQ(committed("SELECT (SELECT count(*) FROM tag) + (SELECT count(*) FROM quote)"), 0);
    }
    std::remove(m_dir.file("defaulttags.xml").c_str());
    EXPECT_NE(open_error().find("defaulttags.xml: cannot open: Error code: 2"), std::string::npos);
    EXPECT_THROW(open(), read_xml_error);

    write_defaults(good_tags, good_quotes);
    EXPECT_EQ(open().getQuote(1)->current().m_tags, (std::vector<record_id>{1}));
}

TEST_F(opening, a_file_that_is_not_a_usable_collection_is_refused_and_left_as_it_was) {
    open().addQuote(u"keep me");
    m_store.reset();
    const std::string path = m_dir.file("hoardly.fdb");
    const std::string good = read_file(path);
    ASSERT_GT(good.size(), 4096u);
    const std::size_t descriptors = hrd::test::open_descriptor_count();
    auto refused = [&](const std::string& content, const std::string& reason) {
        write_file(path, content);
        const std::string message = open_error();
        EXPECT_EQ(message.find(m_dir.path() + "/hoardly: "), 0u) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << message;
        EXPECT_TRUE(read_file(path) == content) << reason << ": the file was changed";
        for (const char* companion : {"-wal", "-shm", "-journal"}) {
            EXPECT_FALSE(std::filesystem::exists(path + companion)) << reason << companion;
        }
    };
    auto refused_special = [&](const std::string& kind) {
        const std::string message = open_error();
        EXPECT_NE(message.find(path + " is " + kind), std::string::npos) << message;
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path))) << kind;
    };
    refused("", "is not an SQLite database");
    refused(std::string(8192, 'x'), "is not an SQLite database");
    refused(good.substr(0, good.size() / 2), "is truncated");
    std::string newer = good;
    newer[63] = hrd::collection_schema_version + 1;  // the user_version field of the header
    refused(newer, "newer version of Hoardly (collection version " +
                       std::to_string(hrd::collection_schema_version + 1));
    // Any other SQLite database is someone else's file, even when its tables have our
    // names and its version number is ours; SQLite's log may not touch it either.
    auto foreign = [&](const char* sql) {
        std::remove(path.c_str());
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return read_file(path);
    };
    refused(foreign("CREATE TABLE notes(x)"), "not a Hoardly collection");
    refused(foreign("CREATE TABLE tag(name); CREATE TABLE quote(body, tag);"
                    "CREATE TABLE mark(a, b); PRAGMA user_version=1"),
            "not a Hoardly collection");
    refused(foreign("PRAGMA journal_mode=WAL; CREATE TABLE tag(seq INTEGER PRIMARY KEY, m_id);"
                    "CREATE TABLE quote(seq INTEGER PRIMARY KEY, text); PRAGMA user_version=1"),
            "not a Hoardly collection");
    // Our own collection, damaged in its layout page or in its table pages: refused
    // naming the file, left as it was.
    const size_t page = 4096;
    std::string damaged = good;
    std::fill(damaged.begin() + 100, damaged.begin() + page, '\xff');
    refused(damaged, path + " is damaged");
    damaged = good;
    std::fill(damaged.begin() + page, damaged.end(), '\x5a');
    refused(damaged, path + " is damaged");
    // Not a file at all: refused without waiting for a writer that never comes.
    std::remove(path.c_str());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    refused_special("a named pipe");
    std::remove(path.c_str());
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    refused_special("a folder");
    ::rmdir(path.c_str());
    ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0);
    refused_special("a device");
    std::remove(path.c_str());
    EXPECT_EQ(hrd::test::open_descriptor_count(), descriptors) << "a refusal left a file open";

    write_file(path, good);
    EXPECT_EQ(open().getQuote(1)->current().m_utftext, "keep me");
}

TEST_F(opening, any_clip_text_is_stored_and_read_back_exactly) {
    auto& store = open();
    std::mt19937 random(4);
    std::u16string big;
    big.reserve(5 << 20);
    while (big.size() < (5u << 20)) {  // 5 Mi units: 10 MiB of UTF-16
        const auto kind = random() % 8;
        if (kind == 0) {
            big += u"\r\n";
        } else if (kind == 1) {
            big += u"\r\r\n\n";
        } else if (kind == 2) {
            big += u"\U0001F600";  // a surrogate pair
        } else {
            big += static_cast<char16_t>(1 + random() % 0xD7FF);
        }
    }
    const std::u16string texts[] = {big, u"", u"<b>&amp;</b> \"'\t", u"a\rb\nc\r\n"};
    for (const auto& text : texts) {
        const record_id id = store.addQuote(text);
        EXPECT_TRUE(fml::utf82wchar(store.getQuote(id)->current().m_utftext) == text);
    }
    // Invalid UTF-16 (lone surrogates) comes back as U+FFFD, the rest unchanged.
    const record_id id = store.addQuote(std::u16string{u'a', 0xD800, u'b', 0xDC00});
    EXPECT_EQ(fml::utf82wchar(open().getQuote(id)->current().m_utftext), u"a\uFFFDb\uFFFD");
}

TEST_F(opening, the_shipped_default_collection_imports) {
    const std::string shared = hrd::test::source_dir() + "/share/Hoardly/";
    write_defaults(read_file(shared + "defaulttags.xml"), read_file(shared + "defaultquotes.xml"));
    auto& store = open();
    EXPECT_GE(store.max_quote_id(), 5);
    // The list shows the last stored quote on top, and newest first sorts by stamp,
    // then id: both put the welcome first, where a new user starts reading.
    auto quotes = store.quotes();
    std::vector<quote> all;
    for (bool more = !quotes->empty(); more; more = quotes->next()) {
        all.push_back(quotes->current());
    }
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().m_utftext.rfind("Welcome to Hoardly!", 0), 0u) << all.back().m_utftext;
    EXPECT_EQ(all.back().m_id, store.max_quote_id());
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const quote& q) {
        return q.m_utftext.find("Ctrl+C twice") != std::string::npos;
    }));
}
