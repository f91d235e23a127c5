#include "shell/UCPUSpecified.h"

#include "framework/Platform.h"
#include "framework/TestChildProcess.h"

#include <gtest/gtest.h>

#include <sched.h>

namespace {
int FirstAllowedCpu(const cpu_set_t& set)
{
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set))
            return cpu;
    return -1;
}

// Pins (as the given family), then answers 0 when the process runs on exactly the CPU expected.
int PinAndCheck(TPlatformFamily family)
{
    cpu_set_t before;
    if (sched_getaffinity(0, sizeof(before), &before) != 0)
        return 1;
    SetPlatformFamily(family);
    PinToFirstProcessor();
    cpu_set_t after;
    if (sched_getaffinity(0, sizeof(after), &after) != 0)
        return 2;
    if (family == TPlatformFamily::Win9x)
        return CPU_EQUAL(&before, &after) ? 0 : 3;
    return CPU_COUNT(&after) == 1 && FirstAllowedCpu(after) == FirstAllowedCpu(before) ? 0 : 4;
}
} // namespace

FRAMORA_CHILD_SCENARIO(PinNT)
{
    return PinAndCheck(TPlatformFamily::NT);
}

FRAMORA_CHILD_SCENARIO(Pin9x)
{
    return PinAndCheck(TPlatformFamily::Win9x);
}

TEST(PinToFirstProcessor, NTFamilyRunsOnTheFirstAllowedProcessorOnly)
{
    // The pinning lasts for the process, so it is tried in processes of their own.
    for (const char* scenario : {"PinNT", "Pin9x"}) {
        const TChildResult result = RunChildScenario(scenario);
        EXPECT_EQ(result.ExitCode, 0) << scenario << ' ' << result.Output.constData();
    }
}
