// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Work beside the window (saving, reading back, indexing, scanning) gives way to the window's
// thread for the processor: on a machine of two cores a busy worker would otherwise hold the
// window away from its events for a scheduler's slice at a time.

// Lowers the calling thread's priority (raises its niceness by niceness, to the largest there
// is at most). Other threads keep theirs.
void LowerThisThreadPriority(int niceness = 10);
