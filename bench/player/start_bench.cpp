// Two builds of the player side by side: the time from CreateProcess to the main window shown,
// and the working set once it has sat idle (its shell controls made) for a while. The builds
// take turns, so that both see the same machine.
//
//   start_bench BASE.EXE OTHER.EXE [ROUNDS [IDLE_SECONDS]]
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

struct Sample {
    double startMs;
    double workingSetKb;
};

bool measure(const char* exe, DWORD idleMs, Sample& sample) {
    e2e::App app;
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!app.launch(exe))
        return false;
    HWND main = nullptr;
    for (int i = 0; i < 30000 && !main; ++i) {
        main = app.findWindow("Quaverly - Tamsel");
        if (!main)
            Sleep(1);
    }
    QueryPerformanceCounter(&now);
    if (!main) {
        app.kill();
        return false;
    }
    sample.startMs = 1000.0 * (double)(now.QuadPart - begin.QuadPart) / (double)frequency.QuadPart;
    app.waitForMain(1000);
    Sleep(idleMs);
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, app.processId());
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    bool ok = process && GetProcessMemoryInfo(process, &counters, sizeof counters);
    if (process)
        CloseHandle(process);
    sample.workingSetKb = (double)counters.WorkingSetSize / 1024.0;
    app.exit();
    return ok;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: start_bench BASE.EXE OTHER.EXE [ROUNDS [IDLE_SECONDS]]\n");
        return 2;
    }
    const int rounds = argc > 3 ? atoi(argv[3]) : 10;
    const DWORD idleMs = (argc > 4 ? (DWORD)atoi(argv[4]) : 3) * 1000;
    std::vector<double> startMs[2], workingSetKb[2];
    Sample warmUp;
    measure(argv[1], 500, warmUp); // the first start of all loads the system's files
    for (int round = 0; round < rounds; ++round)
        for (int which = 0; which < 2; ++which) {
            // Alternate which goes first, so neither always follows the other's exit.
            const int exe = round % 2 ? 1 - which : which;
            Sample sample;
            if (!measure(argv[1 + exe], idleMs, sample)) {
                fprintf(stderr, "%s did not start\n", argv[1 + exe]);
                return 1;
            }
            startMs[exe].push_back(sample.startMs);
            workingSetKb[exe].push_back(sample.workingSetKb);
        }
    const char* names[] = {"base", "other"};
    for (int exe = 0; exe < 2; ++exe)
        printf("%-5s start to window: median %.1f ms (min %.1f, max %.1f); idle working set: "
               "median %.0f KB\n",
               names[exe], median(startMs[exe]),
               *std::min_element(startMs[exe].begin(), startMs[exe].end()),
               *std::max_element(startMs[exe].begin(), startMs[exe].end()),
               median(workingSetKb[exe]));
    printf("other / base: start %+.1f %%, working set %+.1f %% (%d rounds)\n",
           100.0 * (median(startMs[1]) / median(startMs[0]) - 1),
           100.0 * (median(workingSetKb[1]) / median(workingSetKb[0]) - 1), rounds);
    return 0;
}
