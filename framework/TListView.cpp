// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TListView.h"

#include "framework/TImageList.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <numeric>

namespace {

constexpr int kDataRole = Qt::UserRole;
constexpr int kImageIndexRole = Qt::UserRole + 1;
// An icon-style item: the icon rectangle is the image cell widened by this on either side, the
// label sits below it after kLabelGap pixels and is one text line (plus kLabelPadding) high.
constexpr int kIconMargin = 3;
constexpr int kLabelGap = 2;
constexpr int kLabelPadding = 2;
constexpr int kDefaultLargeIcon = 32;

} // namespace

// Hands icon-style items to the list view's drawing; sizes them from its image cells.
class TListItemDelegate : public QStyledItemDelegate {
public:
    explicit TListItemDelegate(TListView* owner) : QStyledItemDelegate(owner), FOwner(owner) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        bool defaultDraw = true;
        FOwner->DrawItem(*painter, index.row(), option, defaultDraw);
        if (defaultDraw)
            QStyledItemDelegate::paint(painter, option, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (FOwner->ViewStyle() == TViewStyle::vsIcon)
            return FOwner->ItemSize();
        return QStyledItemDelegate::sizeHint(option, index);
    }

private:
    TListView* FOwner;
};

// Aligns each report cell as its column asks.
class TReportDelegate : public QStyledItemDelegate {
public:
    explicit TReportDelegate(TListView* owner) : QStyledItemDelegate(owner), FOwner(owner) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = FOwner->ColumnAlignment(index.column()) | Qt::AlignVCenter;
    }

private:
    TListView* FOwner;
};

TIconView::TIconView(TListView* owner) : QListView(owner), FOwner(owner) {}

void TIconView::SetPosition(const QModelIndex& index, QPoint position)
{
    executeDelayedItemsLayout();
    setPositionForIndex(position, index);
}

bool TIconView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip)
        return FOwner->ShowInfoTip(this, static_cast<QHelpEvent*>(event));
    const bool handled = QListView::viewportEvent(event);
    // The item area, not the whole control, decides the arrangement: a scroll bar coming or
    // going resizes only the item area.
    if (event->type() == QEvent::Resize && FOwner->OnResize)
        FOwner->OnResize(FOwner);
    return handled;
}

TListView::TListView(QWidget* parent)
    : QWidget(parent), FIconView(new TIconView(this)), FReportView(new QTreeView(this)),
      FStack(new QStackedLayout(this))
{
    FIconView->setModel(&FModel);
    FIconView->setItemDelegate(new TListItemDelegate(this));
    FIconView->setViewMode(QListView::IconMode);
    FIconView->setMovement(QListView::Free); // items are placed by SetItemPosition
    FIconView->setDragEnabled(false);
    FIconView->setResizeMode(QListView::Fixed);
    FIconView->setUniformItemSizes(true);
    FIconView->setSpacing(0);
    FIconView->setWordWrap(false);
    FIconView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FIconView->setFrameShape(QFrame::NoFrame);
    FIconView->setMouseTracking(true);

    FReportView->setModel(&FModel);
    FReportView->setSelectionModel(FIconView->selectionModel());
    FReportView->setItemDelegate(new TReportDelegate(this));
    FReportView->setRootIsDecorated(false);
    FReportView->setUniformRowHeights(true);
    FReportView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FReportView->setFrameShape(QFrame::NoFrame);
    FReportView->header()->setSectionsClickable(true);
    FReportView->header()->setSortIndicatorShown(false);
    connect(FReportView->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (OnColumnClick)
            OnColumnClick(this, column);
    });

    FStack->setContentsMargins(0, 0, 0, 0);
    FStack->addWidget(FIconView);
    FStack->addWidget(FReportView);
    SetMultiSelect(false);
    SetColor(FColor);
    SyncCanvasFont();
}

TListView::~TListView() = default;

