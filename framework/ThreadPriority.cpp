// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/ThreadPriority.h"

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int MaxNiceness = 19;

} // namespace

void LowerThisThreadPriority(int niceness)
{
    // On Linux a thread is a task of its own: its niceness is set by its id, not the process's.
    const auto thread = static_cast<id_t>(gettid());
    setpriority(PRIO_PROCESS, thread, std::min(MaxNiceness, getpriority(PRIO_PROCESS, thread) + niceness));
}
