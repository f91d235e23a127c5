#include "shell/UCPUSpecified.h"

#include "framework/Platform.h"

#include <sched.h>

void PinToFirstProcessor()
{
    if (!IsNTFamily())
        return;
    // "The first processor" is the first one this process is allowed on, which under a container
    // or taskset need not be CPU 0.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0)
        return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        cpu_set_t first;
        CPU_ZERO(&first);
        CPU_SET(cpu, &first);
        (void)sched_setaffinity(0, sizeof(first), &first);
        return;
    }
}
