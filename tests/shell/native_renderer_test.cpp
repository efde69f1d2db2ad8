// Starts the real program with the native renderer under its own X server and
// checks what a user would see and do: the default collection's quotes laid out
// and painted, and a click, a key, a double click and the wheel reaching the
// document. The window reports what it laid out through HOARDLY_PROBE; the two
// renderers' pictures are saved in the build folder for a look.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "support/process.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;
using hrd::test::child_process;
using hrd::test::read_file;

namespace {

constexpr auto patience = 60s;

// One element the window laid out (native_view.cpp, write_probe).
struct laid_out {
    std::string tag, id, cls, state, row_state, text;
    int x = 0, y = 0, w = 0, h = 0;
};

std::vector<laid_out> read_layout(const std::string& path) {
    std::vector<laid_out> result;
    std::istringstream lines(read_file(path));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.size() < 7) {
            continue;
        }
        laid_out e{fields[1], fields[2], fields[3], fields[4], fields[5],
                   fields.size() > 7 ? fields[7] : ""};
        std::sscanf(fields[6].c_str(), "%d,%d,%d,%d", &e.x, &e.y, &e.w, &e.h);
        result.push_back(e);
    }
    return result;
}

std::vector<laid_out> with_class(const std::vector<laid_out>& all, const std::string& cls) {
    std::vector<laid_out> result;
    for (const laid_out& e : all) {
        if (e.cls == cls) {
            result.push_back(e);
        }
    }
    std::sort(result.begin(), result.end(), [](const laid_out& a, const laid_out& b) {
        return a.y < b.y;
    });
    return result;
}

bool wait_until(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::string unescape_xml(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities) {
        for (std::size_t at = text.find(entity); at != std::string::npos;
             at = text.find(entity, at + 1)) {
            text.replace(at, std::strlen(entity), plain);
        }
    }
    return text;
}

// How many different colours a picture has: a blank or failed paint has one or two.
std::size_t colour_count(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            colours.insert(image.pixel(x, y));
        }
    }
    return colours.size();
}

class native_renderer : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool"}) {
            if (!std::filesystem::exists(tool)) {
                GTEST_SKIP() << tool << " is missing";
            }
        }
        std::filesystem::create_directories(m_dir.file("home"));
        std::filesystem::create_directories(m_dir.file("run"));
        ::chmod(m_dir.file("run").c_str(), 0700);
        // The server picks a free display and writes its number on a line of its
        // own (its complaints about displays in use share the file).
        m_server = std::make_unique<child_process>(
            "/usr/bin/Xvfb",
            std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x900x24", "-nolisten",
                                     "tcp"},
            std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"}}, m_dir.file("xvfb.txt"));
        ASSERT_TRUE(wait_until([&] {
            std::istringstream lines(read_file(m_dir.file("xvfb.txt")));
            for (std::string line; std::getline(lines, line) && !lines.eof();) {
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                    m_display = ":" + line;
                    return true;
                }
            }
            return false;
        })) << read_file(m_dir.file("xvfb.txt"));
        m_env = {{"PATH", "/usr/bin:/bin"},
                 {"HOME", m_dir.file("home")},
                 {"XDG_DATA_HOME", m_dir.file("data")},
                 {"XDG_DATA_DIRS", std::string(HOARDLY_SOURCE_DIR) + "/share"},
                 {"XDG_RUNTIME_DIR", m_dir.file("run")},
                 {"DISPLAY", m_display},
                 {"HOARDLY_PROBE", m_dir.file("probe")}};
    }

    std::unique_ptr<child_process> start(const std::vector<std::string>& args,
                                         const std::map<std::string, std::string>& more = {}) {
        auto env = m_env;
        for (const auto& [name, value] : more) {
            env[name] = value;
        }
        return std::make_unique<child_process>(hrd::test::program_path(), args, env,
                                               m_dir.file("output.txt"));
    }

    void xdotool(std::vector<std::string> args) {
        child_process tool("/usr/bin/xdotool", args, {{"DISPLAY", m_display}},
                           m_dir.file("xdotool.txt"));
        ASSERT_EQ(tool.wait(patience), 0) << read_file(m_dir.file("xdotool.txt"));
    }

    std::string window() {
        std::string id;
        wait_until([&] {
            child_process tool("/usr/bin/xdotool",
                               {"search", "--onlyvisible", "--name", "^Hoardly$"},
                               {{"DISPLAY", m_display}}, m_dir.file("window.txt"));
            tool.wait(patience);
            id = read_file(m_dir.file("window.txt"));
            return !id.empty();
        });
        return id.substr(0, id.find('\n'));
    }

    std::vector<laid_out> layout() const { return read_layout(m_dir.file("probe/native-layout.txt")); }

    // Waits until the window laid out something `check` accepts.
    bool wait_layout(const std::function<bool(const std::vector<laid_out>&)>& check) {
        return wait_until([&] { return check(layout()); });
    }

    void click(const std::string& window, const laid_out& e, const char* what = "1") {
        xdotool({"mousemove", "--window", window, std::to_string(e.x + e.w / 2),
                 std::to_string(e.y + e.h / 2), "click", what});
    }

    hrd::test::temp_dir m_dir;
    std::unique_ptr<child_process> m_server;
    std::string m_display;
    std::map<std::string, std::string> m_env;
};

}  // namespace

