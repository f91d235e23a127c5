// SPDX-License-Identifier: GPL-3.0-or-later
// A click on a track bar puts its position where it was clicked; the keys keep their steps.
#include "framework/TrackBarStyle.h"

#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(TrackBarStyle, AClickPutsThePositionWhereItWasClickedAndKeysStep)
{
    constexpr int Length = 20000, Page = 10000, Single = 1000;
    QSlider slider(Qt::Horizontal);
    slider.setRange(0, Length);
    slider.setPageStep(Page);
    slider.setSingleStep(Single);
    slider.resize(400, 32);
    SetClickToPosition(slider);
    slider.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    // The groove is a little shorter than the widget (the handle's half at each end).
    constexpr int Tolerance = Length / 20;
    for (const int percent : {75, 10, 50, 95}) {
        QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(slider.width() * percent / 100, slider.height() / 2));
        EXPECT_NEAR(slider.value(), Length * percent / 100, Tolerance) << percent << " %";
    }
    slider.setValue(5000);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(slider.value(), 5000 + Single);
    QTest::keyClick(&slider, Qt::Key_PageUp);
    EXPECT_EQ(slider.value(), 5000 + Single + Page);
    QTest::keyClick(&slider, Qt::Key_PageDown);
    EXPECT_EQ(slider.value(), 5000 + Single);
}

} // namespace
