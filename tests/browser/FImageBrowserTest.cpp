// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/FImageBrowser.h"
#include "components/UFormPanel.h"
#include "framework/IdleHandlers.h"
#include "framework/TForm.h"
#include "framework/UBroadcaster.h"
#include "framework/TBitmap.h"
#include "framework/TColor.h"
#include "framework/TImageList.h"
#include "framework/TestChildProcess.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

// At a scale factor of 2 (set for this process by its parent): thumbnails carry the screen's
// pixels, and the list's frame shows on every side. Answers a bit for each fault found.
FRAMORA_CHILD_SCENARIO(ScaledBrowser)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "test_browser";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    int faults = 0;
    TfrmImageBrowser browser;
    browser.SetThumbnailSize(100);
    TPicture source;
    source.Bitmap().SetSize(720, 480);
    TPictureEx thumbnail;
    browser.MakeThumbnail(source, thumbnail);
    if (thumbnail.Width() != 196 || thumbnail.Height() != 130)
        faults |= 1;
    browser.resize(513, 383);
    browser.show();
    QImage image(browser.size() * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2);
    image.fill(Qt::magenta);
    browser.render(&image);
    const int y = image.height() / 2;
    const QColor frame = image.pixelColor(0, y);
    if (image.pixelColor(image.width() - 1, y) != frame || image.pixelColor(image.width() - 2, y) != frame)
        faults |= 2;
    std::printf("faults %d\n", faults);
    return faults;
}

namespace {

// A source of solid pictures of the given sizes; one index may refuse to load.
class TSceneSource {
public:
    explicit TSceneSource(std::vector<QSize> sizes) : FSizes(std::move(sizes))
    {
        Pack.OnGetCount = [this](TObject*, std::int32_t& count) { count = static_cast<std::int32_t>(FSizes.size()); };
        Pack.OnGetImage = [this](TObject*, TPictureEx& picture, std::int32_t no) {
            if (no == Raising)
                throw std::runtime_error("unreadable scene");
            TBitmap& bitmap = picture.Bitmap();
            bitmap.SetPixelFormat(TPixelFormat::pf24bit);
            bitmap.SetSize(FSizes[static_cast<std::size_t>(no)].width(), FSizes[static_cast<std::size_t>(no)].height());
            bitmap.Image().fill(Qt::darkGreen);
        };
        Pack.SetCacheLimit(40);
    }
    TCustomImagePack Pack;
    int Raising = -1;

private:
    std::vector<QSize> FSizes;
};

QStringList Numbered(int count)
{
    QStringList captions;
    for (int i = 1; i <= count; ++i)
        captions << QString("No.%1").arg(i);
    return captions;
}

// A browser standing alone with the capture window's settings.
struct TBrowserFixture : ::testing::Test {
    TSceneSource Source{std::vector<QSize>(6, QSize(720, 480))};
    TfrmImageBrowser Browser;

    void SetUp() override
    {
        Browser.SetUseLoaderThread(false);
        Browser.ListView1->SetMultiSelect(true);
        Browser.SetImageSource(&Source.Pack);
        Browser.SetThumbnailSize(100);
        Browser.resize(513, 383);
        Browser.show();
    }
    QImage Grab() { return Browser.ListView1->ItemArea()->grab().toImage(); }
    QColor At(const QImage& image, QPoint p) { return image.pixelColor(p); }
};

} // namespace

TEST(ImageBrowserThumbnails, SizesAndCacheLimitsFollowTheCell)
{
    TfrmImageBrowser browser;
    browser.SetThumbnailSize(100);
    const struct {
        int width, height, thumbWidth, thumbHeight;
    } rows[] = {{720, 480, 98, 65}, {320, 240, 98, 74}, {1920, 1080, 98, 55}, {300, 600, 44, 88}, {40, 30, 98, 74}};
    for (const auto& row : rows) {
        TPicture source;
        source.Bitmap().SetSize(row.width, row.height);
        TPictureEx thumbnail;
        browser.MakeThumbnail(source, thumbnail);
        EXPECT_EQ(thumbnail.Width(), row.thumbWidth) << row.width << "x" << row.height;
        EXPECT_EQ(thumbnail.Height(), row.thumbHeight) << row.width << "x" << row.height;
    }
    EXPECT_EQ(browser.ImagePack->CacheLimit(), 349);
    EXPECT_EQ(ThumbnailCacheLimit(150), 155);
    EXPECT_EQ(ThumbnailCacheLimit(0), 65535);    // no cell, no division by it
    EXPECT_EQ(ThumbnailCacheLimit(5), 65535);    // more than the limit holds is kept at its top
    EXPECT_EQ(ThumbnailCacheLimit(100000), 1);   // a cell beyond the budget still keeps one
}

