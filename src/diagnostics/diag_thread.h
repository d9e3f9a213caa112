// Internal: the diagnostics thread, for the problem windows that live on it.
#pragma once

#include <windows.h>

namespace fw::detail {

DWORD diagnosticsThreadId() noexcept;

// Thread messages understood by the diagnostics thread.
constexpr UINT kShowNotice = WM_USER + 1;
constexpr UINT kHideNotice = WM_USER + 2;
constexpr UINT kCloseProblemWindows = WM_USER + 3;  // lParam: event to set when done
constexpr UINT kFlushNow = WM_USER + 20;  // lParam: event to set after the pass

}  // namespace fw::detail
