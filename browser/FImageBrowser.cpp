// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/FImageBrowser.h"

#include "browser/UFileInfoUtil.h"
#include "components/UGlobalNotify.h"
#include "components/UMiscUtils.h"
#include "components/UShadowPanel.h"
#include "framework/DrawEdge.h"
#include "framework/TBitmap.h"
#include "framework/TImageList.h"
#include "graphics/UCanvas.h"
#include "framework/UBroadcaster.h"
#include "imagestore/USafetyBitmap.h"
#include "ui_FImageBrowser.h"

#include <QCollator>
#include <QEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// From the form description.
constexpr TColor kBaseColour = 0xB4B4B4;
constexpr int kBaseOffsetLeft = 8;
constexpr int kBaseOffsetTop = 8;
constexpr int kBaseOffsetRight = 1;
constexpr int kBaseOffsetBottom = 8;
constexpr int kDesignImageSize = 150;
constexpr TCIPCacheLimit kDesignCacheLimit = 200;
constexpr int kFormFontHeight = -12;
constexpr const char* kFormFontName = "ＭＳ Ｐゴシック";

// Thumbnail drawing: the frame's inset, the selection frame's width and colour.
constexpr int kFrameInset = 3;
constexpr int kSelectionPenWidth = 3;
constexpr TColor kSelectionColour = clNavy;
// Arrangement: room between cells.
constexpr int kCellSpacing = 10;

// List view comparison values: the column number plus one, negative for descending.
constexpr int kSizeSortKey = 2;
constexpr int kDateSortKey = 4;
constexpr double kMillisecondsPerDay = 86400000.0;

int AnsiCompareText(const QString& a, const QString& b)
{
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator.compare(a, b);
}

// The first k characters of text, a character being a whole code point.
QString HeadCharacters(const QString& text, int k)
{
    int units = 0;
    for (int counted = 0; counted < k && units < text.size(); ++counted)
        units += text[units].isHighSurrogate() && units + 1 < text.size() ? 2 : 1;
    return text.left(units);
}

std::unique_ptr<TPicture> BuildPlaceholderPicture()
{
    return MakeTextPicture(TfrmImageBrowser::tr(kPlaceholderText), clBlack);
}

} // namespace

std::uint16_t ThumbnailCacheLimit(unsigned size)
{
    const std::uint64_t cellBytes = std::uint64_t{size} * size * 3;
    if (cellBytes == 0)
        return std::numeric_limits<std::uint16_t>::max();
    return static_cast<std::uint16_t>(
        std::clamp<std::uint64_t>(kThumbnailCacheBudget / cellBytes, 1, std::numeric_limits<std::uint16_t>::max()));
}

double SortKeyNumber(const QString& text)
{
    QString kept;
    for (const QChar c : text)
        if (c == u'.' || c == u' ' || (c >= u'0' && c <= u'9'))
            kept += c;
    bool ok = false;
    const double value = kept.trimmed().toDouble(&ok);
    return ok ? value : 0.0;
}

double SortKeyDate(const QString& text)
{
    QDateTime when = QLocale().toDateTime(text, QLocale::ShortFormat);
    if (!when.isValid())
        when = QDateTime::fromString(text, Qt::ISODate);
    return when.isValid() ? static_cast<double>(when.toMSecsSinceEpoch()) / kMillisecondsPerDay : 0.0;
}

