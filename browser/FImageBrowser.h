// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scene browser: the pictures of an image pack as a grid of framed, captioned thumbnails
// that the user selects from. It keeps its own cache of finished thumbnails (ImagePack) and
// makes them either at once while the list draws or from pictures its background loader read.
// It also carries a file-list mode (items standing for files, with a report view).
#include "browser/UImageLoadThread.h"
#include "browser/UListViewEx.h"
#include "framework/TForm.h"
#include "imagestore/UCustomImagePack.h"
#include "imagestore/UGraphicsUtil.h"

#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class TfrmImageBrowser;
}
class TGlobalNotify;
class TImageList;
class TListener;
class TShadowPanel;

inline constexpr const char* kPlaceholderText = QT_TRANSLATE_NOOP("TfrmImageBrowser", "プレビュー作成中...");
inline constexpr const char* kEllipsisText = "...";
inline constexpr const char* kColumnNameText = QT_TRANSLATE_NOOP("TfrmImageBrowser", "名前");
inline constexpr const char* kColumnSizeText = QT_TRANSLATE_NOOP("TfrmImageBrowser", "サイズ");
inline constexpr const char* kColumnTypeText = QT_TRANSLATE_NOOP("TfrmImageBrowser", "種類");
inline constexpr const char* kColumnDateText = QT_TRANSLATE_NOOP("TfrmImageBrowser", "更新日時");

// The thumbnail cache holds about this many bytes of 24-bit thumbnail pixels.
inline constexpr std::uint64_t kThumbnailCacheBudget = 10485760;
// Thumbnails fit a box this much narrower and lower than their cell.
inline constexpr int kThumbnailFrameRoom = 2;
inline constexpr int kThumbnailCaptionRoom = 12;

// The thumbnail cache limit for S x S cells: 349 for 100. Kept within 1 .. 65535.
std::uint16_t ThumbnailCacheLimit(unsigned size);
// The texts the report sorts by: the digits (with "." and " ") of a size text such as
// "1,500KB", and a date-time text in days; 0 for text that does not convert.
double SortKeyNumber(const QString& text);
double SortKeyDate(const QString& text);

class TfrmImageBrowser : public TForm {
    Q_OBJECT
public:
    explicit TfrmImageBrowser(QWidget* owner = nullptr);
    ~TfrmImageBrowser() override;

    TCustomImagePack* ImageSource() const { return FImageSource; }
    void SetImageSource(TCustomImagePack* source);
    bool UseLoaderThread() const { return FUseLoaderThread; }
    void SetUseLoaderThread(bool use);
    unsigned ThumbnailSize() const;
    void SetThumbnailSize(unsigned size);

    void SetCaptions(const QStringList& captions);
    // Adds the item of image index to the selection and scrolls it wholly into view; -1 clears
    // the selection. An index without an item does nothing.
    void SelectImage(std::int32_t index);
    // The image index of the first selected item; -1 when none.
    std::int32_t SelectedIndex() const;
    void SelectedText(QString& text) const;

    void ArrangeThumbnails();
    void FitCaptions();
    // text, or its longest head followed by "..." that fits maxWidth on canvas.
    static QString FitText(TCanvas& canvas, const QString& text, int maxWidth);
    void MakeThumbnail(TPicture& source, TPictureEx& target);
    // Device pixels per logical pixel of the screen the list is on (at least 1): thumbnails are
    // made with that many pixels and drawn at their logical size.
    qreal ThumbnailPixelRatio() const;
    // The picture that stands in for a thumbnail the loader has not delivered yet.
    static const TPicture& PlaceholderPicture();
    // Takes at most one picture the loader finished, thumbnails it and redraws its item.
    void TakeLoadedThumbnail();

    // 0 and 1: thumbnails; 2: file list with large icons, 3: with small icons, 4: report.
    std::uint8_t ViewMode() const { return FViewMode; }
    void SetViewMode(std::uint8_t mode);
    std::function<void(std::int32_t index, QString& path)> FileNameOf;
    // The hint of image index; when absent, a shortened caption shows itself whole.
    std::function<QString(std::int32_t index)> HintOf;
    TColor FrameColour = clWhite;
    TColor ThumbTransparentColour = NoTransparency;

    // The form's components.
    TShadowPanel* shdwPanelBase = nullptr;
    TListViewEx* ListView1 = nullptr;
    TCustomImagePack* ImagePack = nullptr;
    TImageList* ImageList1 = nullptr;
    TImageList* imgListSmall = nullptr;
    TGlobalNotify* GlobalNotify1 = nullptr;
    TImageLoadThread& Loader() { return *FLoader; }

private:
    void FormCreate();
    void FormDestroy();
    void FormClose(QObject* sender, TCloseAction& action);
    void FormActivate();
    void ImagePackGetCount(TObject* sender, std::int32_t& count);
    void ImagePackGetImage(TObject* sender, TPictureEx& picture, std::int32_t no);
    void ListView1CustomDrawItem(TListView* sender, int item, TCanvas& canvas, bool& defaultDraw);
    void ListView1Resize(QObject* sender);
    void ListView1InfoTip(QObject* sender, int item, QString& tip);
    void ListView1ColumnClick(QObject* sender, int column);
    void ListView1Compare(QObject* sender, const TListItemText& item1, const TListItemText& item2, int data,
                          int& compare);
    void GlobalNotify1Idle(QObject* sender);
    void SourceNotify(TObject* sender, const TGUID& eventId);

protected:
    void changeEvent(QEvent* event) override;

private:
    // The list's background: the design grey under a light palette, the palette's own base
    // under a dark one, where the captions' palette text would not read on the grey.
    void TakePaletteColours();
    bool InThumbnailView() const { return FViewMode <= 1; }
    void DrawThumbnail(int item, TCanvas& canvas);
    void DrawCaption(int item, TCanvas& canvas);
    void CreateReportColumns();
    void FillFromFiles(int count);
    void AddFileItem(class TExFileInfo& info, std::int32_t index);
    int HostLeft() const;

    std::unique_ptr<Ui::TfrmImageBrowser> FUi;
    std::unique_ptr<TImageLoadThread> FLoader;
    TCustomImagePack* FImageSource = nullptr; // not owned; cleared when the pack announces its end
    std::unique_ptr<TListener> FSourceListener;
    bool FArranging = false;
    bool FUseLoaderThread = true;
    std::int32_t FSortColumn = -1; // the report column last sorted ascending
    std::uint8_t FViewMode = 0;
};
