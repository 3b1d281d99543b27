// Timing and memory figures the benchmarks print.
#pragma once
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>

namespace xb::bench {

// Seconds since t.
inline double since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// CPU seconds the process has used so far (user and system): beside the
// elapsed times it tells a slow run from one starved on a loaded machine.
inline double cpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

// The process's peak resident memory in KiB (Linux), or -1 where unknown.
inline long residentPeakKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kb;
}

}  // namespace xb::bench