TEST_F(TBrowserFixture, DrawsFramedThumbnailsCentredAndTheSelectionInNavy)
{
    Browser.SetCaptions(Numbered(6));
    Browser.SelectImage(1);
    const QImage image = Grab();

    const QRect icon0 = Browser.ListView1->ItemIconRect(0);
    const QRect icon1 = Browser.ListView1->ItemIconRect(1);
    // Item 0: a white frame with a raised edge round a 98 x 65 thumbnail, centred.
    EXPECT_EQ(At(image, icon0.topLeft() + QPoint(1, 1)), QColor(Qt::white));
    const QPoint centre = icon0.adjusted(3, 3, -3, -3).center();
    EXPECT_EQ(At(image, centre), QColor(Qt::darkGreen));
    EXPECT_EQ(At(image, centre + QPoint(0, 33)), QColor(Qt::darkGreen));
    EXPECT_EQ(At(image, centre + QPoint(0, 36)), QColor(Qt::white));
    EXPECT_EQ(At(image, centre - QPoint(0, 34)), QColor(Qt::white));
    // Item 1, selected: the navy frame over the edge and white text on navy.
    EXPECT_EQ(At(image, icon1.topLeft() + QPoint(1, 1)), QColor(0, 0, 0x80));
    EXPECT_EQ(At(image, icon1.topLeft() + QPoint(3, 3)), QColor(Qt::white));
    const QRect label1 = Browser.ListView1->ItemLabelRect(1);
    EXPECT_EQ(At(image, label1.topLeft()), QColor(0, 0, 0x80));
    EXPECT_EQ(At(image, Browser.ListView1->ItemLabelRect(0).topLeft()), QColor(0xB4, 0xB4, 0xB4));
    // Only the picture on screen was made.
    EXPECT_EQ(Browser.ImagePack->CachedCount(), 6);
}

TEST_F(TBrowserFixture, ArrangesCentredColumnsAndOneColumnWhenNarrow)
{
    Browser.SetCaptions(Numbered(6));
    const QRect first = Browser.ListView1->ItemBounds(0);
    const int cell = first.width() + 10;
    const int width = Browser.ListView1->ViewRect().width();
    const int columns = width / cell;
    ASSERT_GE(columns, 2);
    EXPECT_EQ(first.left(), (width - (columns * cell - 10)) / 2);
    EXPECT_EQ(Browser.ListView1->ItemBounds(1).left(), first.left() + cell);
    EXPECT_EQ(Browser.ListView1->ItemBounds(columns).topLeft(), QPoint(first.left(), first.top() + first.height() + 10));

    Browser.ListView1->resize(first.width() + 5, 300); // narrower than one cell with its spacing
    for (int item = 0; item < 6; ++item)
        EXPECT_EQ(Browser.ListView1->ItemBounds(item).left(), Browser.ListView1->ViewOrigin().x()) << item;
}

TEST_F(TBrowserFixture, SelectionAddsScrollsIntoViewAndClears)
{
    TSceneSource many{std::vector<QSize>(32, QSize(320, 240))};
    Browser.SetImageSource(&many.Pack);
    Browser.SetCaptions(Numbered(32));
    EXPECT_EQ(Browser.SelectedIndex(), -1);

    Browser.SelectImage(31);
    Browser.SelectImage(4);
    EXPECT_EQ(Browser.SelectedIndex(), 4); // the first selected in list order
    const QRect area = Browser.ListView1->ItemArea()->rect();
    EXPECT_TRUE(area.contains(Browser.ListView1->ItemBounds(4)));
    Browser.SelectImage(31);
    EXPECT_TRUE(area.contains(Browser.ListView1->ItemBounds(31)));
    EXPECT_TRUE(Browser.ListView1->ItemSelected(4));

    Browser.SelectImage(99); // no such image: nothing changes
    EXPECT_EQ(Browser.SelectedIndex(), 4);
    Browser.SelectImage(-1);
    EXPECT_EQ(Browser.SelectedIndex(), -1);
}

