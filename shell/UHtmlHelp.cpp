// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UHtmlHelp.h"

#include "framework/TApplication.h"
#include "shell/WinHtmlHelp.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWidget>

namespace {
// The help window last moved into the work area; a window that stays open is fitted once.
THelpWindowHandle& LastFittedHelpWindow()
{
    static THelpWindowHandle handle = 0;
    return handle;
}

std::function<bool(const QUrl&)>& HelpBrowser()
{
    static std::function<bool(const QUrl&)> browser;
    return browser;
}

bool OpenInBrowser(const QUrl& page)
{
    const auto& browser = HelpBrowser();
    return browser ? browser(page) : QDesktopServices::openUrl(page);
}

THelpWindowHandle ApplicationWindowHandle()
{
    QWidget* form = TApplication::MainForm();
    return form && form->internalWinId() ? static_cast<THelpWindowHandle>(form->internalWinId()) : 0;
}

// Moves the help window into the work area of its screen when part of it lies outside.
void FitIntoWorkArea(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect windowRect = window->frameGeometry();
    const QRect visible = screen->availableGeometry().intersected(windowRect);
    if (visible.isEmpty() || visible == windowRect)
        return;
    window->move(visible.topLeft());
    window->resize(visible.size() - (windowRect.size() - window->size()));
    window->update();
}

THelpResult ShowHelpFile(const QString& helpFile, std::uint16_t command, std::int32_t data)
{
    if (helpFile.isEmpty())
        return THelpResult::NoHelpFile;
    const bool context = command == HELP_CONTEXT;
    const THelpWindowHandle handle =
        HtmlHelp(ApplicationWindowHandle(), helpFile, context ? HH_HELP_CONTEXT : HH_DISPLAY_TOPIC,
                 context ? static_cast<std::uint32_t>(data) : 0);
    if (handle == 0) {
        // No viewer here: the page in the browser is the best that can be shown. A browser
        // started on a file that is not there shows only its own error, so that is told first.
        if (!QFileInfo(helpFile).isFile())
            return THelpResult::Missing;
        return OpenInBrowser(QUrl::fromLocalFile(helpFile)) ? THelpResult::Shown : THelpResult::NoBrowser;
    }
    QWidget* window = QWidget::find(static_cast<WId>(handle));
    if (!window || handle == LastFittedHelpWindow())
        return THelpResult::Shown;
    LastFittedHelpWindow() = handle;
    FitIntoWorkArea(window);
    return THelpResult::Shown;
}
} // namespace


void SetHelpBrowser(std::function<bool(const QUrl&)> browser)
{
    HelpBrowser() = std::move(browser);
}

bool ShowHtmlHelp(std::uint16_t command, std::int32_t data)
{
    return ShowApplicationHelp(command, data) != THelpResult::NoHelpFile;
}

bool ShowHtmlHelpFile(const QString& helpFile, std::uint16_t command, std::int32_t data)
{
    return ShowHelpFile(helpFile, command, data) != THelpResult::NoHelpFile;
}

THelpResult ShowApplicationHelp(std::uint16_t command, std::int32_t data)
{
    return ShowHelpFile(TApplication::HelpFile(), command, data);
}
