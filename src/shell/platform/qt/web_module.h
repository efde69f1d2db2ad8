#pragma once
// The web renderer lives in a module of its own, libhoardly-web.so beside the
// program, loaded only when the window shows the web page: with the native
// renderer no library of Qt WebEngine is mapped at all (they cost some 18 MiB).
// This is all the program and the module know of each other.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QWidget;

namespace hrd::qt {

inline constexpr const char* resource_scheme = "hoardly";
// The address of the renderer page; its files sit beside it.
inline constexpr const char* renderer_url = "hoardly://app/renderer.html";

// What the page gets from the program. The callbacks come from Qt's signals; the
// program guards them itself.
struct web_page_needs {
    QObject* bridge = nullptr;  // published to the page as "hoardly" (page_bridge.h)
    // A file of the page's, by its bare name, from the resources; nullopt: none.
    std::function<std::optional<QByteArray>(const QString& name)> file;
    std::function<void()> load_failed;
    // The page's process ended (code): the page is gone until load() is called.
    std::function<void(int code)> page_ended;
};

// The web view with its page, in a profile of its own kept in memory: no cache,
// cookies or history on disk.
class web_view {
public:
    virtual ~web_view() = default;  // the view's widget goes first, then its page
    // The widget that shows the page; the window takes it as its child.
    virtual QWidget* widget() = 0;
    // Loads the renderer page (again).
    virtual void load() = 0;
};

// Changes whenever the layout of anything above changes: a module of another
// build is refused rather than called.
inline constexpr int web_module_version = 1;

struct web_module {
    int version;  // web_module_version as the module was built; always first
    // Declares our URL scheme to Qt WebEngine. Before the QApplication exists.
    void (*prepare)();
    std::unique_ptr<web_view> (*create)(web_page_needs needs);
};

}  // namespace hrd::qt

// The module's one entry point, looked up by this name.
extern "C" const hrd::qt::web_module* hoardly_web_module();
