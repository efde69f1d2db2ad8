#pragma once
// The link between the document and the page that shows it, published to the page
// over QWebChannel as "hoardly". Changes of the tree go out as batches of JSON
// records (page_mirror.h); input comes back into the document as the engine's own
// events, with the element boxes and scroll facts the behaviors measure.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include "layout/document.h"
#include "shell/platform/qt/document_pump.h"
#include "layout/patch.h"
#include "layout/page_mirror.h"

namespace hrd::qt {

class page_bridge final : public QObject, public layout::patch_observer {
    Q_OBJECT
public:
    // `guard` runs each call from the page so that no exception unwinds into Qt.
    using guard_function = std::function<void(const std::function<void()>&)>;

    page_bridge(layout::document& document, guard_function guard, QObject* parent = nullptr);
    ~page_bridge() override;

    // The page went away (reload, crash): nothing is sent until it is ready again.
    void page_lost();
    // Runs the document's posted events and due timers soon, from the loop, and
    // sends what they changed. For events posted while no input was handled.
    void schedule_pending() { m_pump.schedule_pending(); }
    // How many batches and records went out; for tests and the log.
    std::uint64_t batches_sent() const { return m_batches; }

signals:
    // A JSON array of records for the page to apply in order.
    void patches(const QString& batch);

public slots:
    // The page has connected: it gets the whole tree, then every change.
    void page_ready();
    // `facts`: JSON {"boxes":[[serial,left,top,right,bottom]...],
    //                "scroll":[[serial,x,y,view_width,view_height,width,height]...]}.
    void mouse(int serial, int cmd, int x, int y, int buttons, int keys, const QString& facts);
    // A key as the engine knows it: key_event code, Windows virtual-key number (or a
    // UTF-16 unit for characters), key_state bits.
    void key(int cmd, int code, int keys);
    // Text the user put into an element in place (a paste into an edited cell).
    void text(int serial, const QString& value);
    // The page shows rows [first, first + count) of the windowed list `list` (a
    // serial) and wants those rows there.
    void window(int list, int first, int count);
    // Boxes and scroll facts without input (after a resize or a scroll).
    void facts(const QString& facts);

private:
    void on_patch(const layout::patch& change) override;
    bool wants_markup() const override { return false; }  // the encoder reads the tree
    void apply_facts(const QString& facts);
    void schedule_flush();
    void flush();

    layout::document& m_document;
    guard_function m_guard;
    layout::page_mirror_encoder m_encoder;
    std::string m_batch;
    bool m_page_ready = false;
    bool m_flush_pending = false;
    document_pump m_pump;
    std::uint64_t m_batches = 0;
};

}  // namespace hrd::qt