TEST_F(TBrowserFixture, ShortenedCaptionEndsInEllipsisAndShowsItInItsTip)
{
    const QString longCaption = QString::fromUtf8("とても長いシーンの名前がここに入ります No.1");
    Browser.SetCaptions({"No.32", longCaption});
    QString tip;
    Browser.ListView1->OnInfoTip(Browser.ListView1, 0, tip);
    EXPECT_TRUE(tip.isEmpty());
    EXPECT_EQ(Browser.ListView1->ItemCaption(0), "No.32");

    const QString shortened = Browser.ListView1->ItemCaption(1);
    EXPECT_TRUE(shortened.endsWith("...")) << shortened.toStdString();
    EXPECT_LE(Browser.ListView1->Canvas().TextWidth(shortened), 100);
    EXPECT_TRUE(longCaption.startsWith(shortened.chopped(3)));
    Browser.ListView1->OnInfoTip(Browser.ListView1, 1, tip);
    EXPECT_EQ(tip, longCaption);
}

TEST_F(TBrowserFixture, UnreadableSceneShowsTheErrorPictureAndHiddenListDropsTheCache)
{
    Source.Raising = 2;
    Browser.SetCaptions(Numbered(6));
    Grab();
    TPictureEx thumbnail;
    Browser.ImagePack->GetImage(thumbnail, 2);
    TPictureEx expected;
    Browser.MakeThumbnail(const_cast<TPicture&>(TImagePack::ErrorPicture()), expected);
    EXPECT_EQ(thumbnail.Width(), expected.Width());
    EXPECT_EQ(thumbnail.Bitmap().Image(), expected.Bitmap().Image());

    RunIdleHandlers();
    EXPECT_GT(Browser.ImagePack->CachedCount(), 0); // visible: kept
    Browser.hide();
    RunIdleHandlers();
    EXPECT_EQ(Browser.ImagePack->CachedCount(), 0);
}

TEST_F(TBrowserFixture, LoaderDeliversThumbnailsOnIdleOnePerCall)
{
    std::mutex lock;
    std::condition_variable changed;
    int loaded = 0;
    Browser.Loader().OnLoaded = [&] {
        std::lock_guard guard(lock);
        ++loaded;
        changed.notify_all();
    };
    Source.Raising = 2;
    Browser.SetUseLoaderThread(true);
    Browser.SetImageSource(&Source.Pack);
    Browser.SetCaptions(Numbered(3));
    Grab(); // placeholders, and a request for each
    TPictureEx placeholder;
    Browser.MakeThumbnail(const_cast<TPicture&>(TfrmImageBrowser::PlaceholderPicture()), placeholder);
    TPictureEx thumbnail;
    Browser.ImagePack->GetImage(thumbnail, 0);
    EXPECT_EQ(thumbnail.Height(), placeholder.Height());
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return loaded == 3; });
    }
    RunIdleHandlers();
    int replaced = 0;
    for (int index = 0; index < 3; ++index) {
        Browser.ImagePack->GetImage(thumbnail, index);
        replaced += thumbnail.Height() != placeholder.Height();
    }
    EXPECT_EQ(replaced, 1);
    RunIdleHandlers();
    RunIdleHandlers();
    for (int index = 0; index < 2; ++index) {
        Browser.ImagePack->GetImage(thumbnail, index);
        EXPECT_EQ(QSize(thumbnail.Width(), thumbnail.Height()), QSize(98, 65)) << index;
    }
    // The unreadable scene comes through as the error picture, not as a placeholder for good.
    TPictureEx error;
    Browser.MakeThumbnail(const_cast<TPicture&>(TImagePack::ErrorPicture()), error);
    Browser.ImagePack->GetImage(thumbnail, 2);
    EXPECT_EQ(thumbnail.Bitmap().Image(), error.Bitmap().Image());
}

