// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Catches the addresses the program hands to the desktop, once installed as the handler of a
// scheme with QDesktopServices::setUrlHandler(scheme, &catcher, "Open").
#include <QList>
#include <QObject>
#include <QUrl>

class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl& url) { Opened.append(url); }
};
