// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The question automatic capture asks before it starts: which part of the movie, and how
// sensitive the scene detection is or how far apart the pictures are. Tests answer it through
// TAutoCaptureScript instead of the dialog.
#include "framework/TAnswerScript.h"

#include <QPointer>
#include <QWidget>

#include <optional>

enum class TAutoCaptureMode { Scenes, Interval };

struct TAutoCaptureChoice {
    // From the position on screen to the end; else the whole movie.
    bool FromCurrent = false;
    // Scenes: the mean change that counts as a cut (lower finds more).
    double Threshold = 0;
    // Interval: seconds between pictures.
    double IntervalSeconds = 0;
    // Scenes: each scene's sharpest picture of its first seconds instead of the picture a few
    // after its cut.
    bool Sharpest = false;
};

// The choice the dialog proposes: the whole movie, the detector's default threshold, 10 seconds.
TAutoCaptureChoice DefaultAutoCaptureChoice();

struct TAutoCaptureRequest {
    QPointer<QWidget> Parent;
    TAutoCaptureMode Mode = TAutoCaptureMode::Scenes;
    TAutoCaptureChoice Proposed;
};

// Shows the dialog for mode, filled with proposed; none when the user cancels.
std::optional<TAutoCaptureChoice> AskAutoCapture(QWidget* parent, TAutoCaptureMode mode,
                                                 const TAutoCaptureChoice& proposed);

// While one exists, AskAutoCapture asks it instead of the user (see TAnswerScript); once its
// queue is empty it accepts what the dialog proposes.
class TAutoCaptureScript : public TAnswerScript<TAutoCaptureRequest, std::optional<TAutoCaptureChoice>> {
public:
    explicit TAutoCaptureScript(QList<std::optional<TAutoCaptureChoice>> answers = {});
};
