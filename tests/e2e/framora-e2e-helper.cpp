// SPDX-License-Identifier: GPL-3.0-or-later
// What the end-to-end script needs beyond xdotool: a picture of the whole X screen, and how far
// two pictures are apart.
//   framora-e2e-helper shot OUT.png      saves the screen of $DISPLAY (exit 0, or 1)
//   framora-e2e-helper diff A B          prints the mean absolute difference of the colour
//                                        channels (0..255); exit 2 when the sizes differ or a
//                                        picture cannot be read
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: framora-e2e-helper shot OUT.png | diff A B\n");
    return 2;
}

int Shot(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->grabWindow(0).save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}

int Diff(const char* first, const char* second)
{
    const QImage a = QImage(QString::fromLocal8Bit(first)).convertToFormat(QImage::Format_RGB888);
    const QImage b = QImage(QString::fromLocal8Bit(second)).convertToFormat(QImage::Format_RGB888);
    if (a.isNull() || b.isNull() || a.size() != b.size()) {
        std::fprintf(stderr, "cannot compare %s and %s\n", first, second);
        return 2;
    }
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* rowA = a.constScanLine(y);
        const uchar* rowB = b.constScanLine(y);
        for (int x = 0; x < a.width() * 3; ++x)
            total += std::abs(int(rowA[x]) - int(rowB[x]));
    }
    std::printf("%.2f\n", total / (double(a.width()) * a.height() * 3));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "shot") == 0)
        return Shot(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "diff") == 0)
        return Diff(argv[2], argv[3]);
    return Usage();
}
