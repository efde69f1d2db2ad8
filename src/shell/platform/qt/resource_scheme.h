#pragma once
// The page's only source of files: the "hoardly" URL scheme, answered from the
// resources read at start-up. Every other request the page makes is blocked.

#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>

namespace hrd::qt {

inline constexpr const char* resource_scheme = "hoardly";
// The address of the renderer page; its files sit beside it.
inline constexpr const char* renderer_url = "hoardly://app/renderer.html";

// Declares the scheme to Qt WebEngine. Must run before the QApplication exists.
void register_resource_scheme();

// Serves hoardly://app/<name> from ResourceMgr, and qwebchannel.js from Qt's own
// resources. Unknown names fail with "not found"; nothing is read from disk.
class resource_scheme_handler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override;
};

// Refuses every request that does not go to our own scheme, so neither the
// document nor anything shown in it can reach the network.
class offline_interceptor final : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;
};

}  // namespace hrd::qt
