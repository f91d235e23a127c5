// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An image list: a cell size and a list of icons addressed by index. List views take their
// icon cell size from it and follow it when the size changes.
#include <QIcon>
#include <QObject>
#include <vector>

class TImageList : public QObject {
    Q_OBJECT
public:
    explicit TImageList(QObject* owner = nullptr, int width = 16, int height = 16);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetWidth(int width);
    void SetHeight(int height);

    int Count() const { return static_cast<int>(FIcons.size()); }
    // Appends icon and answers its index.
    int Add(const QIcon& icon);
    // An empty icon for an index outside the list.
    QIcon Icon(int index) const;

signals:
    void Changed();

private:
    int FWidth;
    int FHeight;
    std::vector<QIcon> FIcons;
};
