// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The list view: items with a caption, sub-items, a data value, an image index and a
// selection, shown as freely positioned icons (icon style) or as rows with columns (report
// style). Both styles show one model with one selection. The owner may draw the icon-style
// items itself (OnCustomDrawItem), give hints per item (OnInfoTip) and sort with its own
// comparison (CustomSort with OnCompare). Items are addressed by their place in the list.
#include "framework/TCanvas.h"
#include "framework/TColor.h"
#include "framework/TImageList.h"

#include <QListView>
#include <QPointer>
#include <QStandardItemModel>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QStackedLayout;
class QTreeView;
class TListView;

enum class TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

// What a comparison sees of an item.
struct TListItemText {
    QString Caption;
    QStringList SubItems;
    std::intptr_t Data = 0;
};

// The icon view inside TListView; it lets the list view place items itself.
class TIconView : public QListView {
    Q_OBJECT
public:
    explicit TIconView(TListView* owner);
    void SetPosition(const QModelIndex& index, QPoint position);
    void LayoutNow() { executeDelayedItemsLayout(); }

protected:
    bool viewportEvent(QEvent* event) override;

private:
    TListView* FOwner;
};

class TListView : public QWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);
    ~TListView() override;

    TViewStyle ViewStyle() const { return FViewStyle; }
    void SetViewStyle(TViewStyle style);
    void SetMultiSelect(bool multiSelect);
    void SetLargeImages(TImageList* images);
    void SetSmallImages(TImageList* images);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    // The colour of the item texts.
    TColor FontColor() const;

    // --- items ---
    int ItemCount() const;
    int AddItem(const QString& caption, std::intptr_t data = 0);
    void ClearItems();
    QString ItemCaption(int item) const;
    void SetItemCaption(int item, const QString& caption);
    QStringList ItemSubItems(int item) const;
    void SetItemSubItems(int item, const QStringList& subItems);
    std::intptr_t ItemData(int item) const;
    int ItemImageIndex(int item) const;
    void SetItemImageIndex(int item, int imageIndex);
    // The first item in list order whose data value is data; -1 when none.
    int FindData(std::intptr_t data) const;

    bool ItemSelected(int item) const;
    // Without multiple selection, selecting an item deselects the others.
    void SetItemSelected(int item, bool selected);
    // The first selected item in list order; -1 when none.
    int SelectedItem() const;
    void ClearSelection();
    // Scrolls until the item is visible; wholly unless partialOK.
    void MakeVisible(int item, bool partialOK);
    // Redraws that item alone.
    void UpdateItem(int item);

    // --- geometry, in client coordinates of the item area ---
    QRect ItemBounds(int item) const;
    QRect ItemIconRect(int item) const;
    QRect ItemLabelRect(int item) const;
    // Icon styles only: places an item's top-left corner at a client point; the item keeps its
    // place in the view when the view scrolls.
    void SetItemPosition(int item, QPoint position);
    // Where the view's top-left corner lies in client coordinates (moves up and left as the view
    // scrolls down and right).
    QPoint ViewOrigin() const;
    // The item area's client rectangle placed at the view origin.
    QRect ViewRect() const;
    // False when no part of the item area can be seen (hidden, minimised, covered by nothing).
    bool ClientRectVisible() const;
    QWidget* ItemArea() const;

    // --- report style ---
    int ColumnCount() const { return static_cast<int>(FColumns.size()); }
    // width -1 fits the column to its contents.
    void AddColumn(const QString& caption, int width = -1, Qt::Alignment alignment = Qt::AlignLeft);
    Qt::Alignment ColumnAlignment(int column) const;

    // Sorts with OnCompare (stable), passing data through; selected items stay selected.
    void CustomSort(int data);

    // Item changes inside a bracket repaint once, when the outermost bracket closes.
    void BeginUpdate();
    void EndUpdate();

    // The canvas item drawing uses; outside drawing it measures with the list view's font.
    TCanvas& Canvas() { return FCanvas; }

    // Icon style: asked for every item that is drawn; leaving defaultDraw true draws it the
    // standard way. The canvas is open on the item area.
    std::function<void(TListView* sender, int item, TCanvas& canvas, bool& defaultDraw)> OnCustomDrawItem;
    // The item area changed its size.
    std::function<void(QObject* sender)> OnResize;
    // The hint of an item; an empty tip shows none.
    std::function<void(QObject* sender, int item, QString& tip)> OnInfoTip;
    std::function<void(QObject* sender, int column)> OnColumnClick;
    std::function<void(QObject* sender, const TListItemText& item1, const TListItemText& item2,
                       int data, int& compare)> OnCompare;

protected:
    void changeEvent(QEvent* event) override;

private:
    friend class TIconView;
    friend class TListItemDelegate;
    QModelIndex Index(int item, int column = 0) const;
    QAbstractItemView* ActiveView() const;
    bool ShowInfoTip(QAbstractItemView* view, QHelpEvent* event);
    void DrawItem(QPainter& painter, int item, const QStyleOptionViewItem& option, bool& defaultDraw);
    QSize ItemSize() const;
    void ImagesChanged();
    void SyncCanvasFont();

    QStandardItemModel FModel;
    TIconView* FIconView;
    QTreeView* FReportView;
    QStackedLayout* FStack;
    TCanvas FCanvas;
    TViewStyle FViewStyle = TViewStyle::vsIcon;
    bool FMultiSelect = false;
    QPointer<TImageList> FLargeImages;
    QPointer<TImageList> FSmallImages;
    TColor FColor = clWindow;
    struct TColumn {
        QString Caption;
        Qt::Alignment Alignment;
    };
    std::vector<TColumn> FColumns;
    int FUpdateCount = 0;
};
