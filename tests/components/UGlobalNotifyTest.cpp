// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UGlobalNotify.h"
#include "components/UHookComponent.h"
#include "components/UMiscUtils.h"
#include "framework/IdleHandlers.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

#include <stdexcept>

TEST(TGlobalNotify, OneIdleCallPerIdlePeriodAndTheLoopMayWait)
{
    TApplicationEvents older;
    bool doneSeen = false;
    older.OnIdle = [&](QObject*, bool& done) { doneSeen = done; };
    TGlobalNotify notify;
    int calls = 0;
    QObject* sender = nullptr;
    notify.OnIdle = [&](QObject* s) {
        ++calls;
        sender = s;
    };
    RunIdleHandlers();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sender, &notify);
    EXPECT_TRUE(doneSeen);
    RunIdleHandlers();
    EXPECT_EQ(calls, 2);
    // The application's exception event is answered, and answered with nothing.
    ASSERT_TRUE(notify.TApplicationEvents::OnException);
    TApplication::HandleException(nullptr, std::make_exception_ptr(std::runtime_error("dropped")));
}

TEST(TGlobalNotify, EveryNotifierHearsActiveFormAndControlChanges)
{
    int forms = 0, controls = 0;
    {
        TGlobalNotify first, second;
        for (TGlobalNotify* notify : {&first, &second}) {
            notify->OnActiveFormChange = [&forms, notify](QObject* sender) { forms += sender == notify; };
            notify->OnActiveControlChange = [&controls, notify](QObject* sender) { controls += sender == notify; };
        }
        TScreenEventDispatcher::Instance().ActiveFormChange();
        EXPECT_EQ(forms, 2);

        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* a = new QLineEdit;
        auto* b = new QLineEdit;
        layout->addWidget(a);
        layout->addWidget(b);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        controls = 0;
        b->setFocus();
        EXPECT_EQ(controls, 2);
    }
    // Gone notifiers are no longer told.
    forms = 0;
    TScreenEventDispatcher::Instance().ActiveFormChange();
    EXPECT_EQ(forms, 0);
}

namespace {
struct TKeyCounter {
    int Keys = 0;
    bool Throw = false;
    void Hook(const TMessageRecord& message)
    {
        if (message.Message != QEvent::KeyPress)
            return;
        ++Keys;
        if (Throw)
            throw std::runtime_error("listener failed");
    }
};
} // namespace

TEST(TMessageHookList, InstalledWithTheFirstListenerAndRemovedSlotsStayEmpty)
{
    QLineEdit edit;
    TKeyCounter first, second;
    {
        TPostMessageHookList list;
        EXPECT_FALSE(list.Installed());
        list.AddHookListener(MakeHookListener<&TKeyCounter::Hook>(&first));
        list.AddHookListener(MakeHookListener<&TKeyCounter::Hook>(&second));
        list.AddHookListener(MakeHookListener<&TKeyCounter::Hook>(&first));
        EXPECT_TRUE(list.Installed());
        QTest::keyClick(&edit, Qt::Key_A);
        EXPECT_EQ(first.Keys, 2);
        EXPECT_EQ(second.Keys, 1);

        // Only the first of the two registrations goes; its slot stays, empty.
        list.RemoveHookListener(MakeHookListener<&TKeyCounter::Hook>(&first));
        EXPECT_EQ(list.SlotCount(), 3);
        EXPECT_EQ(list.ListenerCount(), 2);
        list.RemoveHookListener(MakeHookListener<&TKeyCounter::Hook>(&second));
        EXPECT_TRUE(list.Installed());

        // A failing listener ends its round; the event still reaches the edit.
        first.Throw = true;
        QTest::keyClick(&edit, Qt::Key_B);
        EXPECT_EQ(first.Keys, 3);
        EXPECT_EQ(edit.text(), "ab");
    }
    // The list's filter went with it.
    QTest::keyClick(&edit, Qt::Key_C);
    EXPECT_EQ(first.Keys, 3);
}

TEST(TMessageHookList, SendListHearsEventsSentToWidgetsUnlessSwitchedOff)
{
    TKeyCounter counter;
    QLineEdit edit;
    {
        TSendMessageHookList list;
        list.AddHookListener(MakeHookListener<&TKeyCounter::Hook>(&counter));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
        QCoreApplication::sendEvent(&edit, &press);
        EXPECT_EQ(counter.Keys, 1);
    }
    SetSendHooksAllowed(false);
    TSendMessageHookList off;
    off.AddHookListener(MakeHookListener<&TKeyCounter::Hook>(&counter));
    SetSendHooksAllowed(true);
    EXPECT_FALSE(off.Installed());
}

TEST(TWatchCursor, NestedGuardsRestoreInReverseOrderAlsoOnFailure)
{
    ASSERT_FALSE(ScreenCursor());
    {
        const auto outer = ShowWatchCursor();
        try {
            const auto inner = ShowWatchCursor();
            EXPECT_EQ(ScreenCursor(), Qt::WaitCursor);
            throw std::runtime_error("operation failed");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(ScreenCursor(), Qt::WaitCursor);
    }
    EXPECT_FALSE(ScreenCursor());

    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    { const auto guard = ShowWatchCursor(); }
    EXPECT_EQ(ScreenCursor(), Qt::CrossCursor);
    QGuiApplication::restoreOverrideCursor();
}
