// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TImageList.h"

TImageList::TImageList(QObject* owner, int width, int height) : QObject(owner), FWidth(width), FHeight(height) {}

void TImageList::SetWidth(int width)
{
    if (width == FWidth)
        return;
    FWidth = width;
    emit Changed();
}

void TImageList::SetHeight(int height)
{
    if (height == FHeight)
        return;
    FHeight = height;
    emit Changed();
}

int TImageList::Add(const QIcon& icon)
{
    FIcons.push_back(icon);
    emit Changed();
    return Count() - 1;
}

QIcon TImageList::Icon(int index) const
{
    return index >= 0 && index < Count() ? FIcons[static_cast<std::size_t>(index)] : QIcon();
}
