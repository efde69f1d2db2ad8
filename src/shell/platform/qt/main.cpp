// The desktop program: Hoardly's start-up sequence on Qt, with the main window, the
// tray icon, the copy-key capture and the desktop services.

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QProgressDialog>
#include <QSystemTrayIcon>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "behaviors/behavior.h"
#include "behaviors/help.h"
#include "fml/log.h"
#include "fml/text.h"
#include "platform/services.h"
#include "shell/autostart.h"
#include "shell/command_line.h"
#include "shell/deliver_quote.h"
#include "shell/remote_command.h"
#include "shell/platform/qt/desktop_capture.h"
#include "shell/platform/qt/desktop_services.h"
#include "shell/platform/qt/main_window.h"
#include "shell/platform/qt/program_icon.h"
#include "shell/platform/qt/qt_event_loop.h"
#include "shell/platform/qt/tray_menu.h"
#include "shell/platform/qt/web_module_loader.h"
#include "shell/platform/x11/capture_backend.h"
#include "shell/startup.h"

namespace {

bool g_sandbox_disabled_for_root = false;
bool g_wayland_session = false;

class qt_platform final : public hrd::shell_platform {
public:
    qt_platform(int& argc, char** argv, hrd::renderer shows_with)
        : m_argc(argc), m_argv(argv), m_shows_with(shows_with) {}

    std::unique_ptr<hrd::event_loop> create_event_loop() override {
        auto loop = std::make_unique<hrd::qt::qt_event_loop>(m_argc, m_argv);
        m_loop = loop.get();
        return loop;
    }

    void create_main_window() override {
        if (g_sandbox_disabled_for_root && m_shows_with == hrd::renderer::web) {
            fml::app_line("Running as root: the window's page runs without Chromium's sandbox");
        }
        if (g_wayland_session) {
            fml::app_line(
                "A Wayland session: the window runs through XWayland, and the double copy is "
                "seen only in X programs; a desktop shortcut bound to \"hoardly --capture\" "
                "captures in every program");
        }
        fml::app_line("Loading html");
        m_window = std::make_unique<hrd::qt::qt_main_window>(guard(), &m_behaviors, m_shows_with);
        fml::app_line("Loading app data");
        fml::app_line("Loading app data - successful");
        fml::app_line("Loading html - successful");
        fml::app_line("RegisterDropWindow");
        m_window->set_drop_action(
            [](std::u16string text) { hrd::deliver_quote_text(std::move(text)); });

        auto& services = hrd::services();
        services.window = m_window.get();
        services.clip = &m_clipboard;
        m_dialog = std::make_unique<hrd::qt::qt_save_dialog>(m_window->widget());
        services.dialog = m_dialog.get();
        services.opener = &m_opener;
        m_ui = std::make_unique<hrd::qt::qt_ui_thread>(guard());
        services.ui = m_ui.get();
    }

    void start_desktop(std::function<void()> exit, bool hidden) override {
        m_exit = std::move(exit);
        const bool has_tray = QSystemTrayIcon::isSystemTrayAvailable();
        if (has_tray) {
            add_tray_icon();
            m_window->set_close_action([this] { m_window->hide(); }, true);
        } else {
            // Nowhere to hide to: the window stays the way back, so closing it ends
            // the program rather than leaving it running unseen.
            fml::app_line("No system tray: the window stays shown and closing it ends Hoardly");
            m_window->set_close_action([this] { m_exit(); }, false);
        }
        if (hidden && has_tray) {
            fml::app_line("Started to the tray with the window hidden");
        } else {
            m_window->show();
        }
        m_notice = std::make_unique<hrd::qt::qt_user_notice>(m_tray.get(), m_window->widget());
        hrd::services().notice = m_notice.get();
        m_capture = std::make_unique<hrd::qt::desktop_capture>(
            hrd::x11::capture_backend(), m_clipboard,
            [this](std::u16string text) {
                m_last_refusal = hrd::deliver_quote_text(std::move(text));
            },
            guard(),
            [](const std::string& line) { fml::app_line(line); });
        m_capture->start();
    }

    void stop_desktop() noexcept override {
        try {
            m_capture.reset();  // the keyboard first
            hrd::services().notice = nullptr;
            m_notice.reset();
            if (m_window) {
                m_window->set_drop_action(nullptr);
            }
            m_tray.reset();
            m_tray_menu.reset();
        } catch (...) {
        }
    }

    void destroy_main_window() noexcept override {
        auto& services = hrd::services();
        services = {};
        m_dialog.reset();
        m_window.reset();
    }

    void on_second_start() override {
        if (m_window) {
            m_window->show();
        }
    }

    std::function<void(double)> show_progress(const std::string& what) override {
        m_progress = std::make_unique<QProgressDialog>(QString::fromStdString(what), QString(), 0,
                                                       1000);
        m_progress->setWindowTitle("Hoardly");
        m_progress->setWindowIcon(hrd::qt::program_icon());
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->show();
        QCoreApplication::processEvents();
        return [this](double done) {
            if (!m_progress) {
                return;
            }
            m_progress->setValue(int(done * 1000));
            QCoreApplication::processEvents();
            if (done >= 1.0) {
                m_progress.reset();
            }
        };
    }