// The program's own painter is the default renderer.
TEST_F(native_renderer, shows_the_default_quotes_and_takes_clicks_keys_and_the_wheel) {
    auto program = start({});
    const auto quotes_shown = [](const std::vector<laid_out>& all) {
        return with_class(all, "text").size() >= 3 && with_class(all, "vtag").size() >= 5;
    };
    ASSERT_TRUE(wait_layout(quotes_shown)) << read_file(m_dir.file("output.txt"));

    // The texts laid out are the default collection's, newest first; every tag is there.
    const std::string defaults =
        unescape_xml(read_file(std::string(HOARDLY_SOURCE_DIR) + "/share/Hoardly/defaultquotes.xml"));
    const std::vector<laid_out> texts = with_class(layout(), "text");
    for (const laid_out& text : texts) {
        EXPECT_NE(defaults.find(text.text.substr(0, 40)), std::string::npos) << text.text;
        EXPECT_GE(text.x, 226) << "a quote outside its pane: " << text.text;
    }
    EXPECT_EQ(texts.front().text.rfind("Welcome to Hoardly!", 0), 0u) << texts.front().text;
    std::set<std::string> tags;
    for (const laid_out& tag : with_class(layout(), "vtag")) {
        tags.insert(tag.text);
    }
    EXPECT_EQ(tags, (std::set<std::string>{"Copy & export", "Search", "Tags", "Capture",
                                           "Getting started"}));
    // Painted, in the light scheme of the desktop's default palette.
    QImage picture(QString::fromStdString(m_dir.file("probe/native.png")));
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(colour_count(picture), 20u);
    EXPECT_GT(QColor(picture.pixel(picture.width() - 4, picture.height() / 2)).lightness(), 200);
    std::filesystem::copy_file(m_dir.file("probe/native.png"),
                               std::string(HOARDLY_BINARY_DIR) + "/renderer-native.png",
                               std::filesystem::copy_options::overwrite_existing);

    // A click on a tag selects its row; Down moves the selection to the next one.
    const std::string id = window();
    ASSERT_FALSE(id.empty());
    const auto tag_named = [](const std::vector<laid_out>& all, const std::string& name) {
        for (const laid_out& tag : with_class(all, "vtag")) {
            if (tag.text == name) {
                return tag;
            }
        }
        return laid_out{};
    };
    const auto checked = [](const laid_out& e) {
        return e.row_state.find("checked") != std::string::npos;
    };
    click(id, tag_named(layout(), "Search"));
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        return checked(tag_named(all, "Search")) && !checked(tag_named(all, "Tags"));
    }));
    xdotool({"key", "--window", id, "Down"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        return !checked(tag_named(all, "Search")) && checked(tag_named(all, "Tags"));
    }));

    // The wheel over the quotes shows them from the next row on.
    const laid_out first_quote = texts.front();
    click(id, first_quote, "5");
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = with_class(all, "text");
        return !now.empty() && now.front().text == texts[1].text;
    }));
    click(id, with_class(layout(), "text").front(), "4");
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = with_class(all, "text");
        return !now.empty() && now.front().text == texts[0].text;
    }));

    // End makes the oldest quote current and scrolls to it, with the rows above it
    // filling the pane; Home goes back to the top.
    click(id, with_class(layout(), "text").front());
    xdotool({"key", "--window", id, "End"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = with_class(all, "text");
        return now.size() >= 3 && now.back().text.rfind("Export writes", 0) == 0 &&
               now.back().row_state.find("current") != std::string::npos;
    })) << read_file(m_dir.file("probe/native-layout.txt"));
    xdotool({"key", "--window", id, "Home"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = with_class(all, "text");
        return !now.empty() && now.front().text == texts.front().text &&
               now.front().row_state.find("current") != std::string::npos;
    })) << read_file(m_dir.file("probe/native-layout.txt"));

    // A right click on a quote opens its menu there, with its four items.
    const laid_out quote_text = with_class(layout(), "text").front();
    xdotool({"mousemove", "--window", id, std::to_string(quote_text.x + 40),
             std::to_string(quote_text.y + 10), "click", "3"});
    const auto menu_items = [](const std::vector<laid_out>& all) {
        std::size_t items = 0;
        for (const laid_out& e : all) {
            items += e.tag == "li" ? 1 : 0;
        }
        return items;
    };
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        for (const laid_out& e : all) {
            if (e.id == "quote-menu") {
                return e.x == quote_text.x + 40 && e.y == quote_text.y + 10 && menu_items(all) == 4;
            }
        }
        return false;
    })) << read_file(m_dir.file("probe/native-layout.txt"));
    xdotool({"key", "--window", id, "Escape"});
    EXPECT_TRUE(wait_layout([&](const auto& all) { return menu_items(all) == 0; }));

    // Pulling the splitter widens the tag pane; the quotes move over (the pane's
    // border comes on top of the width the splitter sets, as in the web page).
    laid_out splitter;
    for (const laid_out& e : layout()) {
        if (e.id == "splitter") {
            splitter = e;
        }
    }
    ASSERT_GT(splitter.h, 0);
    const std::string mid_y = std::to_string(splitter.y + splitter.h / 2);
    xdotool({"mousemove", "--window", id, std::to_string(splitter.x + 2), mid_y, "mousedown", "1",
             "mousemove", "--window", id, std::to_string(splitter.x + 40), mid_y, "mousemove",
             "--window", id, std::to_string(splitter.x + 82), mid_y, "mouseup", "1"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = with_class(all, "text");
        return !now.empty() && std::abs(now.front().x - (texts.front().x + 80)) <= 2;
    })) << read_file(m_dir.file("probe/native-layout.txt"));

    // Text pasted into the find field narrows the list as typed text does.
    if (std::filesystem::exists("/usr/bin/xclip")) {
        hrd::test::write_file(m_dir.file("clip.txt"), "Export writes");
        child_process clip("/usr/bin/xclip", {"-selection", "clipboard", "-i", m_dir.file("clip.txt")},
                           {{"DISPLAY", m_display}}, m_dir.file("xclip.txt"));
        ASSERT_EQ(clip.wait(patience), 0);  // its copy stays, owning the clipboard
        xdotool({"key", "--window", id, "ctrl+f", "ctrl+v"});
        EXPECT_TRUE(wait_layout([&](const auto& all) {
            const auto now = with_class(all, "text");
            return now.size() == 1 && now[0].text.rfind("Export writes", 0) == 0;
        })) << read_file(m_dir.file("probe/native-layout.txt"));
        xdotool({"key", "--window", id, "Escape"});
        EXPECT_TRUE(wait_layout([&](const auto& all) {
            return with_class(all, "text").size() == texts.size();
        }));
    }

    // A double click puts a tag into the search bar, and the list shows its quotes only.
    xdotool({"mousemove", "--window", id, std::to_string(tag_named(layout(), "Copy & export").x + 10),
             std::to_string(tag_named(layout(), "Copy & export").y + 8), "click", "--repeat", "2",
             "--delay", "80", "1"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto searched = with_class(all, "stag");
        const auto now = with_class(all, "text");
        return searched.size() == 1 && searched[0].text == "Copy & export" && now.size() == 2 &&
               now[0].text.rfind("Need a quote back?", 0) == 0 &&
               now[1].text.rfind("Export writes", 0) == 0;
    })) << read_file(m_dir.file("probe/native-layout.txt"));

    // Painting needs no OpenGL: no driver is loaded for it (it would cost tens of MiB),
    // nor anything of the web engine (some 18 MiB), which is loaded only for the page.
    const std::string maps = read_file("/proc/" + std::to_string(program->pid()) + "/maps");
    ASSERT_NE(maps.find("libQt6Widgets"), std::string::npos);
    EXPECT_EQ(maps.find("_dri.so"), std::string::npos);
    EXPECT_EQ(maps.find("libLLVM"), std::string::npos);
    EXPECT_EQ(maps.find("libQt6WebEngine"), std::string::npos);
    EXPECT_EQ(maps.find("libQt6WebChannel"), std::string::npos);
    EXPECT_EQ(maps.find("libhoardly-web"), std::string::npos);

    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(patience), 1);
    EXPECT_NE(read_file(m_dir.file("data/Hoardly/logs/application.log"))
                  .find("The window is painted by the program itself (native renderer)\n"),
              std::string::npos);
}