TfrmImageBrowser::TfrmImageBrowser(QWidget* owner)
    : TForm(owner), FUi(std::make_unique<Ui::TfrmImageBrowser>())
{
    FUi->setupUi(this);
    shdwPanelBase = FUi->shdwPanelBase;
    ListView1 = FUi->ListView1;
    setFont(FormFont(QString::fromUtf8(kFormFontName), kFormFontHeight));
    shdwPanelBase->SetShadow(false);
    shdwPanelBase->AlignOffset().SetLeft(kBaseOffsetLeft);
    shdwPanelBase->AlignOffset().SetTop(kBaseOffsetTop);
    shdwPanelBase->AlignOffset().SetRight(kBaseOffsetRight);
    shdwPanelBase->AlignOffset().SetBottom(kBaseOffsetBottom);
    SetAlign(ListView1, TAlign::alClient);
    SetAnchors(shdwPanelBase, akAll, QSize(width(), height()));

    ImageList1 = new TImageList(this, kDesignImageSize, kDesignImageSize);
    imgListSmall = new TImageList(this);
    TakePaletteColours();
    ListView1->SetLargeImages(ImageList1);
    ListView1->SetSmallImages(imgListSmall);

    ImagePack = new TCustomImagePack(this);
    ImagePack->setObjectName("ImagePack");
    ImagePack->SetCacheLimit(kDesignCacheLimit);
    ImagePack->OnGetCount = [this](TObject* s, std::int32_t& count) { ImagePackGetCount(s, count); };
    ImagePack->OnGetImage = [this](TObject* s, TPictureEx& p, std::int32_t no) { ImagePackGetImage(s, p, no); };
    GlobalNotify1 = new TGlobalNotify(this);
    GlobalNotify1->setObjectName("GlobalNotify1");
    GlobalNotify1->OnIdle = [this](QObject* s) { GlobalNotify1Idle(s); };

    ListView1->OnCustomDrawItem = [this](TListView* s, int item, TCanvas& c, bool& d) { ListView1CustomDrawItem(s, item, c, d); };
    ListView1->OnResize = [this](QObject* s) { ListView1Resize(s); };
    ListView1->OnInfoTip = [this](QObject* s, int item, QString& tip) { ListView1InfoTip(s, item, tip); };
    ListView1->OnColumnClick = [this](QObject* s, int column) { ListView1ColumnClick(s, column); };
    ListView1->OnCompare = [this](QObject* s, const TListItemText& a, const TListItemText& b, int d, int& r) {
        ListView1Compare(s, a, b, d, r);
    };
    OnClose = [this](QObject* s, TCloseAction& action) { FormClose(s, action); };
    OnActivate = [this](QObject*) { FormActivate(); };
    FormCreate();
}

TfrmImageBrowser::~TfrmImageBrowser()
{
    FormDestroy();
    // The components outlive this object's own part; none of them may call back into it.
    GlobalNotify1->OnIdle = nullptr;
    ListView1->OnCustomDrawItem = nullptr;
    ListView1->OnResize = nullptr;
    ListView1->OnInfoTip = nullptr;
    ListView1->OnColumnClick = nullptr;
    ListView1->OnCompare = nullptr;
    ListView1->SelectedItemText = nullptr;
    OnActivate = nullptr;
    HintOf = nullptr;
    ImagePack->OnGetCount = nullptr;
    ImagePack->OnGetImage = nullptr;
}

void TfrmImageBrowser::TakePaletteColours()
{
    const QPalette& colours = palette();
    const bool dark = colours.color(QPalette::Text).lightness() > colours.color(QPalette::Base).lightness();
    const TColor base = dark ? QColorToColor(colours.color(QPalette::Base)) : kBaseColour;
    shdwPanelBase->Brush().SetColor(base);
    shdwPanelBase->update();
    ListView1->SetColor(base);
}

void TfrmImageBrowser::changeEvent(QEvent* event)
{
    TForm::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        TakePaletteColours();
}

void TfrmImageBrowser::FormCreate()
{
    FLoader = std::make_unique<TImageLoadThread>();
    FSourceListener = std::make_unique<TListener>([this](TObject* s, const TGUID& id) { SourceNotify(s, id); });
    ThumbTransparentColour = NoTransparency;
    FileNameOf = nullptr;
    FrameColour = clWhite;
    FSortColumn = -1;
    FUseLoaderThread = true;
    FViewMode = 0;
    ListView1->SelectedItemText = [this](QString& text) { SelectedText(text); };
}

void TfrmImageBrowser::FormDestroy()
{
    FLoader->Stop();
    FLoader.reset();
    FSourceListener.reset();
}

