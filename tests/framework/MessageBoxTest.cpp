// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <gtest/gtest.h>

#include <functional>

TEST(MessageBoxScript, AnswersInOrderThenWithTheDefaultButtonAndRecordsEveryQuestion)
{
    TMessageBoxScript script({TMsgResult::Cancel});
    QWidget window;
    EXPECT_EQ(MessageBox(&window, QStringLiteral("終了します。よろしいですか？"), QStringLiteral("Framora"),
                         TMsgButtons::OKCancel, TMsgIcon::Question),
              TMsgResult::Cancel);
    EXPECT_EQ(MessageBox(&window, QStringLiteral("again"), QStringLiteral("Framora"), TMsgButtons::OKCancel),
              TMsgResult::OK);
    EXPECT_EQ(MessageBox(nullptr, QStringLiteral("yes?"), QString(), TMsgButtons::YesNo), TMsgResult::Yes);

    ASSERT_EQ(script.Asked().size(), 3);
    EXPECT_EQ(script.Asked()[0].Caption, QStringLiteral("Framora"));
    EXPECT_EQ(script.Asked()[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(script.Asked()[0].Parent, &window);
    EXPECT_EQ(script.Texts(), (QStringList{QStringLiteral("終了します。よろしいですか？"), QStringLiteral("again"),
                                           QStringLiteral("yes?")}));
}

TEST(MessageBoxScript, NestedScriptAnswersUntilItGoes)
{
    TMessageBoxScript outer({TMsgResult::Cancel});
    {
        TMessageBoxScript inner([](const TMessageBoxRequest& request) {
            return request.Text == QStringLiteral("no") ? TMsgResult::No : TMsgResult::OK;
        });
        EXPECT_EQ(MessageBox(nullptr, QStringLiteral("no"), QString(), TMsgButtons::YesNo), TMsgResult::No);
        EXPECT_EQ(inner.Asked().size(), 1);
    }
    EXPECT_EQ(MessageBox(nullptr, QStringLiteral("x"), QString(), TMsgButtons::OKCancel), TMsgResult::Cancel);
    EXPECT_EQ(outer.Asked().size(), 1);
}

namespace {
// Answers the real box that is about to open, once it is up, with the given action.
void WhenBoxOpens(std::function<void(QMessageBox*)> act, QMessageBox** seen)
{
    QTimer::singleShot(0, [act, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        *seen = box;
        if (box)
            act(box);
    });
}
} // namespace

TEST(MessageBox, RealBoxShowsTextCaptionButtonsAndReportsThePressedOne)
{
    struct TCase {
        TMsgButtons Buttons;
        std::function<void(QMessageBox*)> Act;
        TMsgResult Expected;
    };
    const TCase cases[] = {
        {TMsgButtons::OKCancel, [](QMessageBox* box) { box->button(QMessageBox::Cancel)->click(); }, TMsgResult::Cancel},
        {TMsgButtons::OKCancel, [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); }, TMsgResult::OK},
        {TMsgButtons::OKCancel, [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, TMsgResult::Cancel},
        {TMsgButtons::OK, [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, TMsgResult::OK},
        {TMsgButtons::YesNo, [](QMessageBox* box) { box->button(QMessageBox::No)->click(); }, TMsgResult::No},
    };
    for (const TCase& c : cases) {
        QMessageBox* seen = nullptr;
        WhenBoxOpens(c.Act, &seen);
        const TMsgResult result = MessageBox(nullptr, QStringLiteral("動画シーンの取得ができませんでした。"),
                                             QStringLiteral("Framora"), c.Buttons, TMsgIcon::Information);
        ASSERT_NE(seen, nullptr);
        EXPECT_EQ(result, c.Expected);
    }

    QString text, caption;
    QMessageBox* unused = nullptr;
    WhenBoxOpens(
        [&](QMessageBox* box) {
            text = box->text();
            caption = box->windowTitle();
            box->accept();
        },
        &unused);
    MessageBox(nullptr, QStringLiteral("すでに実行中です。"), QStringLiteral("Framora"));
    EXPECT_EQ(text, QStringLiteral("すでに実行中です。"));
    EXPECT_EQ(caption, QStringLiteral("Framora"));
}

// Y and N answer a question in any language, also one whose translation of the buttons' texts
// drops their mnemonics (はい and いいえ, as a translation may give them); the details are
// shown under the text.
TEST(MessageBox, YesAndNoAnswerToTheirKeysInEveryLanguage)
{
    struct TWithoutMnemonics : QTranslator {
        QString translate(const char*, const char* source, const char*, int) const override
        {
            const QByteArray text(source);
            return text == "&Yes" ? QStringLiteral("はい") : text == "&No" ? QStringLiteral("いいえ") : QString();
        }
        bool isEmpty() const override { return false; }
    } japanese;
    QCoreApplication::installTranslator(&japanese);
    const struct {
        Qt::Key Key;
        TMsgResult Expected;
    } cases[] = {{Qt::Key_Y, TMsgResult::Yes}, {Qt::Key_N, TMsgResult::No}};
    for (const auto& c : cases) {
        QString informative;
        QMessageBox* seen = nullptr;
        WhenBoxOpens(
            [&](QMessageBox* box) {
                informative = box->informativeText();
                QTest::keyClick(box, c.Key);
                // A key the box does not answer to leaves it open: it is then closed as no.
                QTimer::singleShot(2000, box, [box] { box->reject(); });
            },
            &seen);
        const TMsgResult result = MessageBox(nullptr, QStringLiteral("復元しますか？"), QStringLiteral("Framora"),
                                             TMsgButtons::YesNo, TMsgIcon::Question, QStringLiteral("3件"));
        ASSERT_NE(seen, nullptr);
        EXPECT_EQ(result, c.Expected) << c.Key;
        EXPECT_EQ(informative, QStringLiteral("3件"));
    }
    QCoreApplication::removeTranslator(&japanese);
}
