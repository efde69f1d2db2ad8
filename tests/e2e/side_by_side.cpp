// Puts two pictures of the window side by side in one PNG, each under a label, so
// that the two renderers' windows can be looked at together.
//
// Usage: e2e_side_by_side <left.png> <left label> <right.png> <right label> <out.png>
// Exit code 0: written; 1: a picture could not be read or the result not written.

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr int label_height = 28;
constexpr int gap = 12;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s left.png left-label right.png right-label out.png\n", argv[0]);
        return 1;
    }
    // Text needs the fonts a GUI application loads, but no screen: the test may run
    // where the display is another program's private X server.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QImage left(QString::fromLocal8Bit(argv[1]));
    const QImage right(QString::fromLocal8Bit(argv[3]));
    for (const auto& [image, name] : {std::pair{&left, argv[1]}, std::pair{&right, argv[3]}}) {
        if (image->isNull()) {
            std::fprintf(stderr, "cannot read the picture %s\n", name);
            return 1;
        }
    }
    const int width = left.width() + gap + right.width();
    const int height = label_height + std::max(left.height(), right.height());
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(QColor(0x80, 0x80, 0x80));
    {
        QPainter painter(&out);
        QFont font = painter.font();
        font.setPixelSize(16);
        font.setBold(true);
        painter.setFont(font);
        const auto place = [&](const QImage& image, const char* label, int x) {
            painter.fillRect(x, 0, image.width(), label_height, Qt::white);
            painter.setPen(Qt::black);
            painter.drawText(x + 8, 0, image.width() - 16, label_height, Qt::AlignVCenter | Qt::AlignLeft,
                             QString::fromLocal8Bit(label));
            painter.drawImage(x, label_height, image);
        };
        place(left, argv[2], 0);
        place(right, argv[4], left.width() + gap);
    }
    if (!out.save(QString::fromLocal8Bit(argv[5]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
