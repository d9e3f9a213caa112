# Makes the Wine prefix $WINEPREFIX ready for the bed's programs: created when
# it does not exist, one persistent wineserver, Wine's start-up done, windows
# not handed to a window manager on a display of our own, and the desktop
# process started. Sourced by tools/bed.sh and by tests that need a prefix of
# their own (tests/installer/fresh_prefix.sh).
#
#   prepare_wine_prefix BUILD_DIR OWN_DISPLAY      (OWN_DISPLAY: 1 for the bed's own Xvfb)

prepare_wine_prefix() {
  local build=$1 own_display=$2
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
  fi
  wineserver -p
  wine wineboot </dev/null >/dev/null 2>&1
  # Without a window manager (our own Xvfb) Wine must not hand windows to one:
  # hiding a window it thinks managed waits two seconds for the manager.
  local managed_key='HKCU\Software\Wine\X11 Driver'
  if [ "$own_display" = 1 ]; then
    grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null ||
      wine reg add "$managed_key" /v Managed /d N /f >/dev/null 2>&1 </dev/null
  elif grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg delete "$managed_key" /v Managed /f >/dev/null 2>&1 </dev/null
  fi
  # The desktop process (explorer /desktop) is otherwise started by the first
  # program that needs it and keeps that program's stderr open while it lives,
  # so CTest sees that test running until every other Wine program has ended.
  # Started here, and waited for, it holds nothing of a test's; wineserver -k
  # ends it.
  if [ -f "$build/bin/bed_desktop.exe" ]; then
    wine "$build/bin/bed_desktop.exe" </dev/null >/dev/null 2>&1
  else
    wine explorer.exe /desktop </dev/null >/dev/null 2>&1 &
    sleep 1
  fi
}
