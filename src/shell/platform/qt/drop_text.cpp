#include "shell/platform/qt/drop_text.h"

#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace hrd::qt {
namespace {

constexpr const char* utf16_format = "text/plain;charset=utf-16";

std::u16string decode_utf16(const QByteArray& bytes) {
    std::u16string text;
    text.reserve(std::size_t(bytes.size() / 2));
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        // Host order (little-endian here), as the X11 and Qt UTF-16 targets send it.
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = static_cast<unsigned char>(bytes[i + 1]);
        text.push_back(char16_t(low | (high << 8)));
    }
    if (!text.empty() && text.front() == u'\uFEFF') {
        text.erase(0, 1);
    }
    return text;
}

void drop_terminator(std::u16string& text) {
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
}

bool carries_files(const QMimeData& data) {
    const QList<QUrl> urls = data.urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

}  // namespace

std::optional<std::u16string> dropped_text(const QMimeData& data) {
    if (carries_files(data)) {
        return std::nullopt;
    }
    std::u16string text;
    if (data.hasFormat(utf16_format)) {
        text = decode_utf16(data.data(utf16_format));
    } else if (data.hasText()) {
        text = data.text().toStdU16String();
    } else {
        return std::nullopt;
    }
    drop_terminator(text);
    if (text.empty()) {
        return std::nullopt;  // nothing to keep
    }
    return text;
}

bool drag_offer::enter(const QMimeData* data, bool taking) {
    m_text = taking && data ? dropped_text(*data) : std::nullopt;
    return m_text.has_value();
}

std::optional<std::u16string> drag_offer::drop() {
    return std::exchange(m_text, std::nullopt);
}

}  // namespace hrd::qt
