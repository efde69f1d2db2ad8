#include "shell/platform/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QMimeData>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "fml/log.h"
#include "shell/errors.h"
#include "shell/platform/qt/drop_text.h"
#include "shell/platform/qt/window_reader.h"
#include "shell/platform/qt/native_view.h"
#include "shell/platform/qt/page_bridge.h"
#include "shell/platform/qt/program_icon.h"
#include "shell/platform/qt/web_module_loader.h"
#include "shell/resource_mgr.h"

namespace hrd::qt {

// What the document asks of the program: style sheets from the resources, posted
// events run from the loop, and behaviors from whoever binds them.
class document_host final : public layout::host {
public:
    void attach_behavior(layout::handle element, std::string_view name) override {
        if (m_behaviors) {
            m_behaviors->attach_behavior(element, name);
        }
    }
    void create_control(layout::handle element) override {
        if (m_behaviors) {
            m_behaviors->create_control(element);
        }
    }
    std::optional<std::string> load_resource(std::string_view uri) override {
        const std::u16string name =
            QString::fromUtf8(uri.data(), qsizetype(uri.size())).toStdU16String();
        if (!ResourceMgr::exists() || !ResourceMgr::instance().has(name)) {
            return std::nullopt;
        }
        const std::vector<char>& bytes = ResourceMgr::instance().get(name);
        return std::string(bytes.begin(), bytes.end());
    }
    void posted_events_pending() override {
        if (m_bridge) {
            m_bridge->schedule_pending();
        }
        if (m_native) {
            m_native->schedule_pending();
        }
    }

    layout::host* m_behaviors = nullptr;
    page_bridge* m_bridge = nullptr;
    native_view* m_native = nullptr;
};

class window_widget final : public QWidget {
public:
    // `content` shows the document: the web view, or the native view.
    explicit window_widget(QWidget* content) : view(content) {
        setWindowTitle("Hoardly");
        setWindowIcon(program_icon());
        resize(960, 680);
        setMinimumSize(420, 300);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        view->setParent(this);
        view->setContextMenuPolicy(Qt::NoContextMenu);
        layout->addWidget(view);
        // Drags from other programs are caught before they reach the web view,
        // whichever inner widget or native child window it happens to use, so a
        // drop never gets to the page.
        setAcceptDrops(true);
        qApp->installEventFilter(this);
    }

    QWidget* view = nullptr;
    std::function<void()> on_close;  // set: closing hides (or quits) through it
    std::function<void()> on_minimise;
    std::function<void(std::u16string)> on_drop;
    drag_offer m_drag;  // the drag from another program crossing the window now

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();  // never destroyed by the window system
        if (on_close) {
            on_close();
        }
    }
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange && isMinimized() && on_minimise) {
            // Hiding inside the state change confuses some window managers: later.
            QTimer::singleShot(0, this, [this] { on_minimise(); });
        }
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        const bool drag = type == QEvent::DragEnter || type == QEvent::DragMove ||
                          type == QEvent::DragLeave || type == QEvent::Drop;
        if (!drag || !is_ours(watched)) {
            return QWidget::eventFilter(watched, event);
        }
        switch (type) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (type == QEvent::DragEnter) {
                    if (!m_drag.enter(drag->mimeData(), bool(on_drop))) {
                        fml::getlog("app") << "A drag without text is refused" << std::endl;
                    }
                }
                if (m_drag.taken()) {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::DragLeave:
                return true;
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                std::optional<std::u16string> text = m_drag.drop();
                if (text && on_drop) {
                    drop->setDropAction(Qt::CopyAction);
                    drop->accept();
                    on_drop(std::move(*text));
                } else {
                    drop->setDropAction(Qt::IgnoreAction);
                    drop->ignore();  // the other program learns that nothing was taken
                }
                return true;
            }
            default:
                return false;
        }
    }

private:
    bool is_ours(QObject* target) const {
        if (target->isWidgetType()) {
            return static_cast<QWidget*>(target)->window() == this;
        }
        for (auto* window = qobject_cast<QWindow*>(target); window; window = window->parent()) {
            if (window == windowHandle()) {
                return true;
            }
        }
        return false;
    }
};

