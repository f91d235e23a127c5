// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/USeekBarPictures.h"

#include "capture/UMomentEntry.h"
#include "decoder/UMovieDecoder.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace {

constexpr int PopupBorder = 2;
constexpr int TimeStripHeight = 16;
// Between the popup's bottom and the bar's top, so that the pointer never enters it.
constexpr int PopupGap = 4;
const QColor PopupFrame(32, 32, 32);
const QColor PopupText(240, 240, 240);

QStyleOptionSlider SliderOption(const QSlider& slider)
{
    // As QSlider fills it for its own mouse handling, which is not public.
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = slider.orientation();
    option.maximum = slider.maximum();
    option.minimum = slider.minimum();
    option.tickPosition = slider.tickPosition();
    option.tickInterval = slider.tickInterval();
    option.upsideDown = slider.orientation() == Qt::Horizontal
        ? slider.invertedAppearance() != (option.direction == Qt::RightToLeft)
        : !slider.invertedAppearance();
    option.direction = Qt::LeftToRight;
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.singleStep = slider.singleStep();
    option.pageStep = slider.pageStep();
    if (slider.orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    return option;
}

} // namespace

int SliderValueAt(const QSlider& slider, int x)
{
    const QStyleOptionSlider option = SliderOption(slider);
    const QStyle* style = slider.style();
    const QRect groove = style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &slider);
    const QRect handle = style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    const int handleLength = handle.width();
    const int span = groove.right() - handleLength + 1 - groove.x();
    const int pos = x - (handle.center().x() - handle.left()) - groove.x();
    return QStyle::sliderValueFromPosition(slider.minimum(), slider.maximum(), pos, span, option.upsideDown);
}

TBarPicturePopup::TBarPicturePopup(QWidget* owner) : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBarPicturePopup::ShowAt(const QImage& picture, QSize size, const QString& time, QPoint anchor)
{
    FPictureSize = size;
    FPicture = picture;
    FTime = time;
    const QSize outer(size.width() + 2 * PopupBorder, size.height() + 2 * PopupBorder + TimeStripHeight);
    QPoint place(anchor.x() - outer.width() / 2, anchor.y() - outer.height() - PopupGap);
    if (const QScreen* screen = QGuiApplication::screenAt(anchor)) {
        const QRect room = screen->availableGeometry();
        place.setX(std::clamp(place.x(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())));
        place.setY(std::max(place.y(), room.top()));
    }
    setGeometry(QRect(place, outer));
    update();
    if (!isVisible())
        show();
}

void TBarPicturePopup::SetPicture(const QImage& picture)
{
    FPicture = picture;
    update();
}

void TBarPicturePopup::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    canvas.fillRect(rect(), PopupFrame);
    const QRect place(PopupBorder, PopupBorder, FPictureSize.width(), FPictureSize.height());
    if (!FPicture.isNull())
        canvas.drawImage(place, FPicture);
    canvas.setPen(PopupText);
    canvas.drawText(QRect(0, place.bottom() + 1, width(), TimeStripHeight), Qt::AlignCenter, FTime);
}

TSeekBarPictures::TSeekBarPictures(QSlider& bar, TSettings settings, std::unique_ptr<TMovieDecoder> decoder)
    : FBar(bar), FSettings(std::move(settings)), FPopup(new TBarPicturePopup(bar.window())),
      FPictures([this](std::int32_t requestedMs, const QImage& picture, std::int32_t) { PictureCame(requestedMs, picture); },
                std::move(decoder))
{
    FBar.setMouseTracking(true);
    FBar.installEventFilter(this);
}

TSeekBarPictures::~TSeekBarPictures()
{
    FBar.removeEventFilter(this);
    // The bar's window owns the popup and deletes it with itself.
    Hide();
}

void TSeekBarPictures::Open(const std::string& fileName, std::int32_t durationMs, QSize coded,
                            const TDisplayTransform& display)
{
    Hide();
    FPictures.Open(fileName, durationMs, coded, display);
}

void TSeekBarPictures::Close()
{
    Hide();
    FPictures.Close();
}

void TSeekBarPictures::HoverAt(int x)
{
    if (!FPictures.IsOpen() || !FBar.isEnabled() || !FPopup)
        return;
    const int inside = std::clamp(x, 0, std::max(FBar.width() - 1, 0));
    FHoverMs = SliderValueAt(FBar, inside);
    // The place's picture follows when it comes; until then the last one stands in, so that a
    // sweep shows the pictures passed rather than a flicker of empty frames.
    const QImage standIn = FPopup->Picture().size() == FPictures.PictureSize() ? FPopup->Picture() : QImage();
    FPopup->ShowAt(standIn, FPictures.PictureSize(), MomentTime(FHoverMs), FBar.mapToGlobal(QPoint(inside, 0)));
    FPictureCame = false;
    FPictures.Ask(FHoverMs, FSettings());
    if (!FPictureCame && !FWaiting.isValid())
        FWaiting.start();
}

void TSeekBarPictures::Hide()
{
    FHoverMs = -1;
    FWaiting.invalidate();
    if (FPopup)
        FPopup->hide();
}

void TSeekBarPictures::PictureCame(std::int32_t, const QImage& picture)
{
    if (FHoverMs < 0 || !FPopup)
        return;
    FPictureCame = true;
    FPopup->SetPicture(picture);
    if (FPictureShown)
        FPictureShown(FHoverMs, picture.size(), FWaiting.isValid() ? FWaiting.elapsed() : 0);
    FWaiting.invalidate();
}

bool TSeekBarPictures::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &FBar) {
        switch (event->type()) {
        case QEvent::MouseMove:
            HoverAt(static_cast<QMouseEvent*>(event)->position().toPoint().x());
            break;
        case QEvent::Leave:
            // A drag holds on to the bar: its pictures follow the pointer until the release.
            if (!FBar.isSliderDown())
                Hide();
            break;
        case QEvent::MouseButtonRelease:
            if (!FBar.underMouse())
                Hide();
            break;
        case QEvent::ToolTip:
            // The bar's hint would cover the place's picture; with a movie the picture says more.
            if (FPictures.IsOpen())
                return true;
            break;
        case QEvent::EnabledChange:
        case QEvent::Hide:
            Hide();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
