// The catch-and-report pattern. A boundary (window procedure, engine
// operation, worker-thread body, start-up) runs its work inside four ordered
// handlers, which log the failure at level ERR ("CaughtFwException",
// "CaughtStdException", "CaughtKitException", "CaughtUnknownException").
// An ordinary boundary answers whether its work failed, so that its caller
// gives its failure result; a fatal boundary ends the process with exit code 13.
#pragma once

#include "diagnostics/eventlog.h"
#include "diagnostics/problem_windows.h"

namespace fw {

// Inside a catch block: logs the exception being handled, with the catch
// site's own file and line, at `level` (ERR, or WARN where a boundary must not
// raise the problem notice).
void reportCurrentException(const char* file, int line, int level = LEVEL_ERR) noexcept;

// Ordinary boundary: a failure of `work` is reported; answers true when it failed.
template <class Work>
bool catchAndReport(const char* file, int line, Work&& work, int level = LEVEL_ERR) noexcept {
    try {
        work();
        return false;
    } catch (...) {
        reportCurrentException(file, line, level);
        return true;
    }
}

// Fatal boundary: a failure of `work` is reported, then the process ends.
template <class Work>
void catchAndReportFatal(const char* file, int line, Work&& work) noexcept {
    try {
        work();
    } catch (...) {
        reportCurrentException(file, line, LEVEL_ERR);
        terminateAfterReport();
    }
}

}  // namespace fw
