#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What /proc says about a running process at one moment: its memory, its open file
// descriptors and its threads.
struct ProcessSnapshot {
    long residentKiB = 0;     // VmRSS
    long peakResidentKiB = 0; // VmHWM, since the start or the last resetPeak()
    long virtualKiB = 0;      // VmSize: every mapping, touched or not (thread stacks too)
    // What each open file descriptor refers to ("socket:[1234]", "/dev/null", ...).
    std::vector<std::string> descriptors;
    std::vector<std::string> threadNames; // one entry per thread, as the kernel names it

    // nullopt when the process is gone (or /proc cannot be read).
    static std::optional<ProcessSnapshot> of(pid_t pid);

    // Starts the peak afresh from the present resident size; false if the kernel refuses.
    static bool resetPeak(pid_t pid);
};
