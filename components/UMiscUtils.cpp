// SPDX-License-Identifier: GPL-3.0-or-later
#include "components/UMiscUtils.h"

#include <QGuiApplication>

namespace {
void SetScreenCursor(std::optional<Qt::CursorShape> shape)
{
    if (!shape) {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    } else if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(QCursor(*shape));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(*shape));
    }
}
} // namespace

std::optional<Qt::CursorShape> ScreenCursor()
{
    if (const QCursor* cursor = QGuiApplication::overrideCursor())
        return cursor->shape();
    return std::nullopt;
}

TWatchCursor::TWatchCursor() : FSavedCursor(ScreenCursor())
{
    SetScreenCursor(Qt::WaitCursor);
}

TWatchCursor::~TWatchCursor()
{
    SetScreenCursor(FSavedCursor);
}

TInterfaceRef<IInterface> ShowWatchCursor()
{
    return TInterfaceRef<IInterface>(new TWatchCursor);
}
