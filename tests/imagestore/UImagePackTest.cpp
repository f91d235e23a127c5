// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TBitmap.h"
#include "framework/TMetafile.h"
#include "imagestore/UCustomImagePack.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

// A pack of `Count` pictures; picture i is an (i + 1) x 1 bitmap, and every load is recorded.
struct TCountingPack {
    TCustomImagePack Pack;
    std::int32_t Count = 3;
    std::vector<std::int32_t> Loads;

    explicit TCountingPack(TCIPCacheLimit limit = 1)
    {
        Pack.SetCacheLimit(limit);
        Pack.OnGetCount = [this](TObject*, std::int32_t& count) { count = Count; };
        Pack.OnGetImage = [this](TObject*, TPictureEx& picture, std::int32_t no) {
            Loads.push_back(no);
            picture.Bitmap().SetSize(no + 1, 1);
        };
    }
    void Use(std::initializer_list<std::int32_t> indices)
    {
        for (const std::int32_t i : indices) {
            TPicture picture;
            Pack.GetImage(picture, i);
        }
    }
};

} // namespace

TEST(TCachedImagePack, LeastRecentlyUsedPictureLeavesFirst)
{
    TCountingPack one(1);
    one.Use({0, 1, 0});
    EXPECT_EQ(one.Loads, (std::vector<std::int32_t>{0, 1, 0}));
    EXPECT_EQ(one.Pack.CachedCount(), 1);

    TCountingPack two(2);
    two.Use({0, 1, 0, 2});
    EXPECT_EQ(two.Loads, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_TRUE(two.Pack.IsCached(0));
    EXPECT_FALSE(two.Pack.IsCached(1));
    two.Use({0});
    EXPECT_EQ(two.Loads.size(), 3u);
}

TEST(TCachedImagePack, LoweringTheLimitDropsTheOldestAtOnce)
{
    TCountingPack pack(40);
    pack.Count = 40;
    for (std::int32_t i = 0; i < 40; ++i)
        pack.Use({i});
    pack.Pack.SetCacheLimit(10);
    EXPECT_EQ(pack.Pack.CachedCount(), 10);
    EXPECT_FALSE(pack.Pack.IsCached(29));
    EXPECT_TRUE(pack.Pack.IsCached(30));
    EXPECT_TRUE(pack.Pack.IsCached(39));

    // A limit of 0 would leave no room for the entry being loaded.
    pack.Pack.SetCacheLimit(0);
    EXPECT_EQ(pack.Pack.CacheLimit(), 1);
    EXPECT_EQ(pack.Pack.CachedCount(), 1);
    pack.Use({5});
    EXPECT_TRUE(pack.Pack.IsCached(5));
}

TEST(TCachedImagePack, IndicesOutOfRangeGiveEmptyPicturesAndNoEntry)
{
    TCountingPack pack(5);
    for (const std::int32_t i : {-1, 3}) {
        TPicture picture;
        picture.Bitmap().SetSize(2, 2);
        pack.Pack.GetImage(picture, i);
        EXPECT_EQ(picture.Graphic(), nullptr);
        EXPECT_TRUE(pack.Pack.IsIndexInvalid(i));
    }
    EXPECT_EQ(pack.Pack.CachedCount(), 0);
    EXPECT_TRUE(pack.Loads.empty());
    EXPECT_EQ(pack.Pack.ImageRect(7), TRect{});

    TCustomImagePack noCount;
    EXPECT_EQ(noCount.Count(), 0);
    EXPECT_TRUE(noCount.IsIndexInvalid(0));
}

TEST(TCachedImagePack, FailedLoadIsCachedAsTheErrorPictureAndNotAskedAgain)
{
    TCustomImagePack pack;
    pack.SetCacheLimit(4);
    int calls = 0;
    pack.OnGetCount = [](TObject*, std::int32_t& count) { count = 2; };
    pack.OnGetImage = [&calls](TObject*, TPictureEx&, std::int32_t) {
        ++calls;
        throw std::runtime_error("broken scene");
    };
    const TPicture& error = TImagePack::ErrorPicture();
    for (int round = 0; round < 2; ++round) {
        TPicture picture;
        EXPECT_TRUE(pack.SafeGetImage(picture, 1));
        ASSERT_NE(dynamic_cast<TMetafile*>(picture.Graphic()), nullptr);
        EXPECT_EQ(picture.Width(), error.Width());
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(pack.ImageRect(1), (TRect{0, 0, error.Width(), error.Height()}));
}

TEST(TCachedImagePack, StoredPicturesComeBackAndMissesWithoutHandlerStayEmpty)
{
    TCustomImagePack pack;
    pack.SetCacheLimit(40);
    pack.OnGetCount = [](TObject*, std::int32_t& count) { count = 3; };
    TPicture scene;
    scene.Bitmap().SetSize(6, 4);
    scene.Bitmap().FillRect(QRect(0, 0, 6, 4), Qt::green);
    pack.StoreImage(scene, 2);

    TPicture out;
    pack.GetImage(out, 2);
    ASSERT_NE(dynamic_cast<TBitmap*>(out.Graphic()), nullptr);
    EXPECT_EQ(out.Bitmap().Image().pixelColor(5, 3), QColor(Qt::green));
    EXPECT_NE(out.Graphic(), pack.CachedPicture(2).Graphic()); // a copy, not the cached one

    pack.GetImage(out, 0);
    EXPECT_EQ(out.Graphic(), nullptr);
    EXPECT_TRUE(pack.IsCached(0));

    pack.Reset();
    EXPECT_EQ(pack.CachedCount(), 0);
}

TEST(TCachedImagePack, HandlerThatEmptiesItsOwnCacheWhileLoadingIsSafe)
{
    TCustomImagePack pack;
    pack.OnGetCount = [](TObject*, std::int32_t& count) { count = 2; };
    pack.OnGetImage = [&pack](TObject*, TPictureEx& picture, std::int32_t no) {
        // Asking for the other picture evicts the entry being loaded (limit 1).
        if (no == 0)
            (void)pack.ImageRect(1);
        picture.Bitmap().SetSize(3 + no, 3);
    };
    TPicture picture;
    pack.GetImage(picture, 0);
    EXPECT_EQ(picture.Width(), 3);
}

TEST(TImagePack, GeometrySettersRefuse)
{
    TCountingPack pack;
    EXPECT_EQ(pack.Pack.ImageRect(2), (TRect{0, 0, 3, 1}));
    EXPECT_EQ(pack.Pack.GetImageWidth(2), 3);
    EXPECT_THROW(pack.Pack.SetCount(5), EImagePack);
    EXPECT_THROW(pack.Pack.SetImageLeft(0, 4), EImagePack);
    try {
        pack.Pack.SetImageRect(0, {});
        FAIL();
    } catch (const EImagePack& error) {
        EXPECT_STREQ(error.what(), kCannotSetImageRectText);
    }
}

TEST(TImagePack, ErrorPictureIsRedTextOnWhiteBuiltOnce)
{
    const TPicture& error = TImagePack::ErrorPicture();
    EXPECT_EQ(&error, &TImagePack::ErrorPicture());
    ASSERT_GT(error.Width(), 0);
    ASSERT_GT(error.Height(), 0);
    TBitmap page;
    page.SetPixelFormat(TPixelFormat::pf24bit);
    page.SetSize(error.Width(), error.Height());
    page.Canvas().StretchDraw(QRect(0, 0, error.Width(), error.Height()), *error.Graphic());
    const QImage image = page.Image();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            red += image.pixelColor(x, y).red() > 128 && image.pixelColor(x, y).blue() < 100;
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_GT(red, 10);
}

TEST(TImagePack, ListenersHearChangesBeforeOnChangeAndTheDestroyingEvent)
{
    std::vector<std::string> log;
    TListener first([&log](TObject*, const TGUID& id) {
        log.push_back(id == kPackChangedEventId ? "changed" : id == kPackInvalidatedEventId ? "invalidated" : id == kDestroyingEventId ? "destroying" : "other");
    });
    TListener second([&log](TObject*, const TGUID&) { log.push_back("second"); });
    {
        auto pack = std::make_unique<TCountingPack>();
        pack->Pack.OnChange = [&log](TObject*) { log.push_back("OnChange"); };
        first.Listen(&pack->Pack);
        pack->Pack.AddListener(&second);
        EXPECT_EQ(pack->Pack.Broadcaster().ListenerCount(), 2);
        // The listeners hold counted references to the pack, which its broadcaster keeps.
        EXPECT_GE(pack->Pack.Broadcaster().RefCount(), 2);

        pack->Pack.Change();
        EXPECT_EQ(log, (std::vector<std::string>{"changed", "second", "OnChange"}));
        log.clear();
        pack->Pack.InvalidateImages();
        EXPECT_EQ(log, (std::vector<std::string>{"invalidated", "second"}));
        log.clear();

        pack->Pack.RemoveListener(&second);
        EXPECT_EQ(second.BroadcasterCount(), 0);
        EXPECT_EQ(pack->Pack.Broadcaster().ListenerCount(), 1);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"destroying"}));
    EXPECT_EQ(first.BroadcasterCount(), 0);
}
