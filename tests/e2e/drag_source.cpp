// Another program to drag from, for the end-to-end tests: a small window that
// starts a drag when pressed, offering text (UTF-16 and plain) or, with --files,
// a file, and prints what the drop target did with it ("copy" or "ignore").

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

class drag_source final : public QWidget {
public:
    drag_source(QString text, bool files) : m_text(std::move(text)), m_files(files) {
        setWindowTitle("e2e-drag-source");
        setGeometry(1000, 300, 200, 100);
    }

protected:
    void showEvent(QShowEvent*) override {
        std::printf("ready\n");
        std::fflush(stdout);
    }
    void mousePressEvent(QMouseEvent*) override {
        auto* data = new QMimeData;
        if (m_files) {
            data->setUrls({QUrl::fromLocalFile("/etc/hostname")});
        } else {
            data->setText(m_text);
        }
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction result = drag->exec(Qt::CopyAction);
        std::printf("result %s\n", result == Qt::CopyAction ? "copy" : "ignore");
        std::fflush(stdout);
    }

private:
    QString m_text;
    bool m_files;
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