// A tag list longer than its pane scrolls with the wheel, down to its last tag and
// no further, and back.
TEST_F(native_renderer, a_long_tag_list_scrolls_with_the_wheel) {
    std::filesystem::create_directories(m_dir.file("share/Hoardly"));
    std::string tags = "<tags>\n";
    for (int i = 1; i <= 60; ++i) {
        tags += "  <tag id=\"" + std::to_string(i) + "\" name=\"tag " + std::to_string(i) + "\"/>\n";
    }
    hrd::test::write_file(m_dir.file("share/Hoardly/defaulttags.xml"), tags + "</tags>\n");
    hrd::test::write_file(m_dir.file("share/Hoardly/defaultquotes.xml"), "<quotes/>\n");
    auto program = start({"--renderer=native"}, {{"XDG_DATA_DIRS", m_dir.file("share")}});
    const auto shown_tags = [](const std::vector<laid_out>& all) {
        std::vector<laid_out> tags;
        for (const laid_out& tag : with_class(all, "vtag")) {
            if (tag.y >= 49 + 28) {  // below the pane's header
                tags.push_back(tag);
            }
        }
        return tags;
    };
    ASSERT_TRUE(wait_layout([&](const auto& all) { return shown_tags(all).size() >= 10; }))
        << read_file(m_dir.file("output.txt"));
    const std::vector<laid_out> before = shown_tags(layout());
    const std::string id = window();
    ASSERT_FALSE(id.empty());
    const std::string x = std::to_string(before.front().x + 10);
    const std::string y = std::to_string(before.front().y + 100);
    xdotool({"mousemove", "--window", id, x, y, "click", "5"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = shown_tags(all);
        return !now.empty() && now.front().text != before.front().text;
    }));
    // Many notches: the list's last tag ends inside the pane (above the status bar),
    // near its bottom.
    xdotool({"mousemove", "--window", id, x, y, "click", "--repeat", "40", "5"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = shown_tags(all);
        const auto first_seen = [&](const laid_out& tag) {
            return std::any_of(before.begin(), before.end(),
                               [&](const laid_out& old) { return old.text == tag.text; });
        };
        return !now.empty() && !first_seen(now.back()) &&
               now.back().y + now.back().h <= 680 - 25 && now.back().y + now.back().h > 680 - 80;
    })) << read_file(m_dir.file("probe/native-layout.txt"));
    xdotool({"mousemove", "--window", id, x, y, "click", "--repeat", "40", "4"});
    EXPECT_TRUE(wait_layout([&](const auto& all) {
        const auto now = shown_tags(all);
        return !now.empty() && now.front().y == before.front().y;
    }));
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(patience), 1);
}

