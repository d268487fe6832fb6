// Renders the program's SVG icon to the PNG sizes of the icon theme:
//   render_icon <icon.svg> <output folder> <size>...
// writes <output folder>/<size>/<name of the SVG>.png for each size.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: render_icon <icon.svg> <output folder> <size>...\n", stderr);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "render_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString name = QFileInfo(QString::fromLocal8Bit(argv[1])).completeBaseName() + ".png";
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size <= 0) return 2;
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString dir = QString::fromLocal8Bit(argv[2]) + "/" + QString::number(size);
        if (!QDir().mkpath(dir) || !image.save(dir + "/" + name, "PNG")) {
            std::fprintf(stderr, "render_icon: cannot write %s/%s\n", qPrintable(dir),
                         qPrintable(name));
            return 1;
        }
    }
    return 0;
}