qt_main_window::qt_main_window(guard_function guard, layout::host* behaviors,
                               renderer shows_with)
    : m_guard(std::move(guard)), m_host(std::make_unique<document_host>()) {
    m_host->m_behaviors = behaviors;
    const std::vector<char>& markup = ResourceMgr::instance().get(u"mainform.htm");
    m_document.set_host(m_host.get());
    m_document.load_html(std::string_view(markup.data(), markup.size()));
    if (!m_document.root()) {
        throw load_hrd_resource_error("The main document has no elements: mainform.htm");
    }

    if (shows_with == renderer::native) {
        std::string sheets;
        for (const char16_t* name : {u"mainform.css", u"native.css"}) {
            const std::vector<char>& bytes = ResourceMgr::instance().get(name);
            sheets.append(bytes.begin(), bytes.end());
            sheets += '\n';
        }
        m_native = new native_view(m_document, m_guard, std::move(sheets));
        m_host->m_native = m_native;
        m_widget = std::make_unique<window_widget>(m_native);
        if (const QString socket = qEnvironmentVariable("HOARDLY_TEST_SOCKET"); !socket.isEmpty()) {
            read_view view;
            // In the X server's pixels, where a test's pointer goes: Qt's own screen
            // coordinates are divided by the scale (QT_SCALE_FACTOR, a HiDPI screen).
            view.box = [this](std::uint32_t serial) -> std::optional<QRect> {
                const auto box = m_native->box_on_screen(serial);
                if (!box) {
                    return std::nullopt;
                }
                const qreal scale = m_native->devicePixelRatioF();
                return QRectF(QPointF(box->topLeft()) * scale, QSizeF(box->size()) * scale)
                    .toRect();
            };
            view.element_at = [this](QPoint at) {
                const QPoint local = m_native->mapFromGlobal(QPointF(at) / m_native->devicePixelRatioF())
                                         .toPoint();
                return m_native->element_at(local.x(), local.y());
            };
            view.ring = [this](std::uint32_t serial) { return m_native->draws_ring(serial); };
            view.when_settled = [this](std::function<void()> then) {
                m_native->when_settled(std::move(then));
            };
            view.quotes_shown = [this] { return m_native->quotes_shown(); };
            view.save_picture = [this](const QString& path) { return m_native->save_picture(path); };
            view.cursor = [this]() -> std::string {
                switch (m_native->cursor().shape()) {
                    case Qt::PointingHandCursor: return "pointer";
                    case Qt::IBeamCursor: return "text";
                    case Qt::SplitHCursor: return "col-resize";
                    case Qt::OpenHandCursor: return "grab";
                    case Qt::ClosedHandCursor: return "grabbing";
                    case Qt::DragCopyCursor: return "copy";
                    default: return "default";
                }
            };
            m_native->keep_paint_records();
            view.paints = [this] {
                std::string out = "[";
                for (const native_view::paint_record& paint : m_native->paint_records()) {
                    char entry[96];
                    std::snprintf(entry, sizeof entry, "%s[%llu,%zu,%.3f]", out.size() > 1 ? "," : "",
                                  static_cast<unsigned long long>(paint.layout), paint.quotes,
                                  paint.done_ms);
                    out += entry;
                }
                return out + "]";
            };
            m_reader =
                std::make_unique<window_reader>(m_document, std::move(view), socket, m_guard);
            fml::app_line("Test reading channel open");
        }
        return;
    }
    const web_module* module = loaded_web_module();
    if (!module) {
        throw load_hrd_resource_error(std::string("The web renderer is not loaded: ") +
                                      web_module_file);
    }
    m_bridge = std::make_unique<page_bridge>(m_document, m_guard);
    m_host->m_bridge = m_bridge.get();
    web_page_needs needs;
    needs.bridge = m_bridge.get();
    // Never through instance() alone: a late request must not bring the resources
    // back to life during shutdown.
    needs.file = [](const QString& name) -> std::optional<QByteArray> {
        const std::u16string key = name.toStdU16String();
        if (!ResourceMgr::exists() || !ResourceMgr::instance().has(key)) {
            return std::nullopt;
        }
        const std::vector<char>& bytes = ResourceMgr::instance().get(key);
        return QByteArray(bytes.data(), qsizetype(bytes.size()));
    };
    needs.load_failed = [this] {
        m_guard([] {
            throw load_hrd_resource_error("The window's page cannot be loaded: " +
                                          std::string(renderer_url));
        });
    };
    needs.page_ended = [this](int code) {
        m_guard([this, code] {
            fml::getlog("app") << "The window's page ended (code " << code << "); loading it again"
                               << std::endl;
            m_bridge->page_lost();
            m_web->load();
        });
    };
    m_web = module->create(std::move(needs));
    m_widget = std::make_unique<window_widget>(m_web->widget());
    m_web->load();
    // For comparing the two renderers (native_view.h writes native.png): the web
    // page's picture, taken now and then, as the page draws when it likes.
    if (const QString probe = qEnvironmentVariable("HOARDLY_PROBE"); !probe.isEmpty()) {
        auto* timer = new QTimer(m_widget.get());
        QObject::connect(timer, &QTimer::timeout, m_widget.get(), [this, probe] {
            if (!m_widget->isVisible()) {
                return;
            }
            QDir().mkpath(probe);
            QSaveFile picture(probe + "/web.png");
            if (picture.open(QIODevice::WriteOnly)) {
                m_widget->grab().save(&picture, "PNG");
                picture.commit();
            }
        });
        timer->start(500);
    }
}

qt_main_window::~qt_main_window() {
    m_host->m_bridge = nullptr;
    m_host->m_native = nullptr;
    m_host->m_behaviors = nullptr;
    if (m_native) {
        m_reader.reset();
        m_widget.reset();  // the view stops observing the document
        m_document.set_host(nullptr);
        return;
    }
    // The view with its page before the window, then the bridge the page used.
    m_widget->view = nullptr;
    m_web.reset();
    m_widget.reset();
    m_bridge.reset();
    m_document.set_host(nullptr);
}

QWidget* qt_main_window::widget() const {
    return m_widget.get();
}

void qt_main_window::show() {
    if (m_widget->isMinimized()) {
        m_widget->setWindowState(m_widget->windowState() & ~Qt::WindowMinimized);
    }
    m_widget->show();
    m_widget->raise();
    m_widget->activateWindow();
    m_widget->view->setFocus();  // keys go to the document at once
    m_shown = true;
}

void qt_main_window::hide() {
    m_widget->hide();
    m_shown = false;
}

void qt_main_window::set_close_action(std::function<void()> on_close, bool minimise_hides) {
    m_widget->on_close = [this, on_close] { m_guard(on_close); };
    if (minimise_hides) {
        m_widget->on_minimise = [this] { m_guard([this] { hide(); }); };
    } else {
        m_widget->on_minimise = nullptr;
    }
}

void qt_main_window::set_drop_action(std::function<void(std::u16string)> on_text) {
    if (!on_text) {
        m_widget->on_drop = nullptr;
        return;
    }
    m_widget->on_drop = [this, on_text](std::u16string text) {
        m_guard([&] { on_text(std::move(text)); });
    };
}

}  // namespace hrd::qt
