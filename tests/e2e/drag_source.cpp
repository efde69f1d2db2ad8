// Another program to drag from, for the end-to-end tests: a small window that
// starts a drag when pressed, offering text (UTF-16 and plain) or, with --files,
// a file. It prints what happens, one line each, for the test to wait on:
// "ready" once its window is on screen, "drag" as the drag starts, "action copy"
// or "action ignore" as the window under the pointer takes or refuses it, "asked
// <format>" whenever a program reads its data, and "result copy" or "result
// ignore" as the drag ends (what the last window under the pointer answered).

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

void say(const QByteArray& line) {
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

class told_mime_data final : public QMimeData {
protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        say("asked " + format.toUtf8());
        return QMimeData::retrieveData(format, type);
    }
};

class drag_source final : public QWidget {
public:
    drag_source(QString text, bool files) : m_text(std::move(text)), m_files(files) {
        setWindowTitle("e2e-drag-source");
        setGeometry(1000, 300, 200, 100);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        // Painted: the window is mapped, and a press on it reaches it.
        if (!m_painted) {
            m_painted = true;
            say("ready");
        }
    }
    void mousePressEvent(QMouseEvent*) override {
        auto* data = new told_mime_data;
        if (m_files) {
            data->setUrls({QUrl::fromLocalFile("/etc/hostname")});
        } else {
            data->setText(m_text);
        }
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        QObject::connect(drag, &QDrag::actionChanged, [](Qt::DropAction action) {
            say(action == Qt::CopyAction ? "action copy" : "action ignore");
        });
        say("drag");
        const Qt::DropAction result = drag->exec(Qt::CopyAction);
        say(result == Qt::CopyAction ? "result copy" : "result ignore");
    }

private:
    QString m_text;
    bool m_files;
    bool m_painted = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool files = argc > 1 && QString(argv[1]) == "--files";
    drag_source window(files ? QString() : QString::fromUtf8(argc > 1 ? argv[1] : "dropped text"),
                       files);
    window.show();
    return app.exec();
}
