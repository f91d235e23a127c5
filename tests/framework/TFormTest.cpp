// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TApplication.h"
#include "framework/TForm.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

TEST(AnchoredGeometry, EdgesKeepTheirDistances)
{
    const QSize design(427, 348);
    const QSize grown(527, 398); // +100 wide, +50 high
    const QRect rect(21, 36, 386, 197);
    struct TCase {
        const char* Anchors;
        QRect Expected;
    };
    const TCase cases[] = {
        {"akLeft,akTop", rect},
        {"akLeft,akTop,akRight,akBottom", QRect(21, 36, 486, 247)},
        {"akRight,akBottom", QRect(121, 86, 386, 197)},
        {"akLeft,akRight,akBottom", QRect(21, 86, 486, 197)},
        {"akTop,akRight", QRect(121, 36, 386, 197)},
        // Neither edge: the centre (214, 134) scales to (264, 153).
        {"", QRect(264 - 193, 153 - 98, 386, 197)},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(AnchoredGeometry(rect, ParseAnchors(QString::fromLatin1(c.Anchors)), design, grown), c.Expected)
            << c.Anchors;
    EXPECT_EQ(ParseAnchors(QStringLiteral("left | Top  akRIGHT,bottom")), akAll);
}

TEST(SetAnchors, NestedChildrenFollowTheWindowOnResize)
{
    TForm form;
    auto* central = new QWidget;
    form.setCentralWidget(central);
    auto* group = new QGroupBox(central);
    group->setGeometry(12, 112, 427, 348);
    group->setProperty("anchors", QStringLiteral("akLeft,akTop,akRight,akBottom"));
    auto* preview = new QWidget(group);
    preview->setGeometry(21, 36, 386, 197);
    preview->setProperty("anchors", QStringLiteral("akLeft,akTop,akRight,akBottom"));
    auto* capture = new QPushButton(group);
    capture->setGeometry(293, 298, 114, 41);
    capture->setProperty("anchors", QStringLiteral("akRight,akBottom"));
    auto* ok = new QPushButton(central);
    ok->setGeometry(604, 490, 84, 36);
    SetAnchors(ok, TAnchors(TAnchorKind::akRight) | TAnchorKind::akBottom, QSize(792, 535));

    AnchorChildren(central, QSize(792, 535));
    form.resize(792, 535);
    form.show();
    EXPECT_EQ(group->geometry(), QRect(12, 112, 427, 348));
    EXPECT_EQ(ok->geometry(), QRect(604, 490, 84, 36));

    form.resize(892, 635);
    EXPECT_EQ(central->size(), QSize(892, 635));
    EXPECT_EQ(group->geometry(), QRect(12, 112, 527, 448));
    EXPECT_EQ(preview->geometry(), QRect(21, 36, 486, 297));
    EXPECT_EQ(capture->geometry(), QRect(393, 398, 114, 41));
    EXPECT_EQ(ok->geometry(), QRect(704, 590, 84, 36));
}

TEST(TForm, CloseQuestionAndCloseActionDecideWhetherTheFormCloses)
{
    TForm form;
    bool answer = false;
    int questions = 0;
    TCloseAction action = TCloseAction::caHide;
    form.OnCloseQuery = [&](QObject* sender, bool& canClose) {
        EXPECT_EQ(sender, &form);
        EXPECT_TRUE(canClose);
        ++questions;
        canClose = answer;
    };
    form.OnClose = [&](QObject*, TCloseAction& closeAction) { closeAction = action; };
    form.show();

    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    answer = true;
    action = TCloseAction::caNone;
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    action = TCloseAction::caHide;
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(questions, 3);
}

TEST(TForm, ShowModalAnswersTheModalResult)
{
    TForm form;
    bool allowClose = true;
    form.OnCloseQuery = [&](QObject*, bool& canClose) { canClose = allowClose; };

    QTimer::singleShot(0, &form, [&] { form.SetModalResult(mrOk); });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_FALSE(form.isVisible());

    // Closed by the title bar: Cancel.
    QTimer::singleShot(0, &form, [&] { form.close(); });
    EXPECT_EQ(form.ShowModal(), mrCancel);

    // A refused close clears the result and the form stays up until a later close goes ahead.
    QTimer::singleShot(0, &form, [&] {
        allowClose = false;
        form.SetModalResult(mrOk);
        EXPECT_EQ(form.ModalResult(), mrNone);
        EXPECT_TRUE(form.isVisible());
        allowClose = true;
        form.SetModalResult(mrYes);
    });
    EXPECT_EQ(form.ShowModal(), mrYes);
}

TEST(TForm, KeysPressDefaultAndCancelButtonsAndAskForHelp)
{
    TForm form;
    auto* central = new QWidget;
    form.setCentralWidget(central);
    auto* okButton = new QPushButton(QStringLiteral("OK"), central);
    auto* cancelButton = new QPushButton(QStringLiteral("キャンセル"), central);
    form.SetDefaultButton(okButton);
    form.SetCancelButton(cancelButton);
    QStringList pressed;
    QObject::connect(okButton, &QPushButton::clicked, [&] { pressed.append(QStringLiteral("ok")); });
    QObject::connect(cancelButton, &QPushButton::clicked, [&] { pressed.append(QStringLiteral("cancel")); });
    QList<std::pair<int, int>> help;
    form.OnHelp = [&](std::uint16_t command, std::int32_t data, bool& callHelp) {
        callHelp = false;
        help.append({command, data});
        return false;
    };
    form.show();
    central->setFocus();

    QTest::keyClick(central, Qt::Key_Return);
    QTest::keyClick(central, Qt::Key_Escape);
    cancelButton->setFocus();
    QTest::keyClick(cancelButton, Qt::Key_Return); // a focused button takes Enter itself
    EXPECT_EQ(pressed, (QStringList{QStringLiteral("ok"), QStringLiteral("cancel"), QStringLiteral("cancel")}));

    QTest::keyClick(central, Qt::Key_F1);
    form.SetHelpContext(6007);
    QTest::keyClick(central, Qt::Key_F1);
    TApplication::SetMainForm(&form);
    TApplication::HelpContext(6007);
    TApplication::SetMainForm(nullptr);
    EXPECT_EQ(help, (QList<std::pair<int, int>>{{HELP_FINDER, 0}, {HELP_CONTEXT, 6007}, {HELP_CONTEXT, 6007}}));
}

TEST(FormFont, WindowsFaceNamesFindTheJapaneseSubstitute)
{
    const QFont font = FormFont(QStringLiteral("ＭＳ Ｐゴシック"), -12);
    EXPECT_EQ(font.pixelSize(), 12);
    EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAPGothic"));
}
