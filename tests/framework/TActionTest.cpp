// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/IdleHandlers.h"
#include "framework/TAction.h"

#include <QAbstractEventDispatcher>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

namespace {
// A command whose update handler enables it from a flag, counting both handlers.
struct TCommandFixture : ::testing::Test {
    TActionList list;
    TAction* action = new TAction(&list, QStringLiteral("actPlay"), QStringLiteral("再生"),
                                  QStringLiteral("動画の再生を開始します"));
    bool allowed = true;
    int updates = 0;
    int executes = 0;

    void SetUp() override
    {
        action->OnUpdate = [this](TAction* sender) {
            ++updates;
            sender->SetEnabled(allowed);
        };
        action->OnExecute = [this](TAction*) { ++executes; };
    }
};
} // namespace

TEST_F(TCommandFixture, UpdatesRunWhenTheLoopGoesIdle)
{
    RunIdleHandlers();
    EXPECT_EQ(updates, 1);
    allowed = false;
    emit QAbstractEventDispatcher::instance()->aboutToBlock();
    EXPECT_EQ(updates, 2);
    EXPECT_FALSE(action->Enabled());

    list.SetIdleUpdates(false);
    RunIdleHandlers();
    EXPECT_EQ(updates, 2);
}

TEST_F(TCommandFixture, EveryWayOfExecutingChecksTheUpdateFirst)
{
    QWidget window;
    auto* button = new QPushButton(&window);
    BindAction(button, action);
    QMenu menu;
    menu.addAction(action);

    // The command looks enabled (last idle said so) but its update now disables it.
    action->SetEnabled(true);
    allowed = false;
    struct TWay {
        const char* Name;
        std::function<void()> Run;
    };
    const TWay ways[] = {
        {"code", [&] { EXPECT_FALSE(action->Execute()); }},
        {"menu or shortcut", [&] { action->trigger(); }},
        {"bound button", [&] { button->click(); }},
    };
    for (const TWay& way : ways) {
        action->SetEnabled(true);
        button->setEnabled(true);
        const int updatesBefore = updates;
        way.Run();
        EXPECT_EQ(executes, 0) << way.Name;
        EXPECT_EQ(updates, updatesBefore + 1) << way.Name;
    }

    allowed = true;
    for (const TWay& way : {TWay{"code", [&] { EXPECT_TRUE(action->Execute()); }}, ways[1], ways[2]})
        way.Run();
    EXPECT_EQ(executes, 3);
}

TEST_F(TCommandFixture, UpdateAllRunsEveryCommandAndSurvivesOneDeletingAnother)
{
    auto* second = new TAction(&list, QStringLiteral("actPause"));
    auto* third = new TAction(&list, QStringLiteral("actRewind"));
    int thirdUpdates = 0;
    second->OnUpdate = [&](TAction*) { delete third; };
    third->OnUpdate = [&](TAction*) { ++thirdUpdates; };

    list.UpdateAll();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(thirdUpdates, 0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Find(QStringLiteral("actPause")), second);
    EXPECT_EQ(list.Find(QStringLiteral("actRewind")), nullptr);
}

TEST(TActionList, DestroyedListNoLongerUpdates)
{
    int updates = 0;
    {
        TActionList list;
        auto* action = new TAction(&list, QStringLiteral("act"));
        action->OnUpdate = [&](TAction*) { ++updates; };
        RunIdleHandlers();
    }
    RunIdleHandlers();
    EXPECT_EQ(updates, 1);
}

TEST(BindAction, ButtonsFollowTheCommand)
{
    TActionList list;
    auto* action = new TAction(&list, QStringLiteral("actCapture"), QStringLiteral("キャプチャの追加⇒"),
                               QStringLiteral("シーンリストの最後にキャプチャ画像を追加します。"));
    QWidget window;
    auto* plain = new QPushButton(&window);
    auto* ownHint = new QToolButton(&window);
    ownHint->setToolTip(QStringLiteral("次のステップへ"));
    auto* hidden = new QPushButton(&window);
    hidden->hide();
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(plain), static_cast<QAbstractButton*>(ownHint),
                                    static_cast<QAbstractButton*>(hidden)})
        BindAction(button, action);
    window.show();

    EXPECT_EQ(plain->text(), QStringLiteral("キャプチャの追加⇒"));
    EXPECT_EQ(plain->toolTip(), action->Hint());
    EXPECT_EQ(ownHint->toolTip(), QStringLiteral("次のステップへ"));

    action->SetEnabled(false);
    action->SetCaption(QStringLiteral("other"));
    action->SetHint(QStringLiteral("new hint"));
    EXPECT_FALSE(plain->isEnabled());
    EXPECT_FALSE(ownHint->isEnabled());
    EXPECT_EQ(plain->text(), QStringLiteral("other"));
    EXPECT_EQ(plain->toolTip(), QStringLiteral("new hint"));
    EXPECT_EQ(ownHint->toolTip(), QStringLiteral("次のステップへ"));

    action->SetVisible(false);
    EXPECT_FALSE(plain->isVisible());
    action->SetVisible(true);
    EXPECT_TRUE(plain->isVisible());
    EXPECT_FALSE(hidden->isVisible());
}
