// What the user learns of a capture: the log tells it once the text is stored, and
// when the store refuses it (here a collection that is really full) the log says so
// and the user is warned in plain words.

#include "shell/deliver_quote.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "layout/dom.h"  // app_fixture.h needs it first
#include "platform/fake/fake_user_notice.h"
#include "shell/command_line.h"
#include "support/app_fixture.h"

namespace {

// Every connection opened while this is registered may grow its file to 256 pages
// (1 MB or so): room for the default collection, not for a large capture.
int limit_pages(sqlite3* db, const char**, const sqlite3_api_routines*) {
    return sqlite3_exec(db, "PRAGMA max_page_count=256", nullptr, nullptr, nullptr);
}

}  // namespace

TEST(deliver_quote, a_capture_is_logged_once_stored_and_a_refused_one_is_told_to_the_user) {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(limit_pages));
    hrd::test::app_fixture app;
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(limit_pages));
    hrd::CollectionStore& store = app.model->store();
    hrd::fake::fake_user_notice notice;

    const std::u16string small = u"a small clip \U0001F600\r\n";
    hrd::deliver_quote_text(*app.controller, &notice, small);
    const hrd::record_id kept = store.max_quote_id();
    EXPECT_EQ(store.read_quote_quietly(kept).m_utftext, fml::wchar2utf8(small));
    EXPECT_NE(
        app.log("app").find("Captured text: " + std::to_string(small.size()) + " characters\n"),
        std::string::npos);
    EXPECT_TRUE(notice.warnings.empty());

    // Two megabytes do not fit: nothing is stored, the log does not claim a capture,
    // and the user hears of it.
    const std::u16string large(2'000'000, u'x');
    hrd::deliver_quote_text(*app.controller, &notice, large);
    EXPECT_EQ(store.max_quote_id(), kept);
    const std::string log = app.log("app");
    EXPECT_EQ(log.find("Captured text: 2000000 characters"), std::string::npos) << log;
    const auto error = log.find("Error: ");
    const auto refused = log.find("Captured text NOT kept (2000000 characters): ");
    EXPECT_NE(log.find("database or disk is full", error), std::string::npos) << log;
    EXPECT_LT(error, refused) << log;
    EXPECT_NE(refused, std::string::npos) << log;
    ASSERT_EQ(notice.warnings.size(), 1u);
    EXPECT_EQ(fml::wchar2utf8(notice.warnings[0].second),
              "The text you captured (2000000 characters) was NOT kept: the disk is full. "
              "Free some space, then capture it again.");

    // The collection is not broken by it: a small capture still fits.
    EXPECT_EQ(hrd::deliver_quote_text(*app.controller, &notice, u"after"), "");
    EXPECT_EQ(store.read_quote_quietly(store.max_quote_id()).m_utftext, "after");
    EXPECT_EQ(notice.warnings.size(), 1u);

    // More than one quote may hold is refused before the store is asked, and the
    // caller learns why.
    const std::u16string huge(hrd::max_quote_units + 1, u'y');
    const std::string why = hrd::deliver_quote_text(*app.controller, &notice, huge);
    EXPECT_NE(why.find("too big"), std::string::npos) << why;
    EXPECT_EQ(store.read_quote_quietly(store.max_quote_id()).m_utftext, "after");
    ASSERT_EQ(notice.warnings.size(), 2u);
    EXPECT_NE(fml::wchar2utf8(notice.warnings[1].second).find("it is too large to keep"),
              std::string::npos);
}