void TfrmImageBrowser::FormClose(QObject*, TCloseAction& action)
{
    action = TCloseAction::caFree;
}

void TfrmImageBrowser::FormActivate()
{
    const QWidget* host = ListView1->window();
    if (host->isVisible() && host->isEnabled())
        ListView1->ItemArea()->setFocus();
}

void TfrmImageBrowser::SetImageSource(TCustomImagePack* source)
{
    FImageSource = source;
    if (source)
        FSourceListener->Listen(source);
    if (FUseLoaderThread)
        FLoader->SetSource(PackLoadSource(source));
}

void TfrmImageBrowser::SourceNotify(TObject* sender, const TGUID& eventId)
{
    if (eventId == kPackInvalidatedEventId) {
        if (FUseLoaderThread)
            FLoader->Flush();
    } else if (eventId == kPackChangedEventId) {
        if (FUseLoaderThread)
            FLoader->Flush();
        ImagePack->Reset();
    } else if (eventId == kDestroyingEventId && sender == FImageSource) {
        // A source that goes first must not be read afterwards, by this form or the loader.
        FLoader->SetSource(nullptr);
        FLoader->Flush();
        FImageSource = nullptr;
        ImagePack->Reset();
    }
}

void TfrmImageBrowser::SetUseLoaderThread(bool use)
{
    if (use == FUseLoaderThread)
        return;
    FUseLoaderThread = use;
    if (!use) {
        FLoader->Resume();
        FLoader->Flush();
        FLoader->Suspend();
    } else {
        FLoader->SetSource(PackLoadSource(FImageSource));
    }
}

unsigned TfrmImageBrowser::ThumbnailSize() const
{
    return static_cast<unsigned>(ImageList1->Width());
}

void TfrmImageBrowser::SetThumbnailSize(unsigned size)
{
    ImageList1->SetWidth(static_cast<int>(size));
    ImageList1->SetHeight(static_cast<int>(size));
    if (FUseLoaderThread)
        FLoader->Flush();
    ImagePack->Reset();
    if (ListView1->ViewStyle() == TViewStyle::vsReport)
        CreateReportColumns();
    else
        FitCaptions();
    ArrangeThumbnails();
    ImagePack->SetCacheLimit(ThumbnailCacheLimit(size));
}

void TfrmImageBrowser::ImagePackGetCount(TObject*, std::int32_t& count)
{
    if (FImageSource)
        count = FImageSource->GetCount();
}

void TfrmImageBrowser::ImagePackGetImage(TObject*, TPictureEx& picture, std::int32_t no)
{
    if (!FImageSource)
        return;
    TPictureEx source;
    if (FUseLoaderThread) {
        FLoader->Request(no);
        source.Assign(PlaceholderPicture());
    } else {
        FImageSource->SafeGetImage(source, no);
    }
    MakeThumbnail(source, picture);
}

void TfrmImageBrowser::MakeThumbnail(TPicture& source, TPictureEx& target)
{
    const TRect r = FitRect(TRect{0, 0, source.Width(), source.Height()}, ImageList1->Width() - kThumbnailFrameRoom,
                            ImageList1->Height() - kThumbnailCaptionRoom);
    // Made with as many pixels as the screen shows in the cell: a thumbnail of the cell's
    // logical size is enlarged, and blurred, on a scaled screen.
    const qreal ratio = ThumbnailPixelRatio();
    TSafetyBitmap& bitmap = ForceSafetyBitmap(target);
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(std::max(0, qRound(RectWidth(r) * ratio)), std::max(0, qRound(RectHeight(r) * ratio)));
    DrawPictureInto(source, bitmap, ThumbTransparentColour, true, clWhite);
}

qreal TfrmImageBrowser::ThumbnailPixelRatio() const
{
    return std::max<qreal>(1.0, devicePixelRatioF());
}

const TPicture& TfrmImageBrowser::PlaceholderPicture()
{
    static const std::unique_ptr<TPicture> picture = BuildPlaceholderPicture();
    return *picture;
}

