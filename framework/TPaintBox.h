// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A paint box: a plain widget with no drawing of its own that hands every paint event to its
// owner's handler, which draws on the painter it is given. Its parent's background shows
// wherever the handler draws nothing.
#include <QWidget>
#include <functional>

class QPainter;

class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    // Called with a painter open on the paint box for every repaint.
    std::function<void(QPainter&)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};
