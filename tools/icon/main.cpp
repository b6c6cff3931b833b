// verticora-icon SVG SIZE OUT.png [SIZE OUT.png ...]: renders the application's scalable
// icon at fixed pixel sizes, for the icon theme's bitmap folders and the window icon.

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 3 || arguments.size() % 2 == 0) {
        std::fputs("usage: verticora-icon SVG SIZE OUT.png [SIZE OUT.png ...]\n", stderr);
        return 2;
    }
    QSvgRenderer svg(arguments[0]);
    if (!svg.isValid()) {
        std::fprintf(stderr, "verticora-icon: cannot read %s\n", qPrintable(arguments[0]));
        return 1;
    }
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        bool number = false;
        const int size = arguments[i].toInt(&number);
        if (!number || size < 1 || size > 1024) {
            std::fprintf(stderr, "verticora-icon: %s is not a size in pixels\n", qPrintable(arguments[i]));
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        if (!image.save(arguments[i + 1], "PNG")) {
            std::fprintf(stderr, "verticora-icon: cannot write %s\n", qPrintable(arguments[i + 1]));
            return 1;
        }
    }
    return 0;
}
