// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// This process's memory as the kernel counts it, for the benchmarks that measure a peak.
#include <cstdint>
#include <fstream>
#include <string>

// Resident and peak resident memory of this process, in bytes, from /proc/self/status
// ("VmRSS", "VmHWM"); -1 when the field is not there.
inline std::int64_t StatusBytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    std::int64_t kib = 0;
    std::string unit;
    while (status >> name) {
        if (name == field + ":") {
            status >> kib >> unit;
            return kib * 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

// From here on the peak is measured afresh.
inline bool ResetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return static_cast<bool>(clear);
}
