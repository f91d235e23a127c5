#pragma once
// Pins the process to one processor. Called first thing at start-up, before the application object
// or any thread exists, so every thread the process creates later inherits the pinning.

// On the NT family: restricts the calling thread (and so every thread it creates) to the first
// processor the process may use. On the 9x family nothing is done. Failures are ignored.
void PinToFirstProcessor();
