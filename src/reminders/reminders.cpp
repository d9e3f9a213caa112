#include "reminders/reminders.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <ctime>
#include <string>

#include "diagnostics/eventlog.h"
#include "kit/text_code.h"
#include "diagnostics/report.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "reminders/reminders";
}

// ---- PeriodicReminder -------------------------------------------------------------

PeriodicReminder::PeriodicReminder(Proc proc_, int periodSeconds_)
    : Reminder(false), proc(std::move(proc_)), periodSeconds(periodSeconds_) {}

void PeriodicReminder::start() {
    FW_TRACE("PeriodicReminder()::start()");
    startThread();
}

void PeriodicReminder::stop() {
    FW_TRACE("PeriodicReminder::stop() wait for this");
    if (!stopThread()) FW_TRACE("PeriodicReminder wait failed");
    FW_TRACE("PeriodicReminder stopped");
}

void PeriodicReminder::loop() {
    while (running) {
        std::time_t noted = std::time(nullptr);
        long long elapsed = 0;
        while (elapsed < periodSeconds && running) {
            ::Sleep(sleepStep);
            elapsed = static_cast<long long>(std::time(nullptr) - noted);
        }
        if (!running) break;
        if (proc) {
            try {
                proc(0);
            } catch (...) {
                FW_TRACE("Caught an exception in the periodic reminder's handler");
            }
        } else {
            FW_TRACE("There is no handler proc for PeriodicReminder.");
        }
    }
}

uint32_t PeriodicReminder::run() {
    fw::catchAndReport(kTraceSource, __LINE__, [this] { loop(); });
    FW_TRACE("PeriodicReminder finished");
    return 0;
}

// ---- OutOfSpaceReminder --------------------------------------------------------------

bool platformFreeSpace(const char* root, uint64_t* available) {
    ULARGE_INTEGER free{};
    if (!::SHGetDiskFreeSpaceExW(widen(root ? root : "").c_str(), &free, nullptr, nullptr)) return false;
    *available = free.QuadPart;
    return true;
}

shared_string watchedFolder(const char* path) {
    std::string p(path ? path : "");
    std::size_t slash = p.find_last_of("\\/");
    return shared_string(slash == std::string::npos ? std::string() : p.substr(0, slash + 1));
}

bool SpaceCrossing::below(bool isBelow, int64_t space, int64_t threshold) noexcept {
    if (!isBelow) return space < threshold;
    return space < threshold + kRearmBytes;
}

OutOfSpaceReminder::OutOfSpaceReminder(Proc proc_, const char* path_, FreeSpaceQuery query_)
    : Reminder(true), path(path_), proc(std::move(proc_)), query(query_) {}

void OutOfSpaceReminder::setPath(const char* newPath) { path = shared_string(newPath); }

void OutOfSpaceReminder::start() {
    FW_TRACE("OutOfSpaceReminder::start()");
    startThread();
}

void OutOfSpaceReminder::stop() {
    FW_TRACE("OutOfSpaceReminder::stop() wait for this");
    if (!stopThread())
        FW_TRACE("OutOfSpaceReminder::stop(): WaitForSingleObject() failed, err = %d",
                 static_cast<int>(::GetLastError()));
}

// Each signal is given once when the space falls below its threshold, and
// again only after the space was back above it (by a margin, so that a disk
// that hovers at the threshold does not repeat it).
uint32_t OutOfSpaceReminder::run() {
    try {
        shared_string folder = watchedFolder(path.c_str());
        bool belowStop = false, belowWarning = false;
        while (running) {
            uint64_t available = 0;
            if (folder.empty() || !query(folder.c_str(), &available)) {
                FW_TRACE("SHGetDiskFreeSpace() call failed, check path. (path = %s)", folder.c_str());
            } else {
                const Proc& p = proc;
                auto space = static_cast<int64_t>(available);
                bool stopNow = SpaceCrossing::below(belowStop, space, kMustStopBytes);
                bool warnNow = SpaceCrossing::below(belowWarning, space, kWarningBytes);
                if (stopNow && !belowStop && p) {
                    FW_TRACE("We need stop");
                    fw::catchAndReportFatal(kTraceSource, __LINE__, [&] { p(&available); });
                }
                if (warnNow && !belowWarning && p) fw::catchAndReportFatal(kTraceSource, __LINE__, [&] { p(nullptr); });
                belowStop = stopNow;
                belowWarning = warnNow;
            }
            ::Sleep(pollInterval);
        }
    } catch (...) {
        FW_TRACE("EXCEPTION in OutOfSpaceReminder");
        running = false;
    }
    FW_TRACE("OutOfSpaceReminder finished");
    return 0;
}

}  // namespace kit