void TListView::SetViewStyle(TViewStyle style)
{
    if (style == FViewStyle)
        return;
    FViewStyle = style;
    if (style == TViewStyle::vsReport) {
        FStack->setCurrentWidget(FReportView);
    } else {
        FIconView->setViewMode(style == TViewStyle::vsList ? QListView::ListMode : QListView::IconMode);
        FIconView->setMovement(style == TViewStyle::vsList ? QListView::Static : QListView::Free);
        FStack->setCurrentWidget(FIconView);
    }
    ImagesChanged();
}

void TListView::SetMultiSelect(bool multiSelect)
{
    FMultiSelect = multiSelect;
    const auto mode = multiSelect ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    FIconView->setSelectionMode(mode);
    FReportView->setSelectionMode(mode);
}

void TListView::SetLargeImages(TImageList* images)
{
    if (FLargeImages)
        disconnect(FLargeImages, nullptr, this, nullptr);
    FLargeImages = images;
    if (images)
        connect(images, &TImageList::Changed, this, &TListView::ImagesChanged);
    ImagesChanged();
}

void TListView::SetSmallImages(TImageList* images)
{
    if (FSmallImages)
        disconnect(FSmallImages, nullptr, this, nullptr);
    FSmallImages = images;
    if (images)
        connect(images, &TImageList::Changed, this, &TListView::ImagesChanged);
    ImagesChanged();
}

void TListView::SetColor(TColor color)
{
    FColor = color;
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(FIconView), static_cast<QAbstractItemView*>(FReportView)}) {
        QPalette palette = view->palette();
        palette.setColor(QPalette::Base, ColorToQColor(color));
        view->setPalette(palette);
    }
}

TColor TListView::FontColor() const
{
    return QColorToColor(FIconView->palette().color(QPalette::Text));
}

int TListView::ItemCount() const
{
    return FModel.rowCount();
}

int TListView::AddItem(const QString& caption, std::intptr_t data)
{
    auto* item = new QStandardItem(caption);
    item->setData(QVariant::fromValue<qlonglong>(data), kDataRole);
    item->setData(-1, kImageIndexRole);
    FModel.appendRow(item);
    return FModel.rowCount() - 1;
}

void TListView::ClearItems()
{
    FModel.removeRows(0, FModel.rowCount());
}

QModelIndex TListView::Index(int item, int column) const
{
    return FModel.index(item, column);
}

QString TListView::ItemCaption(int item) const
{
    return Index(item).data(Qt::DisplayRole).toString();
}

void TListView::SetItemCaption(int item, const QString& caption)
{
    if (ItemCaption(item) != caption)
        FModel.setData(Index(item), caption, Qt::DisplayRole);
}

QStringList TListView::ItemSubItems(int item) const
{
    QStringList texts;
    for (int column = 1; column < FModel.columnCount(); ++column) {
        const QStandardItem* cell = FModel.item(item, column);
        if (!cell)
            break;
        texts << cell->text();
    }
    return texts;
}

void TListView::SetItemSubItems(int item, const QStringList& subItems)
{
    if (FModel.columnCount() < subItems.size() + 1)
        FModel.setColumnCount(static_cast<int>(subItems.size()) + 1);
    for (int column = 1; column < FModel.columnCount(); ++column)
        FModel.setItem(item, column, column <= subItems.size() ? new QStandardItem(subItems[column - 1]) : nullptr);
}

std::intptr_t TListView::ItemData(int item) const
{
    return static_cast<std::intptr_t>(Index(item).data(kDataRole).toLongLong());
}

int TListView::ItemImageIndex(int item) const
{
    return Index(item).data(kImageIndexRole).toInt();
}

void TListView::SetItemImageIndex(int item, int imageIndex)
{
    FModel.setData(Index(item), imageIndex, kImageIndexRole);
    const TImageList* images = FViewStyle == TViewStyle::vsIcon ? FLargeImages : FSmallImages;
    FModel.setData(Index(item), images ? images->Icon(imageIndex) : QIcon(), Qt::DecorationRole);
}

int TListView::FindData(std::intptr_t data) const
{
    for (int item = 0; item < ItemCount(); ++item)
        if (ItemData(item) == data)
            return item;
    return -1;
}