// A quote taller than its pane is read through by the wheel a few lines a notch,
// down to its last line, before the next quote comes to the top; up again into it,
// its last lines come first.
TEST_F(native_renderer, a_quote_taller_than_its_pane_is_read_through_with_the_wheel) {
    std::filesystem::create_directories(m_dir.file("share/Hoardly"));
    std::string tall = "tall quote, line 1";
    for (int i = 2; i <= 90; ++i) {
        tall += "&#10;line " + std::to_string(i);
    }
    hrd::test::write_file(m_dir.file("share/Hoardly/defaulttags.xml"), "<tags/>\n");
    hrd::test::write_file(m_dir.file("share/Hoardly/defaultquotes.xml"),
                          "<quotes>\n  <quote id=\"1\" text=\"the short one\"/>\n  <quote id=\"2\" text=\"" +
                              tall + "\"/>\n</quotes>\n");
    auto program = start({"--renderer=native"}, {{"XDG_DATA_DIRS", m_dir.file("share")}});
    const auto first_text = [](const std::vector<laid_out>& all) {
        const auto texts = with_class(all, "text");
        return texts.empty() ? laid_out{} : texts.front();
    };
    const auto pane_of = [](const std::vector<laid_out>& all) {
        for (const laid_out& e : all) {
            if (e.id == "quotepane") {
                return e;
            }
        }
        return laid_out{};
    };
    const auto is_tall = [](const laid_out& e) { return e.text.rfind("tall quote", 0) == 0; };
    ASSERT_TRUE(wait_layout([&](const auto& all) { return is_tall(first_text(all)); }))
        << read_file(m_dir.file("output.txt"));
    const laid_out top = first_text(layout());
    const laid_out pane = pane_of(layout());
    ASSERT_GT(top.h, pane.h) << "the quote is not taller than its pane";
    const std::string id = window();
    ASSERT_FALSE(id.empty());
    const std::string x = std::to_string(top.x + 20);
    const std::string y = std::to_string(pane.y + pane.h / 2);
    // One notch at a time, until the next quote is on top.
    const auto notch = [&](const char* button) {
        const laid_out before = first_text(layout());
        xdotool({"mousemove", "--window", id, x, y, "click", button});
        return wait_layout([&](const auto& all) {
            const laid_out now = first_text(all);
            return now.y != before.y || now.text != before.text;
        });
    };
    bool last_line_shown = false;
    int notches = 0;
    for (; notches < 100 && is_tall(first_text(layout())); ++notches) {
        const laid_out now = first_text(layout());
        EXPECT_LE(now.y, top.y);
        last_line_shown = last_line_shown || now.y + now.h <= pane.y + pane.h;
        ASSERT_TRUE(notch("5")) << "notch " << notches;
    }
    EXPECT_TRUE(last_line_shown) << "the tall quote's end never came into the pane";
    EXPECT_GT(notches, 3) << "the tall quote went by in whole rows";
    EXPECT_EQ(first_text(layout()).text, "the short one");
    // Back up into it: its end first, then a notch at a time to its first line.
    ASSERT_TRUE(notch("4"));
    const laid_out entered = first_text(layout());
    EXPECT_TRUE(is_tall(entered));
    EXPECT_LT(entered.y, top.y);
    EXPECT_LE(entered.y + entered.h, pane.y + pane.h);
    for (int up = 0; up < 100 && first_text(layout()).y < top.y; ++up) {
        ASSERT_TRUE(notch("4")) << "up notch " << up;
    }
    EXPECT_EQ(first_text(layout()).y, top.y);
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(patience), 1);
}

