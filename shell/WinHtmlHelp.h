// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Run-time binding to the HTML Help viewer's entry point. The library is looked up by name on the
// first call; a failed lookup is tried again on the next call, a successful one is kept until the
// process ends. Where no such viewer exists (as here) every call answers "no window".
#include <QString>

#include <cstdint>
#include <functional>

// A window handle as the viewer returns it; 0 is none.
using THelpWindowHandle = std::uintptr_t;

inline constexpr const char* HtmlHelpLibraryName = "hhctrl.ocx";
inline constexpr const char* HtmlHelpFunctionName = "HtmlHelpA";

inline constexpr std::uint32_t HH_DISPLAY_TOPIC = 0;
inline constexpr std::uint32_t HH_HELP_CONTEXT = 15;

THelpWindowHandle HtmlHelp(THelpWindowHandle caller, const QString& file, std::uint32_t command, std::uint32_t data);

// The viewer's entry point: caller, file (system code page), command, data.
using THtmlHelpFunction = std::function<THelpWindowHandle(THelpWindowHandle, const char*, std::uint32_t, std::uint32_t)>;

// How the binding reaches the library. Load answers whether the library is now loaded; Resolve
// answers the named function or an empty one; Unload releases the library.
struct THtmlHelpLoader {
    std::function<bool(const char* library)> Load;
    std::function<THtmlHelpFunction(const char* function)> Resolve;
    std::function<void()> Unload;
};

// Replaces how the library is reached (tests) and forgets what was loaded; an empty loader goes
// back to the dynamic linker.
void SetHtmlHelpLoader(THtmlHelpLoader loader);

// Unloads the library if it was loaded and forgets the function. Runs at process end on its own.
void ReleaseHtmlHelp();