bool TListView::ItemSelected(int item) const
{
    return FIconView->selectionModel()->isSelected(Index(item));
}

void TListView::SetItemSelected(int item, bool selected)
{
    const QModelIndex index = Index(item);
    if (!index.isValid())
        return;
    QItemSelectionModel::SelectionFlags flags = selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect;
    if (selected && !FMultiSelect)
        flags |= QItemSelectionModel::Clear;
    FIconView->selectionModel()->select(index, flags | QItemSelectionModel::Rows);
    if (selected)
        FIconView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

int TListView::SelectedItem() const
{
    for (int item = 0; item < ItemCount(); ++item)
        if (ItemSelected(item))
            return item;
    return -1;
}

void TListView::ClearSelection()
{
    FIconView->selectionModel()->clearSelection();
}

void TListView::MakeVisible(int item, bool partialOK)
{
    const QModelIndex index = Index(item);
    if (!index.isValid())
        return;
    QAbstractItemView* view = ActiveView();
    if (partialOK && view->visualRect(index).intersects(view->viewport()->rect()))
        return;
    if (view == FIconView)
        FIconView->LayoutNow();
    view->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void TListView::UpdateItem(int item)
{
    ActiveView()->update(Index(item));
}

QRect TListView::ItemBounds(int item) const
{
    return ActiveView()->visualRect(Index(item));
}

QRect TListView::ItemIconRect(int item) const
{
    const QRect bounds = ItemBounds(item);
    if (FViewStyle != TViewStyle::vsIcon)
        return QRect(bounds.topLeft(), QSize(bounds.height(), bounds.height()));
    const int height = FLargeImages ? FLargeImages->Height() : kDefaultLargeIcon;
    return QRect(bounds.left(), bounds.top(), bounds.width(), height);
}

QRect TListView::ItemLabelRect(int item) const
{
    const QRect bounds = ItemBounds(item);
    const QRect icon = ItemIconRect(item);
    if (FViewStyle != TViewStyle::vsIcon)
        return bounds.adjusted(icon.width(), 0, 0, 0);
    // As wide as the caption (within the item), centred under the icon.
    const int width = std::min(bounds.width(), QFontMetrics(FIconView->font()).horizontalAdvance(ItemCaption(item)) + kLabelPadding * 2);
    return QRect(bounds.left() + (bounds.width() - width) / 2, icon.bottom() + 1 + kLabelGap, width,
                 bounds.bottom() - icon.bottom() - kLabelGap);
}

QSize TListView::ItemSize() const
{
    const int width = FLargeImages ? FLargeImages->Width() : kDefaultLargeIcon;
    const int height = FLargeImages ? FLargeImages->Height() : kDefaultLargeIcon;
    const int line = QFontMetrics(FIconView->font()).height() + kLabelPadding;
    return QSize(width + 2 * kIconMargin, height + kLabelGap + line);
}

void TListView::SetItemPosition(int item, QPoint position)
{
    if (FViewStyle == TViewStyle::vsIcon || FViewStyle == TViewStyle::vsSmallIcon)
        FIconView->SetPosition(Index(item), position - ViewOrigin());
}

QPoint TListView::ViewOrigin() const
{
    const QAbstractItemView* view = ActiveView();
    return QPoint(-view->horizontalScrollBar()->value(), -view->verticalScrollBar()->value());
}

QRect TListView::ViewRect() const
{
    return QRect(ViewOrigin(), ItemArea()->size());
}

bool TListView::ClientRectVisible() const
{
    const QWidget* area = ItemArea();
    return area->isVisible() && !area->window()->isMinimized() && !area->visibleRegion().isEmpty();
}

QWidget* TListView::ItemArea() const
{
    return ActiveView()->viewport();
}

void TListView::AddColumn(const QString& caption, int width, Qt::Alignment alignment)
{
    FColumns.push_back({caption, alignment});
    const int column = ColumnCount() - 1;
    if (FModel.columnCount() < ColumnCount())
        FModel.setColumnCount(ColumnCount());
    FModel.setHeaderData(column, Qt::Horizontal, caption);
    FModel.setHeaderData(column, Qt::Horizontal, QVariant::fromValue(alignment | Qt::AlignVCenter), Qt::TextAlignmentRole);
    if (width < 0)
        FReportView->resizeColumnToContents(column);
    else
        FReportView->setColumnWidth(column, width);
}

Qt::Alignment TListView::ColumnAlignment(int column) const
{
    return column >= 0 && column < ColumnCount() ? FColumns[static_cast<std::size_t>(column)].Alignment : Qt::AlignLeft;
}

void TListView::CustomSort(int data)
{
    const int count = ItemCount();
    if (!OnCompare || count < 2)
        return;
    std::vector<TListItemText> texts;
    std::vector<bool> selected;
    for (int item = 0; item < count; ++item) {
        texts.push_back({ItemCaption(item), ItemSubItems(item), ItemData(item)});
        selected.push_back(ItemSelected(item));
    }
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        int compare = 0;
        OnCompare(this, texts[static_cast<std::size_t>(a)], texts[static_cast<std::size_t>(b)], data, compare);
        return compare < 0;
    });
    BeginUpdate();
    std::vector<QList<QStandardItem*>> rows(static_cast<std::size_t>(count));
    for (int item = count - 1; item >= 0; --item)
        rows[static_cast<std::size_t>(item)] = FModel.takeRow(item);
    for (int from : order)
        FModel.appendRow(rows[static_cast<std::size_t>(from)]);
    for (int item = 0; item < count; ++item)
        if (selected[static_cast<std::size_t>(order[static_cast<std::size_t>(item)])])
            FIconView->selectionModel()->select(Index(item), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EndUpdate();
}

void TListView::BeginUpdate()
{
    if (FUpdateCount++ == 0)
        setUpdatesEnabled(false);
}

void TListView::EndUpdate()
{
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        setUpdatesEnabled(true);
}

void TListView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        SyncCanvasFont();
}

