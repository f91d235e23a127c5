#pragma once
// A capture window under test: its own single-instance lock folder (so windows of one test
// binary, and a real running Framora, never see each other), a hand-driven tick, and the helpers
// that stand for the timer and the idle moments.
#include "capture/UDesktop.h"
#include "capture/UFramora.h"
#include "fixtures/FrameStamp.h"
#include "fixtures/TestMovies.h"
#include "framework/MessageBox.h"
#include "framework/TAction.h"
#include "framework/TBitmap.h"
#include "framework/TickCount.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UPictureEX.h"

#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

inline QString FixturePath(const char* name)
{
    return QString::fromUtf8(FRAMORA_FIXTURE_DIR) + QLatin1Char('/') + QString::fromUtf8(name);
}

// The message after a save: how many files were written, and into which folder.
inline QString SavedText(int files, const QString& folder)
{
    return QStringLiteral("ファイルを保存しました（%1件）。\n保存先：%2").arg(files).arg(folder);
}

// The picture number a bitmap shows; -1 when it carries no readable stamp.
inline int StampOf(const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return -1;
    return FrameStamp::Read(bitmap.Width(), bitmap.Height(), [&](int x, int y) {
        const std::uint8_t* bgr = bitmap.ScanLine(y) + 3 * x;
        return (bgr[2] * 299 + bgr[1] * 587 + bgr[0] * 114) / 1000;
    });
}

class FramoraWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LockDir.isValid());
        qputenv("FRAMORA_LOCK_DIR", LockDir.path().toLocal8Bit());
        // Settings kept between runs go to a folder of the test's own.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, LockDir.path());
        // Scenes kept for recovery too, so that no test offers another test's scenes.
        OuterState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", LockDir.path().toLocal8Bit());
        // Close to the 32-bit wrap, so every elapsed time below crosses it.
        Now = 0xFFFFF000u;
        SetTickSource([this] { return Now; });
        Form = NewFramoraWindow();
    }

    void TearDown() override
    {
        Form.reset();
        SetTickSource({});
        qunsetenv("FRAMORA_LOCK_DIR");
        qputenv("XDG_STATE_HOME", OuterState);
    }

    // Opens a movie, answering any message box; returns the texts asked.
    QStringList Open(const QString& path)
    {
        TMessageBoxScript boxes;
        Form->OpenMovie(path);
        return boxes.Texts();
    }

    // Lets ms of wall-clock time pass, then delivers one tick of the playback timer.
    void Tick(std::uint32_t ms)
    {
        Now += ms;
        Form->Timer2Timer();
    }

    // An idle moment: every command's update handler runs.
    void Idle() { Form->ActionList1->UpdateAll(); }

    int Position() const { return Form->TrackBar1->value(); }

    // The stamps of the stored scenes, read as the browser reads them.
    QList<int> SceneStamps()
    {
        QList<int> stamps;
        for (int i = 0; i < Form->CurrentSceneCount(); ++i) {
            TPictureEx picture;
            Form->CustomImagePack1->SafeGetImage(picture, i);
            auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
            stamps.append(bitmap ? StampOf(*bitmap) : -1);
        }
        return stamps;
    }
    int ShownStamp() const { return StampOf(Form->CurrentFrame()); }

    // Opens the 20 s, 25 pictures/s movie and pauses at position ms.
    void OpenPausedAt(int ms)
    {
        ASSERT_TRUE(Open(FixturePath(TestMovies::LongGopH264)).isEmpty());
        Tick(100);
        Idle();
        ASSERT_TRUE(Form->actPause->Execute());
        Form->TrackBar1->setValue(ms);
        Idle();
    }

    QTemporaryDir LockDir;
    QByteArray OuterState;
    std::uint32_t Now = 0;
    std::unique_ptr<TfrmFramora> Form;
};