void TfrmImageBrowser::SetCaptions(const QStringList& captions)
{
    if (!InThumbnailView()) {
        FillFromFiles(static_cast<int>(captions.size()));
        return;
    }
    ListView1->BeginUpdate();
    try {
        ListView1->ClearItems();
        for (int i = 0; i < captions.size(); ++i) {
            const int item = ListView1->AddItem(QString(), i);
            ListView1->SetItemSubItems(item, {captions[i]});
        }
        FitCaptions();
    } catch (...) {
        ListView1->EndUpdate();
        throw;
    }
    ListView1->EndUpdate();
    ArrangeThumbnails();
}

void TfrmImageBrowser::FitCaptions()
{
    if (!InThumbnailView())
        return;
    ListView1->BeginUpdate();
    for (int item = 0; item < ListView1->ItemCount(); ++item) {
        const QStringList subItems = ListView1->ItemSubItems(item);
        ListView1->SetItemCaption(item, FitText(ListView1->Canvas(), subItems.value(0), ImageList1->Width()));
    }
    ListView1->EndUpdate();
}

QString TfrmImageBrowser::FitText(TCanvas& canvas, const QString& text, int maxWidth)
{
    if (canvas.TextWidth(text) <= maxWidth)
        return text;
    const QString ellipsis = QString::fromUtf8(kEllipsisText);
    for (int k = static_cast<int>(text.toUcs4().size()); k >= 0; --k) {
        const QString candidate = HeadCharacters(text, k) + ellipsis;
        if (canvas.TextWidth(candidate) <= maxWidth)
            return candidate;
    }
    return ellipsis; // not even "..." fits: cells this small show no caption anyway
}

void TfrmImageBrowser::ArrangeThumbnails()
{
    if (!InThumbnailView())
        return;
    const QPoint origin = ListView1->ViewOrigin();
    if (FArranging || ListView1->ItemCount() == 0)
        return;
    // Restored on every way out: a throw that left either set would keep the list from ever
    // arranging or painting again.
    FArranging = true;
    ListView1->BeginUpdate();
    const auto restore = qScopeGuard([this] {
        ListView1->EndUpdate();
        FArranging = false;
    });
    int widest = -std::numeric_limits<int>::max();
    int tallest = -std::numeric_limits<int>::max();
    for (int item = 0; item < ListView1->ItemCount(); ++item) {
        const QRect bounds = ListView1->ItemBounds(item);
        widest = std::max(widest, bounds.width());
        tallest = std::max(tallest, bounds.height());
    }
    const int cellWidth = widest + kCellSpacing;
    const int cellHeight = tallest + kCellSpacing;
    const int viewWidth = ListView1->ViewRect().width();
    int columns = viewWidth / cellWidth;
    int margin = 0;
    if (columns <= 0)
        columns = 1;
    else
        margin = (viewWidth - (columns * cellWidth - kCellSpacing)) / 2;
    for (int item = 0; item < ListView1->ItemCount(); ++item)
        ListView1->SetItemPosition(item, QPoint(cellWidth * (item % columns) + HostLeft() + origin.x() + margin,
                                                cellHeight * (item / columns) + origin.y()));
    const int selected = ListView1->SelectedItem();
    if (selected >= 0)
        ListView1->MakeVisible(selected, false);
}

int TfrmImageBrowser::HostLeft() const
{
    // Hosted in a panel, the panel's left edge; standing alone, the browser has no host.
    return isWindow() || !parentWidget() ? 0 : parentWidget()->x();
}

void TfrmImageBrowser::ListView1Resize(QObject*)
{
    ArrangeThumbnails();
}

void TfrmImageBrowser::ListView1CustomDrawItem(TListView*, int item, TCanvas& canvas, bool& defaultDraw)
{
    const TInterfaceRef<IInterface> adjuster = AdjustCanvasEvents(canvas);
    if (!InThumbnailView())
        return;
    defaultDraw = false;
    if (!canvas.RectVisible(ListView1->ItemBounds(item)))
        return;
    DrawThumbnail(item, canvas);
    DrawCaption(item, canvas);
}

