// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Track bars as Linux desktops have them: a click with the left button puts the position where it
// was clicked, instead of moving it a page towards the pointer. The keys and the wheel keep
// their steps.
class QSlider;

// Gives slider the desktop's click behaviour over whatever style the application uses; the style
// object lives as long as the slider.
void SetClickToPosition(QSlider& slider);
