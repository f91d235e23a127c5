// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/UAutoCaptureDialog.h"

#include "decoder/USceneScanner.h"

#include <QCoreApplication>
#include <QDialog>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const char* const ScenesTitle = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "シーンの変わり目をキャプチャ");
const char* const IntervalTitle = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "一定間隔でキャプチャ");
const char* const WholeMovieText = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "動画全体");
const char* const FromCurrentText = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "現在の位置から最後まで");
const char* const ThresholdLabel = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "しきい値（小さいほど多く検出）:");
const char* const ThresholdHint = QT_TRANSLATE_NOOP(
    "TAutoCaptureDialog",
    "二つの絵の間の色と構図の変化がこの値（0〜255）以上で、直前の絵どうしの変化より際立つところをシーンの変わり目とします。");
const char* const SharpestText = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "各シーンで最もシャープな画像");
const char* const SharpestHint = QT_TRANSLATE_NOOP(
    "TAutoCaptureDialog",
    "変わり目の少し後の画像の代わりに、シーンの最初の2秒間で最もシャープな画像をキャプチャします。時間がかかります。");
const char* const IntervalLabel = QT_TRANSLATE_NOOP("TAutoCaptureDialog", "間隔:");
const char* const SecondsSuffix = QT_TRANSLATE_NOOP("TAutoCaptureDialog", " 秒");

QString Tr(const char* text)
{
    return QCoreApplication::translate("TAutoCaptureDialog", text);
}

constexpr double MaxThreshold = 255;
constexpr double MinIntervalSeconds = 0.1;
constexpr double MaxIntervalSeconds = 3600;
constexpr double DefaultIntervalSeconds = 10;

std::optional<TAutoCaptureChoice> AcceptProposal(const TAutoCaptureRequest& request)
{
    return request.Proposed;
}

} // namespace

TAutoCaptureChoice DefaultAutoCaptureChoice()
{
    return {false, SceneDetection::DefaultThreshold, DefaultIntervalSeconds, false};
}

std::optional<TAutoCaptureChoice> AskAutoCapture(QWidget* parent, TAutoCaptureMode mode,
                                                 const TAutoCaptureChoice& proposed)
{
    if (auto* script = TAutoCaptureScript::Current())
        return script->Answer({parent, mode, proposed});

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("AutoCaptureDialog"));
    dialog.setWindowTitle(Tr(mode == TAutoCaptureMode::Scenes ? ScenesTitle : IntervalTitle));
    auto* whole = new QRadioButton(Tr(WholeMovieText), &dialog);
    auto* fromCurrent = new QRadioButton(Tr(FromCurrentText), &dialog);
    (proposed.FromCurrent ? fromCurrent : whole)->setChecked(true);
    auto* value = new QDoubleSpinBox(&dialog);
    if (mode == TAutoCaptureMode::Scenes) {
        value->setRange(1, MaxThreshold);
        value->setDecimals(0);
        value->setValue(proposed.Threshold);
        value->setToolTip(Tr(ThresholdHint));
    } else {
        value->setRange(MinIntervalSeconds, MaxIntervalSeconds);
        value->setDecimals(1);
        value->setSuffix(Tr(SecondsSuffix));
        value->setValue(proposed.IntervalSeconds);
    }
    auto* sharpest = new QCheckBox(Tr(SharpestText), &dialog);
    sharpest->setObjectName(QStringLiteral("SharpestCheck"));
    sharpest->setChecked(proposed.Sharpest);
    sharpest->setToolTip(Tr(SharpestHint));
    sharpest->setVisible(mode == TAutoCaptureMode::Scenes);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout;
    form->addRow(Tr(mode == TAutoCaptureMode::Scenes ? ThresholdLabel : IntervalLabel), value);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(whole);
    layout->addWidget(fromCurrent);
    layout->addLayout(form);
    if (mode == TAutoCaptureMode::Scenes)
        layout->addWidget(sharpest);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    TAutoCaptureChoice choice = proposed;
    choice.FromCurrent = fromCurrent->isChecked();
    choice.Sharpest = mode == TAutoCaptureMode::Scenes && sharpest->isChecked();
    (mode == TAutoCaptureMode::Scenes ? choice.Threshold : choice.IntervalSeconds) = value->value();
    return choice;
}

TAutoCaptureScript::TAutoCaptureScript(QList<std::optional<TAutoCaptureChoice>> answers)
    : TAnswerScript(std::move(answers), AcceptProposal)
{
}
