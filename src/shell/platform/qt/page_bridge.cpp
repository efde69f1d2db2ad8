#include "shell/platform/qt/page_bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>

#include "layout/dom.h"

namespace hrd::qt {
namespace {

int at(const QJsonArray& values, int index) {
    return values.at(index).toInt();
}

}  // namespace

page_bridge::page_bridge(layout::document& document, guard_function guard, QObject* parent)
    : QObject(parent), m_document(document), m_guard(std::move(guard)), m_encoder(document), m_pump(document, m_guard) {
    m_document.set_observer(this);
}

page_bridge::~page_bridge() {
    m_document.set_observer(nullptr);
}

void page_bridge::page_lost() {
    m_page_ready = false;
    m_batch.clear();
}

void page_bridge::page_ready() {
    m_guard([this] {
        // Whatever was sent before is void: the page starts from the tree as it is.
        m_batch.clear();
        m_encoder.encode_snapshot(m_batch);
        m_page_ready = true;
        flush();
    });
}

void page_bridge::on_patch(const layout::patch& change) {
    if (!m_page_ready) {
        return;  // the snapshot taken when the page connects will include it
    }
    m_encoder.encode(change, m_batch);
    schedule_flush();
}

void page_bridge::schedule_flush() {
    if (m_flush_pending) {
        return;
    }
    m_flush_pending = true;
    // Changes of one turn of the loop travel together.
    QTimer::singleShot(0, this, [this] { m_guard([this] { flush(); }); });
}

void page_bridge::flush() {
    m_flush_pending = false;
    std::string batch = m_encoder.finish(std::exchange(m_batch, {}));
    if (!batch.empty()) {
        ++m_batches;
        emit patches(QString::fromUtf8(batch.data(), qsizetype(batch.size())));
    }
}

void page_bridge::apply_facts(const QString& facts) {
    if (facts.isEmpty()) {
        return;
    }
    const QJsonObject all = QJsonDocument::fromJson(facts.toUtf8()).object();
    for (const QJsonValue& entry : all.value("boxes").toArray()) {
        const QJsonArray box = entry.toArray();
        if (box.size() == 5) {
            layout::set_location(m_document.element_by_serial(std::uint32_t(at(box, 0))),
                                 {at(box, 1), at(box, 2), at(box, 3), at(box, 4)});
        }
    }
    for (const QJsonValue& entry : all.value("scroll").toArray()) {
        const QJsonArray info = entry.toArray();
        if (info.size() == 7) {
            const int x = at(info, 1);
            const int y = at(info, 2);
            layout::scroll_info scroll{.pos = {x, y},
                                       .view = {x, y, x + at(info, 3), y + at(info, 4)},
                                       .content_size = {at(info, 5), at(info, 6)}};
            layout::set_scroll_info(m_document.element_by_serial(std::uint32_t(at(info, 0))),
                                    scroll);
        }
    }
}

void page_bridge::mouse(int serial, int cmd, int x, int y, int buttons, int keys,
                        const QString& facts) {
    m_guard([&] {
        apply_facts(facts);
        // An unknown serial (an element removed meanwhile) goes to the root.
        m_document.mouse_input(m_document.element_by_serial(std::uint32_t(serial)),
                               std::uint32_t(cmd), {x, y}, std::uint32_t(buttons),
                               std::uint32_t(keys));
        m_pump.schedule_timer();
    });
}

void page_bridge::key(int cmd, int code, int keys) {
    m_guard([&] {
        m_document.key_input(std::uint32_t(cmd), std::uint32_t(code), std::uint32_t(keys));
        m_pump.schedule_timer();
    });
}

void page_bridge::text(int serial, const QString& value) {
    m_guard([&] {
        m_document.text_input(m_document.element_by_serial(std::uint32_t(serial)),
                              value.toStdU16String());
        m_pump.schedule_timer();
    });
}

void page_bridge::window(int list, int first, int count) {
    m_guard([&] {
        if (!m_page_ready || first < 0 || count <= 0) {
            return;
        }
        m_encoder.request_window(std::uint32_t(list), std::uint32_t(first), std::uint32_t(count));
        schedule_flush();
    });
}

void page_bridge::facts(const QString& facts) {
    m_guard([&] { apply_facts(facts); });
}

}  // namespace hrd::qt
