// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UFormPanel.h"

#include "framework/TApplication.h"

#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

namespace {
// A surrounding form with a form panel of 200 x 120 in it.
struct THost {
    TForm Window;
    TFormPanel* Panel = new TFormPanel(&Window);
    THost()
    {
        Panel->setGeometry(10, 10, 200, 120);
        Window.resize(300, 200);
        Window.show();
    }
};
} // namespace

TEST(TFormPanel, HostsFormsOneAtATimeAndReleasesWithoutDestroying)
{
    THost host;
    auto* first = new TForm(&host.Window);
    int activations = 0, closes = 0;
    first->OnActivate = [&](QObject*) { ++activations; };
    first->OnClose = [&](QObject*, TCloseAction&) { ++closes; };
    host.Panel->SetForm(first);
    EXPECT_EQ(host.Panel->Form(), first);
    EXPECT_FALSE(first->isWindow());
    EXPECT_EQ(first->parentWidget(), host.Panel);
    EXPECT_EQ(first->geometry(), QRect(0, 0, 200, 120));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(activations, 1);

    host.Panel->resize(240, 100);
    EXPECT_EQ(first->geometry(), QRect(0, 0, 240, 100));
    host.Panel->AlignOffset().SetLeft(8);
    EXPECT_EQ(first->geometry(), QRect(8, 0, 232, 100));

    QPointer<TForm> second = new TForm(&host.Window);
    host.Panel->SetForm(second);
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(first->isWindow());
    EXPECT_EQ(first->parentWidget(), &host.Window); // still owned, not destroyed
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(second->geometry().left(), 8);

    delete second;
    EXPECT_EQ(host.Panel->Form(), nullptr);
    host.Panel->SetForm(first);
    host.Panel->SetForm(nullptr);
    EXPECT_EQ(host.Panel->Form(), nullptr);
    EXPECT_FALSE(first->isVisible());
}

TEST(TFormPanel, GoingWithItsWindowReleasesTheHostedForm)
{
    auto host = std::make_unique<THost>();
    QPointer<TForm> hosted = new TForm(&host->Window);
    int closes = 0;
    hosted->OnClose = [&](QObject*, TCloseAction&) { ++closes; };
    host->Panel->SetForm(hosted);
    host.reset();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(hosted.isNull()); // its owner went, and took it along
}

TEST(TFormPanel, TrappedHelpShowsTheHostedFormsTopic)
{
    THost host;
    TApplication::SetMainForm(&host.Window);
    std::vector<std::int32_t> asked;
    host.Window.OnHelp = [&](std::uint16_t command, std::int32_t data, bool&) {
        if (command == HELP_CONTEXT)
            asked.push_back(data);
        return true;
    };
    auto* hosted = new TForm(&host.Window);
    hosted->SetHelpContext(6007);
    host.Panel->SetForm(hosted);
    host.Panel->SetTrapHelp(true);
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(&host.Window, &f1);
    EXPECT_EQ(asked, (std::vector<std::int32_t>{6007}));
    host.Panel->SetTrapHelp(false);

    // Without a send hook the surrounding form borrows the topic while the form is hosted.
    SetSendHooksAllowed(false);
    host.Panel->SetTrapHelp(true);
    host.Panel->SetForm(nullptr);
    host.Panel->SetForm(hosted);
    EXPECT_EQ(host.Window.HelpContext(), 6007);
    host.Panel->SetForm(nullptr);
    EXPECT_EQ(host.Window.HelpContext(), 0);
    host.Panel->SetTrapHelp(false);
    SetSendHooksAllowed(true);
    TApplication::SetMainForm(nullptr);
}
