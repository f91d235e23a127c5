#include "shell/UHtmlHelp.h"

#include "framework/TApplication.h"
#include "shell/WinHtmlHelp.h"

#include <QDesktopServices>
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
} // namespace

bool ShowHtmlHelp(std::uint16_t command, std::int32_t data)
{
    return ShowHtmlHelpFile(TApplication::HelpFile(), command, data);
}

bool ShowHtmlHelpFile(const QString& helpFile, std::uint16_t command, std::int32_t data)
{
    if (helpFile.isEmpty())
        return false;
    const bool context = command == HELP_CONTEXT;
    const THelpWindowHandle handle =
        HtmlHelp(ApplicationWindowHandle(), helpFile, context ? HH_HELP_CONTEXT : HH_DISPLAY_TOPIC,
                 context ? static_cast<std::uint32_t>(data) : 0);
    if (handle == 0) {
        // No viewer here: the file's default topic in the browser is the best that can be shown.
        QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile));
        return true;
    }
    QWidget* window = QWidget::find(static_cast<WId>(handle));
    if (!window || handle == LastFittedHelpWindow())
        return true;
    LastFittedHelpWindow() = handle;
    FitIntoWorkArea(window);
    return true;
}