TEST_F(TBrowserFixture, SourceDestroyedFirstIsNoLongerRead)
{
    auto source = std::make_unique<TSceneSource>(std::vector<QSize>(2, QSize(64, 48)));
    Browser.SetImageSource(&source->Pack);
    Browser.SetCaptions(Numbered(2));
    source.reset();
    EXPECT_EQ(Browser.ImageSource(), nullptr);
    Grab(); // draws empty frames instead of reading a pack that is gone
    EXPECT_EQ(Browser.ImagePack->Count(), 0);
}

// The loader reads the source on its own thread: a source destroyed while a load runs must still
// be whole when the browser hears of it, so that the browser can wait the load out.
TEST_F(TBrowserFixture, SourceDestroyedWhileTheLoaderReadsItIsWaitedOut)
{
    struct TGate {
        std::mutex Lock;
        std::condition_variable Changed;
        bool Entered = false, Open = false;
    };
    const auto gate = std::make_shared<TGate>();
    auto source = std::make_unique<TCustomImagePack>();
    source->OnGetCount = [](TObject*, std::int32_t& count) { count = 1; };
    source->OnGetImage = [gate](TObject*, TPictureEx& picture, std::int32_t) {
        std::unique_lock guard(gate->Lock);
        gate->Entered = true;
        gate->Changed.notify_all();
        gate->Changed.wait(guard, [&] { return gate->Open; });
        picture.Bitmap().SetSize(64, 48);
    };
    // Heard before the browser: the load may end once the pack announces its end.
    auto opener = std::make_unique<TListener>([gate](TObject*, const TGUID& id) {
        if (id != kDestroyingEventId)
            return;
        std::lock_guard guard(gate->Lock);
        gate->Open = true;
        gate->Changed.notify_all();
    });
    opener->Listen(source.get());
    Browser.SetUseLoaderThread(true);
    Browser.SetImageSource(source.get());
    Browser.SetCaptions(Numbered(1));
    Grab(); // asks the loader for the thumbnail
    {
        std::unique_lock guard(gate->Lock);
        gate->Changed.wait(guard, [&] { return gate->Entered; });
    }
    source.reset(); // the load finishes inside, while the pack is still whole
    EXPECT_EQ(Browser.ImageSource(), nullptr);
    EXPECT_EQ(Browser.ImagePack->Count(), 0);
}

// Arranging is restored on every way out: a throw must not leave the list unable to arrange or
// paint again.
TEST_F(TBrowserFixture, ArrangingRecoversFromAThrow)
{
    TSceneSource many{std::vector<QSize>(32, QSize(320, 240))};
    Browser.SetImageSource(&many.Pack);
    Browser.SetCaptions(Numbered(32));
    Browser.SelectImage(31);
    QScrollBar* scroll = qobject_cast<QAbstractScrollArea*>(Browser.ListView1->ItemArea()->parentWidget())->verticalScrollBar();
    scroll->setValue(0);
    bool raise = true;
    QObject::connect(scroll, &QScrollBar::valueChanged, [&raise] {
        if (std::exchange(raise, false))
            throw std::runtime_error("scrolling failed");
    });
    EXPECT_THROW(Browser.ArrangeThumbnails(), std::runtime_error);
    EXPECT_TRUE(Browser.ListView1->updatesEnabled());
    const QRect first = Browser.ListView1->ItemBounds(0);
    Browser.ListView1->resize(first.width() + 5, 300); // arranges one column
    EXPECT_EQ(Browser.ListView1->ItemBounds(1).left(), Browser.ListView1->ViewOrigin().x());
}

