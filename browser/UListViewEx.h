// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browser's list view: the framework list view with a slot through which it can ask its
// owner for the text of the selected item.
#include "framework/TListView.h"

#include <QString>
#include <functional>

class TListViewEx : public TListView {
    Q_OBJECT
public:
    explicit TListViewEx(QWidget* parent = nullptr) : TListView(parent) {}

    // Absent until the owner sets it.
    std::function<void(QString& text)> SelectedItemText;
};