// The web page comes on request; its picture goes beside the native one.
TEST_F(native_renderer, the_web_renderer_comes_on_request_and_its_picture_is_saved) {
    auto program = start({"--renderer=web"});
    const std::string picture = m_dir.file("probe/web.png");
    ASSERT_TRUE(wait_until([&] {
        QImage image(QString::fromStdString(picture));
        return !image.isNull() && colour_count(image) > 20;
    })) << read_file(m_dir.file("output.txt"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("probe/native-layout.txt")));
    // The page came through the web renderer's module, from beside the program.
    const std::string maps = read_file("/proc/" + std::to_string(program->pid()) + "/maps");
    EXPECT_NE(maps.find(std::string(HOARDLY_BINARY_DIR) + "/libhoardly-web.so"), std::string::npos);
    EXPECT_NE(maps.find("libQt6WebEngineCore"), std::string::npos);
    std::filesystem::copy_file(picture, std::string(HOARDLY_BINARY_DIR) + "/renderer-web.png",
                               std::filesystem::copy_options::overwrite_existing);
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(patience), 1);
    EXPECT_EQ(read_file(m_dir.file("data/Hoardly/logs/application.log")).find("native renderer"),
              std::string::npos);
}

// Without its web renderer's module beside it, or with a broken one, the program
// says so and ends before it starts anything; the native renderer needs no module.
TEST_F(native_renderer, a_missing_or_broken_web_module_is_reported_and_native_still_starts) {
    const std::string folder = m_dir.file("installed");
    std::filesystem::create_directories(folder);
    for (const char* file : {"hoardly-desktop", "DragMgr.xml"}) {
        std::filesystem::copy_file(std::string(HOARDLY_BINARY_DIR) + "/" + file,
                                   folder + "/" + file);
    }
    std::filesystem::create_directory_symlink(std::string(HOARDLY_BINARY_DIR) + "/res",
                                              folder + "/res");
    const auto run = [&](const std::vector<std::string>& args) {
        return std::make_unique<child_process>(folder + "/hoardly-desktop", args, m_env,
                                               m_dir.file("output.txt"));
    };

    EXPECT_EQ(run({"--renderer=web"})->wait(patience), 4);
    std::string output = read_file(m_dir.file("output.txt"));
    EXPECT_NE(output.find("the web renderer cannot be loaded"), std::string::npos) << output;
    EXPECT_NE(output.find(folder + "/libhoardly-web.so"), std::string::npos) << output;

    hrd::test::write_file(folder + "/libhoardly-web.so", "not a library\n");
    EXPECT_EQ(run({"--renderer=web"})->wait(patience), 4);
    output = read_file(m_dir.file("output.txt"));
    EXPECT_NE(output.find("the web renderer cannot be loaded"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("data/Hoardly/logs")));

    auto program = run({"--renderer=native"});
    EXPECT_TRUE(wait_layout([](const auto& all) { return with_class(all, "text").size() >= 2; }))
        << read_file(m_dir.file("output.txt"));
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(patience), 1);
}
