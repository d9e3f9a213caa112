// The shell "open" of a file, behind a seam so that tests can observe it
// without starting a viewer.
#pragma once

namespace fw {

using ShellOpenFn = void (*)(const char* path);

// Opens the file with the shell's default action (ShellExecute, no verb).
void shellOpen(const char* path);
// Replaces the shell call; null restores the platform's.
void setShellOpen(ShellOpenFn fn) noexcept;

}  // namespace fw
