// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/UPictureEX.h"

#include "framework/TBitmap.h"
#include "imagestore/USafetyBitmap.h"
#include "../framework/JPEGTestData.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct TRecorder {
    std::vector<TGUID> Events;
    std::vector<TObject*> Senders;
    int Count(const TGUID& id) const { return static_cast<int>(std::count(Events.begin(), Events.end(), id)); }
};

TBroadcastHandler Record(TRecorder& recorder)
{
    return [&recorder](TObject* sender, const TGUID& id) {
        recorder.Events.push_back(id);
        recorder.Senders.push_back(sender);
    };
}

void LoadJPEG(TPictureEx& picture)
{
    const auto bytes = jpegtest::Encode(8, 8, jpegtest::TKind::Colour);
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    auto jpeg = std::make_unique<TSafetyJPEGImage>();
    jpeg->LoadFromStream(buffer);
    picture.SetGraphic(std::move(jpeg));
}

} // namespace

TEST(TPictureEx, ListenersHearChangesWithThePictureAsSender)
{
    TRecorder recorder;
    TListener listener(Record(recorder));
    {
        TPictureEx picture;
        listener.Listen(&picture);
        EXPECT_EQ(picture.Notifier().ListenerCount(), 1);
        picture.Bitmap().SetSize(4, 4);
        ASSERT_GE(recorder.Count(kChangedEventId), 1);
        EXPECT_EQ(recorder.Senders.back(), &picture);
        recorder.Events.clear();
    }
    // The picture's going is announced and undoes the registration.
    EXPECT_EQ(recorder.Count(kDestroyingEventId), 1);
    EXPECT_EQ(listener.BroadcasterCount(), 0);
}

TEST(TPictureEx, OneChangedEventPerOutermostBracket)
{
    TPictureEx picture;
    TRecorder recorder;
    TListener listener(Record(recorder));
    picture.AddListener(&listener);
    EXPECT_EQ(listener.BroadcasterCount(), 1);

    picture.BeginUpdate();
    picture.BeginUpdate();
    picture.Bitmap().SetSize(2, 2);
    picture.Bitmap().SetSize(3, 3);
    picture.EndUpdate();
    EXPECT_EQ(recorder.Count(kChangedEventId), 0);
    picture.EndUpdate();
    EXPECT_EQ(recorder.Count(kChangedEventId), 1);

    picture.BeginUpdate();
    picture.EndUpdate();
    EXPECT_EQ(recorder.Count(kChangedEventId), 1);
    picture.RemoveListener(&listener);
    EXPECT_EQ(listener.BroadcasterCount(), 0);
}

TEST(TPictureEx, AChangeMadeWhileAnnouncingIsNotAnnouncedAgain)
{
    TPictureEx picture;
    picture.Bitmap();
    int heard = 0;
    TListener listener([&](TObject*, const TGUID& id) {
        if (id == kChangedEventId) {
            ++heard;
            picture.Bitmap().SetSize(picture.Bitmap().Width() + 1, 1);
        }
    });
    listener.Listen(&picture);
    picture.Bitmap().SetSize(1, 1);
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(picture.Bitmap().Width(), 2);
    // Once the announcement is over, changes are announced again.
    picture.Bitmap().SetSize(5, 1);
    EXPECT_EQ(heard, 2);
}

TEST(TPictureEx, AssignKeepsTheGraphicObjectOfTheSameClassExceptJPEG)
{
    TPictureEx target;
    TPictureEx source;
    target.Bitmap().SetSize(1, 1);
    source.Bitmap().SetPixelFormat(TPixelFormat::pf24bit);
    source.Bitmap().SetSize(7, 5);
    const TGraphic* kept = target.Graphic();
    target.Assign(source);
    EXPECT_EQ(target.Graphic(), kept);
    EXPECT_EQ(target.Width(), 7);

    // Different classes: the base replaces the graphic.
    TPictureEx safety;
    ForceSafetyBitmap(safety).SetSize(3, 3);
    target.Assign(safety);
    EXPECT_NE(target.Graphic(), kept);
    EXPECT_TRUE(target.Graphic()->InheritsFrom(TSafetyBitmap::StaticClass()));

    // Two JPEG pictures: always replaced.
    TPictureEx jpegTarget;
    TPictureEx jpegSource;
    LoadJPEG(jpegTarget);
    LoadJPEG(jpegSource);
    const TGraphic* before = jpegTarget.Graphic();
    jpegTarget.Assign(jpegSource);
    EXPECT_NE(jpegTarget.Graphic(), before);

    // Nothing on either side: nothing happens; one side empty: the base.
    TPictureEx empty;
    TPictureEx alsoEmpty;
    empty.Assign(alsoEmpty);
    EXPECT_EQ(empty.Graphic(), nullptr);
    target.Assign(empty);
    EXPECT_EQ(target.Graphic(), nullptr);
}
