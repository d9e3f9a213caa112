// Internal: the diagnostics thread, for the problem windows that live on it.
#pragma once

#include <windows.h>

namespace fw::detail {

DWORD diagnosticsThreadId() noexcept;

// Thread messages understood by the diagnostics thread.
constexpr UINT kNoticeRequest = WM_USER + 1;        // wParam: the number of a waiting show or hide request
constexpr UINT kCloseProblemWindows = WM_USER + 3;  // lParam: event to set when done
constexpr UINT kFlushNow = WM_USER + 20;            // lParam: event to set after the pass

}  // namespace fw::detail
