// The test reading channel: what it reads of the tree, that any text comes out
// as valid JSON, that requests are answered in order once the view has settled,
// and that a bad request gets an error rather than a guess.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "layout/dom.h"
#include "layout/patch.h"
#include "shell/platform/qt/window_reader.h"
#include "support/temp_dir.h"

namespace {

using hrd::qt::read_view;
using hrd::qt::window_reader;

QJsonDocument parsed(const std::string& answer) {
    QJsonParseError error{};
    QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(answer), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << answer;
    return json;
}

// The renderer watches the document, which then knows its elements by serial.
struct no_renderer final : layout::patch_observer {
    void on_patch(const layout::patch&) override {}
};

struct fixture {
    no_renderer observer;
    layout::document document;
    std::vector<std::function<void()>> unsettled;  // answers waiting for a layout
    bool settled = true;
    std::unique_ptr<window_reader> channel;

    explicit fixture(const QString& socket) {
        document.load_html(
            "<html><body><ul id='list'><li class='item' title='a &quot;b&quot;'>one</li>"
            "<li class='item' id='second'>two</li></ul><p id='hidden'>x</p></body></html>");
        document.set_observer(&observer);
        read_view view;
        view.box = [this](std::uint32_t serial) -> std::optional<QRect> {
            const layout::handle second = layout::find_first(document.root(), "#second");
            return serial == layout::serial_of(second) ? std::optional(QRect(10, 20, 30, 40))
                                                       : std::nullopt;
        };
        view.ring = [](std::uint32_t) { return false; };
        view.element_at = [this](QPoint at) {
            return at == QPoint(15, 25)
                       ? layout::serial_of(layout::find_first(document.root(), "#second"))
                       : 0u;
        };
        view.when_settled = [this](std::function<void()> then) {
            if (settled) {
                then();
            } else {
                unsettled.push_back(std::move(then));
            }
        };
        view.quotes_shown = [] { return std::pair<std::size_t, std::size_t>(0, 1); };
        view.save_picture = [](const QString&) { return false; };
        channel = std::make_unique<window_reader>(document, std::move(view), socket,
                                                       [](const std::function<void()>& f) { f(); });
    }
};

TEST(window_reader, reads_the_tree_as_json_whatever_its_text_holds) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    hrd::test::temp_dir dir;
    fixture f(QString::fromStdString(dir.path() + "/reader.sock"));

    // Text that would break a careless encoder: quotes, backslashes, control
    // characters, a line break, and characters outside the BMP.
    const std::string hostile = std::string("\"quoted\" back\\slash \x01\x1f tab\there\nline ") +
                                "\xF0\x9F\x98\x80 </script>";
    layout::set_inner_text_utf8(layout::find_first(f.document.root(), "#second"), hostile);
    layout::set_state(layout::find_first(f.document.root(), "#second"),
                      layout::state::checked | layout::state::focus, 0, false);

    const QJsonArray items = parsed(f.channel->answer("query #list .item")).array();
    ASSERT_EQ(items.size(), 2);
    const QJsonObject first = items[0].toObject();
    EXPECT_EQ(first["text"].toString(), "one");
    EXPECT_EQ(first["tag"].toString(), "li");
    EXPECT_EQ(first["attributes"].toObject()["title"].toString(), "a \"b\"");
    EXPECT_TRUE(first["box"].isNull());
    const QJsonObject second = items[1].toObject();
    EXPECT_EQ(second["id"].toString(), "second");
    EXPECT_EQ(second["text"].toString().toStdString(), hostile);
    EXPECT_TRUE(second["state"].toString().contains("checked"));
    EXPECT_EQ(second["box"].toArray(), QJsonArray({10, 20, 30, 40}));

    EXPECT_EQ(parsed(f.channel->answer("focus")).object()["id"].toString(), "second");
    EXPECT_EQ(parsed(f.channel->answer("at 15 25")).object()["id"].toString(), "second");
    EXPECT_EQ(f.channel->answer("at 1 1"), "null");
    EXPECT_EQ(parsed(f.channel->answer("query #nothing")).array().size(), 0);
    EXPECT_TRUE(parsed(f.channel->answer("popups")).array().isEmpty());
    // A request it cannot read says so.
    for (const char* bad : {"query #list >", "query", "list #nothing", "at 1", "frobnicate", ""}) {
        EXPECT_TRUE(parsed(f.channel->answer(bad)).object().contains("error")) << bad;
    }
}

TEST(window_reader, answers_on_its_socket_in_order_once_the_view_has_settled) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    hrd::test::temp_dir dir;
    const std::string path = dir.path() + "/reader.sock";
    fixture f(QString::fromStdString(path));
    f.settled = false;

    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Two requests in one write, the second split from its line end.
    const std::string requests = "query #second\nquery .item\n";
    ASSERT_EQ(::write(fd, requests.data(), requests.size()), ssize_t(requests.size()));

    // Nothing is answered while a layout is pending.
    const auto run_until = [&](const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return done();
    };
    ASSERT_TRUE(run_until([&] { return !f.unsettled.empty(); }));
    char buffer[8192];
    EXPECT_EQ(::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), -1);

    // Once it is laid out, both answers come, in the order asked.
    f.settled = true;
    for (auto& then : std::exchange(f.unsettled, {})) {
        then();
    }
    std::string received;
    ASSERT_TRUE(run_until([&] {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            received.append(buffer, std::size_t(got));
        }
        return std::count(received.begin(), received.end(), '\n') == 2;
    })) << received;
    const std::size_t end = received.find('\n');
    EXPECT_EQ(parsed(received.substr(0, end)).array().size(), 1);
    EXPECT_EQ(parsed(received.substr(end + 1, received.size() - end - 2)).array().size(), 2);
    ::close(fd);
}

}  // namespace
