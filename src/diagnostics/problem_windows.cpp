// Until the problem windows exist the notice is only recorded as shown.
#include "diagnostics/problem_windows.h"

#include "diagnostics/eventlog.h"

namespace fw {

struct ProblemNotice {
    bool shown = false;
};

ProblemNotice& programNotice() {
    static ProblemNotice notice;
    return notice;
}

bool initialiseProblemWindows() { return true; }

void requestNotice(ProblemNotice& notice, bool show) { notice.shown = show; }

void closeAllProblemWindows() {}

void terminateAfterReport() {
    showEventLog();
    closeAllProblemWindows();
    ::ExitProcess(13);
}

void handleNoticeThreadMessage(UINT, LPARAM) {}

}  // namespace fw
