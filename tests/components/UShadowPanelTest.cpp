// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UShadowPanel.h"

#include <QImage>
#include <gtest/gtest.h>

TEST(TIntegerList, IndexAndCountErrorsLeaveTheListAndEqualValuesAreNoChange)
{
    TAlignOffset offset;
    int changes = 0;
    offset.OnChange = [&changes](TObject*) { ++changes; };
    offset.SetTop(5);
    offset.SetTop(5);
    EXPECT_EQ(changes, 1);
    try {
        offset.SetValue(4, 1);
        FAIL();
    } catch (const EIntegerList& error) {
        EXPECT_STREQ(error.what(), "リストのインデックスが範囲を超えています (4)");
    }
    EXPECT_THROW((void)offset.Value(-1), EIntegerList);

    TIntegerList three(3);
    three.SetValue(0, 9);
    try {
        offset.Assign(three);
        FAIL();
    } catch (const EIntegerList& error) {
        EXPECT_STREQ(error.what(), kCountMismatchText);
    }
    EXPECT_EQ(offset.Top(), 5);
    EXPECT_EQ(changes, 1);

    TAlignOffset copy;
    copy.Assign(offset);
    EXPECT_EQ(copy.Top(), 5);
    TRect r{0, 0, 100, 50};
    copy.SetLeft(8);
    copy.SetRight(1);
    copy.ApplyTo(r);
    EXPECT_EQ(r, (TRect{8, 5, 99, 50}));
}

TEST(TPaintPanel, ChildrenFollowTheOffsetsAndTheBaseControlCoversAll)
{
    TPaintPanel panel;
    panel.resize(200, 100);
    panel.show(); // hidden widgets get their resize event only when shown
    auto* client = new QWidget(&panel);
    auto* top = new QWidget(&panel);
    top->resize(10, 20);
    SetAlign(top, TAlign::alTop);
    SetAlign(client, TAlign::alClient);
    auto* base = new QWidget(&panel);
    panel.SetBaseControl(base);
    EXPECT_EQ(base->geometry(), QRect(0, 0, 200, 100));
    EXPECT_EQ(top->geometry(), QRect(0, 0, 200, 20));
    EXPECT_EQ(client->geometry(), QRect(0, 20, 200, 80));

    panel.AlignOffset().SetLeft(8);
    EXPECT_EQ(client->geometry(), QRect(8, 20, 192, 80));
    // An unchanged value does not realign: a child moved by hand stays.
    client->move(0, 0);
    panel.AlignOffset().SetLeft(8);
    EXPECT_EQ(client->pos(), QPoint(0, 0));

    int resizes = 0;
    panel.OnResize = [&](QObject*) {
        ++resizes;
        top->resize(10, 30); // aligned together with the resize, after the handler
    };
    panel.resize(300, 100);
    EXPECT_EQ(resizes, 1);
    EXPECT_EQ(client->geometry(), QRect(8, 30, 292, 70));
    EXPECT_EQ(base->geometry(), QRect(0, 0, 300, 100));

    delete base;
    EXPECT_EQ(panel.BaseControl(), nullptr);
}

TEST(TShadowPanel, WindowShapeLeavesOutTheUncoveredCornersOnlyWithAShadow)
{
    TShadowPanel panel;
    panel.resize(50, 40);
    panel.show();
    ASSERT_TRUE(panel.ShadowRegion());
    const QRegion shape = *panel.ShadowRegion();
    EXPECT_FALSE(shape.contains(QPoint(49, 0)));
    EXPECT_FALSE(shape.contains(QPoint(0, 39)));
    EXPECT_TRUE(shape.contains(QPoint(47, 2)));
    EXPECT_TRUE(shape.contains(QPoint(49, 39)));
    EXPECT_EQ(panel.mask(), shape);

    panel.SetShadow(false);
    EXPECT_FALSE(panel.ShadowRegion());
    EXPECT_TRUE(panel.mask().isEmpty());
    panel.SetShadow(true);
    EXPECT_TRUE(panel.ShadowRegion());
    panel.SetShadowWidth(0);
    EXPECT_FALSE(panel.ShadowRegion());
}

TEST(TShadowPanel, PaintsFrameShadowBandAndCaption)
{
    TShadowPanel panel;
    panel.resize(60, 30);
    panel.Brush().SetColor(clWhite);
    panel.SetShadowColor(clBlue);
    panel.SetCaption("ab");
    const QImage image = panel.grab().toImage();
    EXPECT_EQ(image.pixelColor(59, 29), QColor(Qt::blue)); // the band
    EXPECT_EQ(image.pixelColor(58, 2), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::black));  // the frame
    EXPECT_EQ(image.pixelColor(57, 27), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(30, 3), QColor(Qt::white)); // the inside
    int dark = 0;
    for (int x = 2; x < 20; ++x)
        for (int y = 2; y < 26; ++y)
            dark += image.pixelColor(x, y).lightness() < 128;
    EXPECT_GT(dark, 3); // the caption's letters
}

TEST(TShadowPanel, CaptionLinesAndPlacement)
{
    struct LineCase {
        const char* Text;
        int N;
        const char* Expected;
    };
    const LineCase lines[] = {{"abc\r\ndef", 0, "abc"}, {"abc\r\ndef", 1, "def"}, {"abc\r\ndef", 2, ""},
                              {"abc\ndef", 0, "abc\ndef"}, {"one", 1, ""}, {"a\r\nb\r\nc", 2, "c"}};
    for (const LineCase& c : lines)
        EXPECT_EQ(TShadowPanel::CaptionLine(QString::fromLatin1(c.Text), c.N), QString::fromLatin1(c.Expected))
            << c.Text << " " << c.N;

    const TRect r{0, 0, 100, 30};
    const QSize text(40, 10);
    EXPECT_EQ(TShadowPanel::CaptionTextOrigin(TAlignmentEx::taeLeftJustify, text, r, 1), QPoint(3, 10));
    EXPECT_EQ(TShadowPanel::CaptionTextOrigin(TAlignmentEx::taeRightJustify, text, r, 1), QPoint(57, 10));
    EXPECT_EQ(TShadowPanel::CaptionTextOrigin(TAlignmentEx::taeCenter, text, r, 1), QPoint(30, 10));
    // Wider than the box: centred text starts left of the box (half of -21 is -10).
    EXPECT_EQ(TShadowPanel::CaptionTextOrigin(TAlignmentEx::taeCenter, QSize(119, 10), r, 1), QPoint(-9, 10));
}
