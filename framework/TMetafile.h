// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The metafile: a recorded sequence of drawing operations over QPicture. It is drawn stretched
// from its own size into the target rectangle; a TMetafileCanvas records into it.
#include "framework/TCanvas.h"
#include "framework/TGraphic.h"

#include <QPainter>
#include <QPicture>
#include <memory>

inline constexpr const char* kMetafileNotReadText = "メタファイルは読み込めません";

class TMetafile : public TGraphic {
    FRAMORA_GRAPHIC_CLASS(TMetafile, TGraphic, "TMetafile")
public:
    TMetafile() = default;

    void Assign(const TGraphic& source) override;
    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override;
    // The size set explicitly, or else the bounds of what was recorded.
    int Width() const override;
    int Height() const override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    // Always refuses: a metafile is recorded, never read.
    void LoadFromStream(TStream& stream) override;
    // The recording's own serialized form (what Equals compares).
    void SaveToStream(TStream& stream) const override;
    void Clear();

    const QPicture& Picture() const { return FPicture; }
    void SetPicture(const QPicture& picture);

private:
    QPicture FPicture;
    int FWidth = 0;  // 0: take the recorded bounds
    int FHeight = 0;
};

// Records onto a new picture while it lives, and hands it to the metafile when it goes.
class TMetafileCanvas : public TCanvas {
public:
    explicit TMetafileCanvas(TMetafile& metafile);
    ~TMetafileCanvas() override;

protected:
    int DeviceTechnology() const override;

private:
    TMetafile& FMetafile;
    QPicture FRecording;
    QPainter FRecorder;
};
