#include "shell/platform/qt/resource_scheme.h"

#include <QBuffer>
#include <QFile>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace hrd::qt {
namespace {

QByteArray content_type(const QString& name) {
    const QString suffix = name.section('.', -1).toLower();
    if (suffix == "html" || suffix == "htm") {
        return "text/html";
    }
    if (suffix == "js") {
        return "text/javascript";
    }
    if (suffix == "css") {
        return "text/css";
    }
    if (suffix == "svg") {
        return "image/svg+xml";
    }
    if (suffix == "png") {
        return "image/png";
    }
    if (suffix == "gif") {
        return "image/gif";
    }
    if (suffix == "jpg" || suffix == "jpeg") {
        return "image/jpeg";
    }
    return "application/octet-stream";
}

}  // namespace

void register_resource_scheme() {
    QWebEngineUrlScheme scheme(resource_scheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void resource_scheme_handler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    if (job->requestMethod() != "GET" || url.host() != "app") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    // res/ is flat: the path is one bare file name.
    const QString name = url.path().mid(1);
    QByteArray content;
    if (name == "qwebchannel.js") {
        QFile file(":/qtwebchannel/qwebchannel.js");
        if (!file.open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        content = file.readAll();
    } else {
        std::optional<QByteArray> file;
        if (!name.isEmpty() && !name.contains('/')) {
            file = m_file(name);
        }
        if (!file) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        content = std::move(*file);
    }
    auto* buffer = new QBuffer(job);  // the job owns it and deletes it when done
    buffer->setData(content);
    buffer->open(QIODevice::ReadOnly);
    job->reply(content_type(name), buffer);
}

void offline_interceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const QString scheme = info.requestUrl().scheme();
    if (scheme != resource_scheme && scheme != "data" && scheme != "blob") {
        info.block(true);
    }
}

}  // namespace hrd::qt
