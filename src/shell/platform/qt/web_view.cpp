// The web renderer's module (web_module.h): the view, its page and profile, the
// channel that publishes the bridge to the page, and our URL scheme.

#include <QPointer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "shell/platform/qt/resource_scheme.h"
#include "shell/platform/qt/web_module.h"

namespace hrd::qt {
namespace {

// Only the renderer page itself is ever loaded: links and scripts cannot take the
// view anywhere else.
class renderer_page final : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool is_main_frame) override {
        return is_main_frame && url == QUrl(renderer_url);
    }
};

class engine_view final : public web_view {
public:
    explicit engine_view(web_page_needs needs)
        : m_needs(std::move(needs)),
          m_view(new QWebEngineView()),
          m_profile(std::make_unique<QWebEngineProfile>()),
          m_scheme(std::make_unique<resource_scheme_handler>(m_needs.file)),
          m_interceptor(std::make_unique<offline_interceptor>()) {
        m_profile->installUrlSchemeHandler(resource_scheme, m_scheme.get());
        m_profile->setUrlRequestInterceptor(m_interceptor.get());
        m_page = std::make_unique<renderer_page>(m_profile.get());
        QWebEngineSettings* settings = m_page->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
        settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, true);

        m_channel = std::make_unique<QWebChannel>();
        m_channel->registerObject("hoardly", m_needs.bridge);
        m_page->setWebChannel(m_channel.get());

        QObject::connect(m_page.get(), &QWebEnginePage::loadFinished, m_view.data(),
                         [this](bool ok) {
                             if (!ok) {
                                 m_needs.load_failed();
                             }
                         });
        QObject::connect(m_page.get(), &QWebEnginePage::renderProcessTerminated, m_view.data(),
                         [this](QWebEnginePage::RenderProcessTerminationStatus, int code) {
                             m_needs.page_ended(code);
                         });
        m_view->setPage(m_page.get());
    }

    ~engine_view() override {
        // The page before its profile, the view's widget first of all.
        if (m_view) {
            m_view->setPage(nullptr);
            delete m_view.data();
        }
        m_page.reset();
        m_channel.reset();
        m_profile.reset();
    }

    QWidget* widget() override { return m_view.data(); }
    void load() override { m_page->load(QUrl(renderer_url)); }

private:
    web_page_needs m_needs;
    QPointer<QWebEngineView> m_view;  // its parent is the window's widget
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<resource_scheme_handler> m_scheme;
    std::unique_ptr<offline_interceptor> m_interceptor;
    std::unique_ptr<QWebEnginePage> m_page;
    std::unique_ptr<QWebChannel> m_channel;
};

std::unique_ptr<web_view> create(web_page_needs needs) {
    return std::make_unique<engine_view>(std::move(needs));
}

const web_module module{web_module_version, &register_resource_scheme, &create};

}  // namespace
}  // namespace hrd::qt

extern "C" const hrd::qt::web_module* hoardly_web_module() {
    return &hrd::qt::module;
}
