// SPDX-License-Identifier: GPL-3.0-or-later
// The program file's version record. Compiled into the program only (never into the shell
// library), with the project's version handed in by the build.
#include "shell/Filever.h"

#ifndef FRAMORA_VERSION_MAJOR
#define FRAMORA_VERSION_MAJOR 1
#define FRAMORA_VERSION_MINOR 0
#define FRAMORA_VERSION_PATCH 0
#define FRAMORA_VERSION_TWEAK 0
#endif

// Kept though nothing refers to it: the file is read, not the variable.
[[gnu::used, gnu::section(".framora_version")]] constexpr TFixedFileInfo FramoraVersionRecord =
    MakeFixedFileInfo(FRAMORA_VERSION_MAJOR, FRAMORA_VERSION_MINOR, FRAMORA_VERSION_PATCH, FRAMORA_VERSION_TWEAK);