    void capture_clipboard(std::function<void(hrd::instance_answer)> done) override {
        if (!m_capture) {
            done({false, "Hoardly is not ready to capture"});
            return;
        }
        m_capture->capture_now([this, done](const std::string& failure) {
            if (!failure.empty()) {
                done({false, failure});
            } else if (!m_last_refusal.empty()) {
                done({false, "the text was not kept: " + m_last_refusal});
            } else {
                done({true, "Captured the clipboard's text"});
            }
        });
    }

private:
    hrd::qt::qt_main_window::guard_function guard() {
        return [loop = m_loop](const std::function<void()>& action) { loop->guarded(action); };
    }

    void add_tray_icon() {
        hrd::qt::tray_menu_actions actions;
        actions.show = [this] { m_window->show(); };
        actions.help = [] {
            if (!hrd::open_help()) {
                fml::app_line("The help cannot be opened");
            }
        };
        actions.exit = [this] { m_exit(); };
        actions.guard = [loop = m_loop](const std::function<void()>& action) {
            loop->guarded(action);
        };
        actions.warn = [this](const std::string& why) {
            fml::app_line("Start at login: " + why);
            if (m_notice) {
                m_notice->warn(u"Start at login", fml::utf82wchar(why));
            }
        };
        actions.program = hrd::login_command();
        m_tray_menu = hrd::qt::make_tray_menu(std::move(actions));
        m_tray = std::make_unique<QSystemTrayIcon>(hrd::qt::program_icon());
        m_tray->setToolTip("Hoardly");
        m_tray->setContextMenu(m_tray_menu.get());
        QObject::connect(m_tray.get(), &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             m_loop->guarded([this, reason] {
                                 if (reason == QSystemTrayIcon::Trigger) {
                                     if (m_window->is_shown()) {
                                         m_window->hide();
                                     } else {
                                         m_window->show();
                                     }
                                 } else if (reason == QSystemTrayIcon::DoubleClick) {
                                     // Its first click toggled already; a double click
                                     // always ends with the window shown.
                                     m_window->show();
                                 }
                             });
                         });
        m_tray->show();
    }

    int& m_argc;
    char** m_argv;
    hrd::renderer m_shows_with;
    hrd::qt::qt_event_loop* m_loop = nullptr;
    std::function<void()> m_exit;
    hrd::behavior_binder m_behaviors;  // outlives the window, which binds through it
    hrd::qt::qt_clipboard m_clipboard;
    hrd::qt::qt_desktop_opener m_opener;
    std::unique_ptr<hrd::qt::qt_ui_thread> m_ui;
    std::unique_ptr<QProgressDialog> m_progress;  // while an older file gets its text index
    std::unique_ptr<hrd::qt::qt_main_window> m_window;
    std::unique_ptr<hrd::qt::qt_save_dialog> m_dialog;
    std::unique_ptr<QMenu> m_tray_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<hrd::qt::qt_user_notice> m_notice;
    std::unique_ptr<hrd::qt::desktop_capture> m_capture;
    std::string m_last_refusal;  // why the last text handed on was not kept; empty: kept
};

}  // namespace

int main(int argc, char** argv) {
    // The command line is read, and a running instance asked, before anything of
    // the desktop starts: a command is answered in a few milliseconds.
    std::setlocale(LC_ALL, "");
    hrd::command_line line = hrd::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    hrd::apply_renderer_variable(line, std::getenv("HOARDLY_RENDERER"));
    if (const std::optional<int> code = hrd::run_command_line(line, std::cout, std::cerr)) {
        return *code;
    }
    // In a Wayland session the window runs through XWayland: the copy keys can be
    // watched there (in X programs), and the clipboard stays readable. A platform
    // the user chose is kept.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        g_wayland_session = true;
    }
    // Chromium's sandbox cannot work for root and the web engine would end the whole
    // process at the first page. Running as root is the user's choice; the page then
    // runs unsandboxed, still with no script but ours and no network.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        g_sandbox_disabled_for_root = true;
    }
    // The native renderer paints with the CPU: without this, Qt may still make an
    // OpenGL context, which under a software driver alone maps some 35 MiB of the
    // process. A choice of the user's is kept.
    if (line.shows_with == hrd::renderer::native &&
        qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    }
    // Qt WebEngine lives in a module of its own, loaded only for the web page and
    // before the application object exists: the engine sets itself up as the
    // application starts, and must know our URL scheme by then.
    if (line.shows_with == hrd::renderer::web) {
        std::string why;
        const hrd::qt::web_module* web = hrd::qt::load_web_module(why);
        if (!web) {
            std::cerr << "hoardly: the web renderer cannot be loaded: " << why
                      << "\n(--renderer=native shows the window without it)\n";
            return hrd::exit_no_web_renderer;
        }
        web->prepare();
    }
    // Qt reads its own options from what is left: none, so it is handed the name only.
    int qt_argc = 1;
    qt_platform platform(qt_argc, argv, line.shows_with);
    return hrd::run_application(platform, line.what == hrd::command_line::kind::hidden);
}