void TListView::SyncCanvasFont()
{
    const QFont font = this->font();
    FCanvas.Font().SetName(font.family());
    FCanvas.Font().SetHeight(-(font.pixelSize() > 0 ? font.pixelSize() : QFontMetrics(font).ascent()));
}

QAbstractItemView* TListView::ActiveView() const
{
    if (FViewStyle == TViewStyle::vsReport)
        return FReportView;
    return FIconView;
}

bool TListView::ShowInfoTip(QAbstractItemView* view, QHelpEvent* event)
{
    const QModelIndex index = view->indexAt(event->pos());
    QString tip;
    if (index.isValid() && OnInfoTip)
        OnInfoTip(this, index.row(), tip);
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(event->globalPos(), tip, view->viewport());
    }
    return true;
}

void TListView::DrawItem(QPainter& painter, int item, const QStyleOptionViewItem& option, bool& defaultDraw)
{
    (void)option;
    if (!OnCustomDrawItem)
        return;
    FCanvas.SetPainter(&painter);
    try {
        OnCustomDrawItem(this, item, FCanvas, defaultDraw);
    } catch (...) {
        FCanvas.SetPainter(nullptr);
        throw;
    }
    FCanvas.SetPainter(nullptr);
}

void TListView::ImagesChanged()
{
    const TImageList* images = FViewStyle == TViewStyle::vsIcon ? FLargeImages : FSmallImages;
    const QSize size = images ? QSize(images->Width(), images->Height()) : QSize(16, 16);
    FIconView->setIconSize(size);
    FReportView->setIconSize(FSmallImages ? QSize(FSmallImages->Width(), FSmallImages->Height()) : QSize(16, 16));
    for (int item = 0; item < ItemCount(); ++item) {
        const int imageIndex = ItemImageIndex(item);
        if (imageIndex >= 0)
            FModel.setData(Index(item), images ? images->Icon(imageIndex) : QIcon(), Qt::DecorationRole);
    }
    FIconView->doItemsLayout();
}
