#pragma once
// Shows the application's help file for a help request of the classic protocol. Nothing sets a
// help file in this program, so requests show nothing and answer false; once one is configured,
// the HTML Help viewer is asked, and where there is none (as here) the file opens in the
// desktop's browser.
#include <QString>

#include <cstdint>

// Command 1 asks for the topic of context `data`; every other command for the default topic.
bool ShowHtmlHelp(std::uint16_t command, std::int32_t data);

// The same for a given help file (ShowHtmlHelp passes the application's).
bool ShowHtmlHelpFile(const QString& helpFile, std::uint16_t command, std::int32_t data);
