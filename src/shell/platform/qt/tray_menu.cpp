#include "shell/platform/qt/tray_menu.h"

#include <QAction>

#include "shell/autostart.h"

namespace hrd::qt {

std::unique_ptr<QMenu> make_tray_menu(tray_menu_actions actions) {
    auto menu = std::make_unique<QMenu>();
    auto shared = std::make_shared<tray_menu_actions>(std::move(actions));
    auto run = [shared](std::function<void()> action) {
        return [shared, action = std::move(action)] {
            if (shared->guard) {
                shared->guard(action);
            } else {
                action();
            }
        };
    };
    QObject::connect(menu->addAction("Show Hoardly"), &QAction::triggered, run(shared->show));
    QAction* login = menu->addAction("Start at login");
    login->setCheckable(true);
    login->setChecked(starts_at_login());
    // The tick follows the file: it is set again from it after every change, so a
    // change that failed never shows as done.
    QObject::connect(login, &QAction::triggered, [shared, login, run](bool wanted) {
        run([shared, login, wanted] {
            try {
                set_start_at_login(wanted, shared->program);
            } catch (const std::exception& e) {
                if (shared->warn) {
                    shared->warn(e.what());
                }
            }
            login->setChecked(starts_at_login());
        })();
    });
    // The menu's items may be read again whenever it opens: the entry may have been
    // removed by the desktop's own settings meanwhile.
    QObject::connect(menu.get(), &QMenu::aboutToShow,
                     [login] { login->setChecked(starts_at_login()); });
    QObject::connect(menu->addAction("Help"), &QAction::triggered, run(shared->help));
    QObject::connect(menu->addAction("Exit Hoardly"), &QAction::triggered, run(shared->exit));
    return menu;
}

}  // namespace hrd::qt