void TfrmImageBrowser::DrawThumbnail(int item, TCanvas& canvas)
{
    QRect r = ListView1->ItemIconRect(item);
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    canvas.Brush().SetColor(FrameColour);
    canvas.FillRect(r);
    DrawRaisedEdge(canvas, r);
    r.adjust(kFrameInset, kFrameInset, -kFrameInset, -kFrameInset);
    const std::int32_t index = static_cast<std::int32_t>(ListView1->ItemData(item));
    const qreal ratio = ThumbnailPixelRatio();
    const TRect thumb{0, 0, qRound(ImagePack->GetImageWidth(index) / ratio), qRound(ImagePack->GetImageHeight(index) / ratio)};
    ImagePack->StretchDrawImage(canvas, CenterRectAt(thumb, RectCenter(FromQRect(r))), index);
}

void TfrmImageBrowser::DrawCaption(int item, TCanvas& canvas)
{
    if (ListView1->ItemSelected(item)) {
        canvas.Brush().SetStyle(TBrushStyle::bsClear);
        canvas.Pen().SetColor(kSelectionColour);
        canvas.Pen().SetWidth(kSelectionPenWidth);
        canvas.Pen().SetStyle(TPenStyle::psInsideFrame);
        canvas.Refresh();
        canvas.Rectangle(ListView1->ItemIconRect(item));
        canvas.Pen().SetColor(clBlack);
        canvas.Pen().SetWidth(0);
        canvas.Brush().SetStyle(TBrushStyle::bsSolid);
        canvas.Brush().SetColor(kSelectionColour);
        canvas.Font().SetColor(clWhite);
    } else {
        canvas.Brush().SetStyle(TBrushStyle::bsSolid);
        canvas.Brush().SetColor(ListView1->Color());
        canvas.Font().SetColor(ListView1->FontColor());
    }
    const QRect label = ListView1->ItemLabelRect(item);
    canvas.Refresh();
    canvas.TextRect(label, label.left(), label.top(), ListView1->ItemCaption(item));
}

void TfrmImageBrowser::ListView1InfoTip(QObject*, int item, QString& tip)
{
    if (HintOf) {
        tip = HintOf(static_cast<std::int32_t>(ListView1->ItemData(item)));
        return;
    }
    const QString full = ListView1->ItemSubItems(item).value(0);
    if (ListView1->ItemCaption(item) != full)
        tip = full;
}

std::int32_t TfrmImageBrowser::SelectedIndex() const
{
    const int item = ListView1->SelectedItem();
    return item < 0 ? -1 : static_cast<std::int32_t>(ListView1->ItemData(item));
}

void TfrmImageBrowser::SelectedText(QString& text) const
{
    text.clear();
    const std::int32_t index = SelectedIndex();
    if (FileNameOf && index >= 0)
        FileNameOf(index, text);
}

void TfrmImageBrowser::SelectImage(std::int32_t index)
{
    if (index < 0) {
        ListView1->ClearSelection();
        return;
    }
    const int item = ListView1->FindData(index);
    if (item < 0)
        return;
    ListView1->SetItemSelected(item, true);
    ListView1->MakeVisible(item, false);
}

void TfrmImageBrowser::GlobalNotify1Idle(QObject*)
{
    if (FUseLoaderThread)
        TakeLoadedThumbnail();
    if (!ListView1->ClientRectVisible())
        ImagePack->ClearCache();
}

void TfrmImageBrowser::TakeLoadedThumbnail()
{
    TPictureEx loaded;
    const std::int32_t index = FLoader->TakeResult(loaded);
    if (index == -1)
        return;
    TPictureEx thumbnail;
    MakeThumbnail(loaded, thumbnail);
    ImagePack->StoreImage(thumbnail, index);
    const int item = ListView1->FindData(index);
    if (item >= 0)
        ListView1->UpdateItem(item);
}

