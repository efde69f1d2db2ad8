#pragma once
// The page's only source of files: the "hoardly" URL scheme, answered from the
// resources read at start-up. Every other request the page makes is blocked.
// Part of the web renderer's module (web_module.h).

#include <QByteArray>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>
#include <functional>
#include <optional>

#include "shell/platform/qt/web_module.h"

namespace hrd::qt {

// Declares the scheme to Qt WebEngine. Must run before the QApplication exists.
void register_resource_scheme();

// Serves hoardly://app/<name> through `file` (from the resources), and
// qwebchannel.js from Qt's own resources. Unknown names fail with "not found";
// nothing is read from disk.
class resource_scheme_handler final : public QWebEngineUrlSchemeHandler {
public:
    using file_function = std::function<std::optional<QByteArray>(const QString& name)>;
    explicit resource_scheme_handler(file_function file) : m_file(std::move(file)) {}
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    file_function m_file;
};

// Refuses every request that does not go to our own scheme, so neither the
// document nor anything shown in it can reach the network.
class offline_interceptor final : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;
};

}  // namespace hrd::qt
