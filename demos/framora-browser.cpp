// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the scene browser over a pack of generated pictures and saves a PNG of it, so that the
// thumbnails, frames, captions and the selection can be looked at without a movie.
#include "browser/FImageBrowser.h"
#include "framework/TBitmap.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr const char* kUsage =
    "Shows the scene browser over N generated pictures and saves a PNG of the window.\n"
    "Pictures vary in size and colour; every fifth one fails to load and shows the error picture.\n"
    "Exit code 0 when the PNG was written, 1 when not, 2 for bad arguments.";
constexpr int kHostLeft = 8; // the browser sits in a panel this far in, as in the capture window
constexpr int kLoaderQuietMs = 400;
constexpr int kLoaderDeadlineMs = 10000;

const QSize kSizes[] = {{720, 480}, {320, 240}, {1920, 1080}, {300, 600}, {64, 48}, {1280, 720}, {480, 480}};

// Picture no: a diagonal gradient in a colour of its own with its number written large.
void MakePicture(TPictureEx& picture, std::int32_t no)
{
    if (no % 5 == 4)
        throw std::runtime_error("this picture refuses to load");
    const QSize size = kSizes[no % std::size(kSizes)];
    TBitmap& bitmap = picture.Bitmap();
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(size.width(), size.height());
    QPainter painter(&bitmap.Image());
    const QColor colour = QColor::fromHsv((no * 47) % 360, 160, 220);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, colour.lighter(130));
    gradient.setColorAt(1, colour.darker(160));
    painter.fillRect(QRect(QPoint(0, 0), size), gradient);
    QFont font = painter.font();
    font.setPixelSize(size.height() / 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, QString::number(no + 1));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kUsage));
    parser.addHelpOption();
    parser.addPositionalArgument("OUT.png", "where the picture of the window goes");
    parser.addOptions({
        {"count", "number of pictures (default 12)", "N", "12"},
        {"loader", "on: thumbnails come through the background loader; off: made at once (default)", "on|off", "off"},
        {"select", "image index to select, -1 for none (default 1)", "I", "1"},
        {"size", "thumbnail size (default 100)", "S", "100"},
        {"width", "window width (default 529)", "W", "529"},
        {"height", "window height (default 399)", "H", "399"},
    });
    parser.process(app);
    bool countOk = false, selectOk = false, sizeOk = false, widthOk = false, heightOk = false;
    const int count = parser.value("count").toInt(&countOk);
    const int select = parser.value("select").toInt(&selectOk);
    const int size = parser.value("size").toInt(&sizeOk);
    const int width = parser.value("width").toInt(&widthOk);
    const int height = parser.value("height").toInt(&heightOk);
    const QString loader = parser.value("loader");
    if (parser.positionalArguments().size() != 1 || !countOk || count < 0 || !selectOk || !sizeOk || size < 16 ||
        !widthOk || !heightOk || width <= 2 * kHostLeft || height <= 2 * kHostLeft ||
        (loader != "on" && loader != "off")) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.helpText()));
        return 2;
    }

    TCustomImagePack source;
    source.SetCacheLimit(static_cast<TCIPCacheLimit>(std::min(count + 1, 65535)));
    source.OnGetCount = [count](TObject*, std::int32_t& n) { n = count; };
    source.OnGetImage = [](TObject*, TPictureEx& picture, std::int32_t no) { MakePicture(picture, no); };

    QWidget window;
    window.setWindowTitle("framora-browser");
    window.resize(width, height);
    QWidget panel(&window);
    panel.setGeometry(kHostLeft, kHostLeft, width - 2 * kHostLeft, height - 2 * kHostLeft);
    auto* browser = new TfrmImageBrowser(&panel);
    browser->setWindowFlags(Qt::Widget);
    browser->setGeometry(panel.rect());
    std::atomic<int> loaded = 0;
    browser->Loader().OnLoaded = [&loaded] { ++loaded; };
    browser->SetUseLoaderThread(loader == "on");
    browser->ListView1->SetMultiSelect(true);
    browser->SetImageSource(&source);
    browser->SetThumbnailSize(static_cast<unsigned>(size));
    QStringList captions;
    for (int i = 1; i <= count; ++i)
        captions << (i == 3 ? QString::fromUtf8("No.%1 とても長い名前のシーン").arg(i) : QString("No.%1").arg(i));
    browser->SetCaptions(captions);
    browser->SelectImage(select);
    window.show();
    browser->show();

    // With the loader on, the window loop takes one finished picture per idle moment; let it run
    // until the loader has been quiet for a while.
    QElapsedTimer clock;
    clock.start();
    int lastLoaded = -1;
    qint64 quietSince = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (loaded != lastLoaded) {
            lastLoaded = loaded;
            quietSince = clock.elapsed();
        }
        if (clock.elapsed() - quietSince > kLoaderQuietMs || clock.elapsed() > kLoaderDeadlineMs)
            app.quit();
    });
    poll.start(20);
    app.exec();

    const QImage shot = window.grab().toImage();
    if (!shot.save(parser.positionalArguments().first())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.positionalArguments().first()));
        return 1;
    }
    std::printf("%d pictures, loader %s, selected %d, %d loaded in the background\n", count, qPrintable(loader),
                browser->SelectedIndex(), loaded.load());
    return 0;
}