void TfrmImageBrowser::SetViewMode(std::uint8_t mode)
{
    FViewMode = mode;
    switch (mode) {
    case 2: ListView1->SetViewStyle(TViewStyle::vsIcon); break;
    case 3: ListView1->SetViewStyle(TViewStyle::vsList); break;
    case 4: ListView1->SetViewStyle(TViewStyle::vsReport); break;
    default: ListView1->SetViewStyle(TViewStyle::vsIcon); break;
    }
}

void TfrmImageBrowser::CreateReportColumns()
{
    if (ListView1->ColumnCount() > 0)
        return;
    ListView1->BeginUpdate();
    ListView1->AddColumn(tr(kColumnNameText));
    ListView1->AddColumn(tr(kColumnSizeText), -1, Qt::AlignRight);
    ListView1->AddColumn(tr(kColumnTypeText));
    ListView1->AddColumn(tr(kColumnDateText));
    ListView1->EndUpdate();
}

void TfrmImageBrowser::ListView1ColumnClick(QObject*, int column)
{
    if (column == FSortColumn) {
        ListView1->CustomSort(-(column + 1));
        FSortColumn = -1;
    } else {
        ListView1->CustomSort(column + 1);
        FSortColumn = column;
    }
}

void TfrmImageBrowser::ListView1Compare(QObject*, const TListItemText& item1, const TListItemText& item2, int data,
                                        int& compare)
{
    const int key = std::abs(data);
    const QString text1 = key <= 1 ? item1.Caption : item1.SubItems.value(key - 2);
    const QString text2 = key <= 1 ? item2.Caption : item2.SubItems.value(key - 2);
    if (text1.isEmpty() || text2.isEmpty())
        compare = AnsiCompareText(text1, text2);
    else if (key == kSizeSortKey)
        compare = static_cast<int>(std::trunc(SortKeyNumber(text1) - SortKeyNumber(text2)));
    else if (key == kDateSortKey)
        compare = static_cast<int>(std::trunc(SortKeyDate(text1) - SortKeyDate(text2)));
    else
        compare = AnsiCompareText(text1, text2);
    if (data < 0)
        compare = -compare;
}

void TfrmImageBrowser::FillFromFiles(int count)
{
    {
        const auto cursor = ShowWatchCursor();
        ListView1->BeginUpdate();
        const auto endUpdate = qScopeGuard([this] { ListView1->EndUpdate(); });
        ListView1->ClearItems();
        if (FileNameOf) {
            TExFileInfo info;
            for (std::int32_t i = 0; i < count; ++i)
                AddFileItem(info, i);
            if (FViewMode == 2)
                TExFileInfo::AttachLargeSystemImageList(*ListView1);
            else
                TExFileInfo::AttachSmallSystemImageList(*ListView1);
        }
    }
    if (FViewMode == 4) {
        CreateReportColumns();
        // Sorted by name without counting as a click, so the first click on it sorts ascending.
        FSortColumn = -1;
        ListView1->CustomSort(1);
    }
}

void TfrmImageBrowser::AddFileItem(TExFileInfo& info, std::int32_t index)
{
    QString path;
    FileNameOf(index, path);
    const QFileInfo file(path);
    // Every item carries its index, found or not, so that selection reports the right file.
    const int item = ListView1->AddItem(file.fileName(), index);
    if (!file.exists())
        return;
    TShFileInfo shell;
    info.GetInfo(path, shell);
    ListView1->SetItemImageIndex(item, shell.IconIndex);
    const QLocale locale;
    QStringList subItems;
    subItems << (file.isDir() ? QString() : locale.toString(std::llround(file.size() / 1024.0)) + "KB");
    subItems << shell.TypeName;
    const QDateTime written = file.lastModified();
    if (written.isValid() && written.toMSecsSinceEpoch() != 0)
        subItems << locale.toString(written.toLocalTime(), QLocale::ShortFormat);
    ListView1->SetItemSubItems(item, subItems);
}
