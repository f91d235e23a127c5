// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UShadowPanel.h"

namespace {
// Room between a caption and the frame, and between the two parts of a two-part caption.
constexpr int kCaptionMargin = 2;
constexpr int kCaptionGap = 4;
} // namespace

TShadowPanel::TShadowPanel(QWidget* owner) : TPaintPanel(owner)
{
    FFont.OnChange = MakeNotifyEvent<&TShadowPanel::StyleChanged>(this);
    FPen.OnChange = MakeNotifyEvent<&TShadowPanel::StyleChanged>(this);
    UpdateShadowRegion();
}

TShadowPanel::~TShadowPanel()
{
    ReleaseShadowRegion();
}

void TShadowPanel::StyleChanged(TObject*)
{
    update();
}

void TShadowPanel::SetCaption(const QString& caption)
{
    FCaption = caption;
    update();
}

void TShadowPanel::SetShadow(bool shadow)
{
    FShadow = shadow;
    UpdateShadowRegion();
    update();
}

void TShadowPanel::SetShadowColor(TColor color)
{
    FShadowColor = color;
    update();
}

void TShadowPanel::SetShadowWidth(int width)
{
    FShadowWidth = width;
    UpdateShadowRegion();
    update();
}

void TShadowPanel::SetAlignment(TAlignmentEx alignment)
{
    FAlignment = alignment;
    update();
}

void TShadowPanel::UpdateShadowRegion()
{
    ReleaseShadowRegion();
    if (!FShadow || FShadowWidth == 0)
        return;
    const int w = width();
    const int h = height();
    const int s = FShadowWidth;
    QRegion region = QRegion(ToQRect({0, 0, w - s, h - s})).united(QRegion(ToQRect({s, s, w, h})));
    setMask(region);
    FShadowRegion = region;
}

void TShadowPanel::ReleaseShadowRegion()
{
    if (!FShadowRegion)
        return;
    clearMask();
    FShadowRegion.reset();
}

QString TShadowPanel::CaptionLine(const QString& text, int n)
{
    QString rest = text;
    for (int i = 0; i < n; ++i) {
        const qsizetype feed = rest.indexOf(QLatin1Char('\n'));
        if (feed < 0)
            return {};
        rest = rest.mid(feed + 1);
    }
    const qsizetype ret = rest.indexOf(QLatin1Char('\r'));
    return ret < 0 ? rest : rest.left(ret);
}

QPoint TShadowPanel::CaptionTextOrigin(TAlignmentEx alignment, QSize textSize, const TRect& r, int inset)
{
    const TRect box{r.Left + inset, r.Top + inset, r.Right - inset, r.Bottom - inset};
    const int w = RectWidth(box);
    const int h = RectHeight(box);
    int x = box.Left + kCaptionMargin;
    if (alignment == TAlignmentEx::taeRightJustify)
        x = box.Right - textSize.width() - kCaptionMargin;
    else if (alignment == TAlignmentEx::taeCenter)
        x = box.Left + (w - textSize.width()) / 2;
    return {x, box.Top + (h - textSize.height()) / 2};
}

void TShadowPanel::DrawCaptionText(TAlignmentEx alignment, const QString& text, TRect r, int inset)
{
    const QPoint origin = CaptionTextOrigin(alignment, Canvas().TextExtent(text), r, inset);
    const TRect box{r.Left + inset, r.Top + inset, r.Right - inset, r.Bottom - inset};
    Canvas().TextRect(ToQRect(box), origin.x(), origin.y(), text);
}

void TShadowPanel::Paint()
{
    TCanvas& canvas = Canvas();
    canvas.SetPen(FPen);
    canvas.SetBrush(Brush());
    if (OnPaint) {
        OnPaint(this);
        return;
    }
    int w = width();
    int h = height();
    if (FShadow) {
        canvas.Brush().SetColor(FShadowColor);
        canvas.FillRect(ToQRect({FShadowWidth, FShadowWidth, w, h}));
        canvas.Brush().SetColor(Brush().Color());
        w -= FShadowWidth;
        h -= FShadowWidth;
    }
    canvas.Rectangle(ToQRect({0, 0, w, h}));
    if (FCaption.isEmpty())
        return;
    canvas.SetFont(FFont);
    TRect r{0, 0, w, h};
    const int p = FPen.Width();
    if (FAlignment != TAlignmentEx::taeLeftRight) {
        DrawCaptionText(FAlignment, FCaption, r, p);
        return;
    }
    DrawCaptionText(TAlignmentEx::taeLeftJustify, CaptionLine(FCaption, 0), r, p);
    const QString second = CaptionLine(FCaption, 1);
    if (second.isEmpty())
        return;
    r.Left = w - canvas.TextWidth(second) - 2 * p - kCaptionGap;
    DrawCaptionText(TAlignmentEx::taeRightJustify, second, r, p);
}

void TShadowPanel::resizeEvent(QResizeEvent* event)
{
    TPaintPanel::resizeEvent(event);
    UpdateShadowRegion();
}
