// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the application's picture (an SVG) as square PNG icons for the desktop's icon theme.
//   framora-icons SVG OUTDIR SIZE...   writes OUTDIR/SIZE.png for each size (exit 0, or 1)
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: framora-icons SVG OUTDIR SIZE...\n");
        return 2;
    }
    // Rendering needs no display; the offscreen platform keeps the build from looking for one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid())
        return 1;
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0)
            return 1;
        QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        renderer.render(&painter);
        painter.end();
        if (!icon.save(QStringLiteral("%1/%2.png").arg(QString::fromLocal8Bit(argv[2])).arg(size)))
            return 1;
    }
    return 0;
}
