// The desktop's decisions that need no display: which drops are quotes and what
// text they carry, and which links the opener hands to the desktop.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "shell/platform/qt/desktop_services.h"
#include "shell/platform/qt/drop_text.h"
#include "shell/platform/qt/tray_menu.h"
#include "support/temp_dir.h"

namespace {

using hrd::qt::dropped_text;

QByteArray utf16_bytes(std::u16string_view text) {
    QByteArray bytes;
    for (char16_t unit : text) {
        bytes.append(char(unit & 0xFF));
        bytes.append(char(unit >> 8));
    }
    return bytes;
}

TEST(qt_desktop, drops_give_their_whole_text_and_refuse_the_rest) {
    // UTF-16 is read to its real length: inner NULs stay, the terminator goes, and
    // characters outside the BMP arrive as their surrogate pairs.
    using namespace std::string_literals;
    const std::u16string text = u"caf\u00e9 \U0001F600 a\0b"s;
    QMimeData utf16;
    utf16.setData("text/plain;charset=utf-16", utf16_bytes(text + u'\0'));
    utf16.setText("the plain text is only a fallback");
    EXPECT_EQ(dropped_text(utf16), text);

    QMimeData with_bom;
    with_bom.setData("text/plain;charset=utf-16", utf16_bytes(u"\uFEFFhello"));
    EXPECT_EQ(dropped_text(with_bom), u"hello");

    QMimeData plain;
    plain.setText(QString::fromUtf8("line one\nline two \xF0\x9F\x98\x80"));
    EXPECT_EQ(dropped_text(plain), u"line one\nline two \U0001F600");

    // Files are not quotes, even when the file manager adds their paths as text.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/home/me/notes.txt")});
    files.setText("/home/me/notes.txt");
    EXPECT_EQ(dropped_text(files), std::nullopt);

    QMimeData image;
    image.setData("image/png", QByteArray("\x89PNG", 4));
    EXPECT_EQ(dropped_text(image), std::nullopt);

    QMimeData empty;
    empty.setText("");
    EXPECT_EQ(dropped_text(empty), std::nullopt);

    // A web link dragged from a browser is text the user may well want to keep.
    QMimeData web;
    web.setUrls({QUrl("https://example.com/")});
    web.setText("https://example.com/");
    EXPECT_EQ(dropped_text(web), u"https://example.com/");
}

// Data that counts how often the other program is asked for it.
class counted_mime_data final : public QMimeData {
public:
    mutable int reads = 0;

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        ++reads;
        return QMimeData::retrieveData(format, type);
    }
};

TEST(qt_desktop, a_drag_is_decided_as_it_enters_and_its_drop_asks_nothing_more) {
    using hrd::qt::drag_offer;
    drag_offer offer;
    counted_mime_data text;
    text.setText("kept");
    ASSERT_TRUE(offer.enter(&text, true));
    EXPECT_TRUE(offer.taken());
    const int read_on_entering = text.reads;
    EXPECT_GT(read_on_entering, 0);
    // By the drop the other program may be gone: what it offers then is not read.
    text.setText("");
    EXPECT_EQ(offer.drop(), u"kept");
    EXPECT_EQ(text.reads, read_on_entering);
    // One drop per drag: the text is handed over once.
    EXPECT_FALSE(offer.taken());
    EXPECT_EQ(offer.drop(), std::nullopt);

    // Refused drags drop nothing: files, and every drag while drops are not taken.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/home/me/notes.txt")});
    EXPECT_FALSE(offer.enter(&files, true));
    EXPECT_EQ(offer.drop(), std::nullopt);
    EXPECT_FALSE(offer.enter(&text, false));
    EXPECT_FALSE(offer.enter(nullptr, true));
    // A refused drag after a taken one that never dropped leaves nothing behind.
    text.setText("left without a drop");
    ASSERT_TRUE(offer.enter(&text, true));
    EXPECT_FALSE(offer.enter(&files, true));
    EXPECT_EQ(offer.drop(), std::nullopt);
}

TEST(qt_desktop, only_web_and_mail_addresses_are_opened) {
    using hrd::qt::is_openable_url;
    EXPECT_TRUE(is_openable_url(u"https://example.com/help"));
    EXPECT_TRUE(is_openable_url(u"HTTP://example.com"));
    EXPECT_TRUE(is_openable_url(u" mailto:me@example.com "));
    for (const char16_t* refused :
         {u"file:///etc/passwd", u"javascript:alert(1)", u"/usr/bin/xterm", u"smb://server/share",
          u"http://", u"mailto:", u"", u"data:text/html,x", u"hoardly://app/renderer.html"}) {
        EXPECT_FALSE(is_openable_url(refused)) << std::u16string(refused).size();
    }
}

}  // namespace

namespace {

// Widgets need an application object; no display is needed for a menu never shown.
QApplication& application() {
    static int argc = 1;
    static char name[] = "qt_desktop_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

QAction* item(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

TEST(qt_desktop, the_tray_menu_writes_and_removes_the_login_entry) {
    application();
    hrd::test::temp_dir dir;
    const std::string config = dir.file("config");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::vector<std::string> warnings;
    int shown = 0, exits = 0, guarded = 0;
    hrd::qt::tray_menu_actions actions;
    actions.show = [&] { ++shown; };
    actions.help = [] {};
    actions.exit = [&] { ++exits; };
    actions.guard = [&](const std::function<void()>& action) {
        ++guarded;
        action();
    };
    actions.warn = [&](const std::string& why) { warnings.push_back(why); };
    actions.program = "/opt/my programs/hoardly";
    std::unique_ptr<QMenu> menu = hrd::qt::make_tray_menu(actions);
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << action->text();
    }
    EXPECT_EQ(texts.join("|").toStdString(), "Show Hoardly|Start at login|Help|Exit Hoardly");

    QAction* login = item(*menu, "Start at login");
    ASSERT_NE(login, nullptr);
    ASSERT_TRUE(login->isCheckable());
    EXPECT_FALSE(login->isChecked());
    const std::string entry = config + "/autostart/hoardly.desktop";
    login->trigger();
    EXPECT_TRUE(login->isChecked());
    const std::string written = hrd::test::read_file(entry);
    EXPECT_NE(written.find("[Desktop Entry]\n"), std::string::npos) << written;
    // A path with a space is quoted, so the desktop runs this very program.
    EXPECT_NE(written.find("\nExec=\"/opt/my programs/hoardly\" --hidden\n"), std::string::npos)
        << written;
    login->trigger();
    EXPECT_FALSE(login->isChecked());
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(warnings.empty());

    // Removed by the desktop's own settings meanwhile: the tick follows the file.
    login->trigger();
    std::filesystem::remove(entry);
    emit menu->aboutToShow();
    EXPECT_FALSE(login->isChecked());

    // A folder that cannot be made: the user is told, and the item stays unticked.
    hrd::test::write_file(dir.file("a file"), "");
    ::setenv("XDG_CONFIG_HOME", dir.file("a file").c_str(), 1);
    login->trigger();
    EXPECT_FALSE(login->isChecked());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("a file"), std::string::npos) << warnings[0];
    ::unsetenv("XDG_CONFIG_HOME");

    item(*menu, "Show Hoardly")->trigger();
    item(*menu, "Exit Hoardly")->trigger();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(guarded, 6);  // every item runs through the loop's guard
}
