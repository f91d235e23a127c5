// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shows the application's help file for a help request of the classic protocol. The program
// sets its user's guide as the help file at start; the HTML Help viewer is asked first, and
// where there is none (as here) the file opens in the desktop's browser. Without a help file
// requests show nothing and answer false.
#include <QString>

#include <cstdint>
#include <functional>

class QUrl;

// What became of a request for help.
enum class THelpResult {
    NoHelpFile, // nothing configured: nothing shown
    Shown,      // in the viewer or handed to the browser
    Missing,    // the help file is not where it is set to be
    NoBrowser,  // the file is there but no browser took it
};

// Asks for the application's help file (TApplication::HelpFile) and says what became of it.
THelpResult ShowApplicationHelp(std::uint16_t command, std::int32_t data);

// How a page reaches the desktop's browser: true when something took it. Tests replace it; an
// empty function goes back to QDesktopServices::openUrl.
void SetHelpBrowser(std::function<bool(const QUrl&)> browser);

// Command 1 asks for the topic of context `data`; every other command for the default topic.
bool ShowHtmlHelp(std::uint16_t command, std::int32_t data);

// The same for a given help file (ShowHtmlHelp passes the application's); true unless there is
// no help file.
bool ShowHtmlHelpFile(const QString& helpFile, std::uint16_t command, std::int32_t data);
