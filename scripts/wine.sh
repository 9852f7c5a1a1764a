#!/usr/bin/env bash
# Starts or stops the Wine server the Windows tests run under. The prefix lives in the
# Windows build folder and is made on the first start (about 20 s); the server is started
# detached from every pipe, because Wine's helper processes would otherwise keep ctest's
# output open.
#   scripts/wine.sh start [BUILD_DIR]   (default build/windows)
#   scripts/wine.sh stop  [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
action=${1:-}
build=$(realpath -m "${2:-build/windows}")
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

case "$action" in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >"$build/wineserver.log" 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
    # A crashing test must fail, not wait for someone to close Wine's crash dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop [BUILD_DIR]" >&2
    exit 2
    ;;
esac