// Hosted, the browser takes the focus when its panel takes it in, not at every activation of the
// window around it (after each dialog or switch between windows).
TEST(ImageBrowserHosted, TakesTheFocusWhenHostedNotAtEveryActivation)
{
    TForm window;
    auto* panel = new TFormPanel(&window);
    panel->setGeometry(0, 0, 300, 200);
    auto* other = new QLineEdit(&window);
    other->setGeometry(0, 210, 100, 20);
    window.resize(320, 240);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* browser = new TfrmImageBrowser(&window);
    panel->SetForm(browser);
    EXPECT_TRUE(browser->ListView1->ItemArea()->hasFocus());

    other->setFocus();
    TForm elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_TRUE(other->hasFocus());
}

TEST(ImageBrowserReport, SizeColumnSortsNumericallyBothWays)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        qint64 bytes;
    } files[] = {{"a.dat", 10 * 1024}, {"b.dat", 2 * 1024}, {"c.dat", 1500 * 1024}, {"d.dat", 999 * 1024}};
    QStringList paths;
    for (const auto& f : files) {
        QFile file(dir.filePath(f.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(f.bytes));
        paths << file.fileName();
    }
    TfrmImageBrowser browser;
    browser.FileNameOf = [&](std::int32_t index, QString& path) { path = paths.value(index); };
    browser.SetViewMode(4);
    browser.SetCaptions(paths);
    TListViewEx& list = *browser.ListView1;
    ASSERT_EQ(list.ColumnCount(), 4);
    const auto names = [&] {
        QStringList order;
        for (int item = 0; item < list.ItemCount(); ++item)
            order << list.ItemCaption(item);
        return order.join(' ');
    };
    EXPECT_EQ(names(), "a.dat b.dat c.dat d.dat");
    EXPECT_EQ(list.ItemSubItems(2).value(0), QLocale().toString(1500) + "KB");
    // Filled sorted by name, yet no column counts as clicked: the first click sorts ascending.
    list.OnColumnClick(&list, 0);
    EXPECT_EQ(names(), "a.dat b.dat c.dat d.dat");

    list.OnColumnClick(&list, 1);
    EXPECT_EQ(names(), "b.dat a.dat d.dat c.dat");
    list.OnColumnClick(&list, 1);
    EXPECT_EQ(names(), "c.dat d.dat a.dat b.dat");
    list.SetItemSelected(list.FindData(1), true);
    QString selected;
    browser.SelectedText(selected);
    EXPECT_EQ(selected, paths[1]);
}

// A file list whose names cannot be had leaves the list painting, not frozen mid-update.
TEST(ImageBrowserReport, FillingRecoversFromAThrow)
{
    TfrmImageBrowser browser;
    browser.FileNameOf = [](std::int32_t, QString&) { throw std::runtime_error("no name"); };
    browser.SetViewMode(4);
    EXPECT_THROW(browser.SetCaptions({"a", "b"}), std::runtime_error);
    EXPECT_TRUE(browser.ListView1->updatesEnabled());
}

// Under a dark palette the list takes the palette's base, so that its captions (the palette's
// light text) read; a light palette keeps the design grey.
TEST_F(TBrowserFixture, ColoursFollowADarkPalette)
{
    QPalette dark = Browser.palette();
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
    dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0));
    Browser.setPalette(dark);
    Browser.SetCaptions(Numbered(2));
    const QImage image = Grab();
    const QColor background = At(image, Browser.ListView1->ItemLabelRect(0).topLeft());
    const QColor text = ColorToQColor(Browser.ListView1->FontColor());
    EXPECT_GT(std::abs(text.lightness() - background.lightness()), 128)
        << background.name().toStdString() << " " << text.name().toStdString();
    EXPECT_EQ(background, QColor(0x1E, 0x1E, 0x1E));

    Browser.setPalette(QPalette());
    EXPECT_EQ(At(Grab(), Browser.ListView1->ItemLabelRect(0).topLeft()), QColor(0xB4, 0xB4, 0xB4));
}

TEST(ImageBrowserScaled, ThumbnailsAreSharpAndTheFrameWholeAtScaleTwo)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    const TChildResult child = RunChildScenario("ScaledBrowser", environment);
    EXPECT_FALSE(child.Crashed) << child.Output.constData();
    EXPECT_EQ(child.ExitCode, 0) << child.Output.constData();
}
