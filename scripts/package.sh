#!/usr/bin/env bash
# Builds an installable package, optimised and without tests, and checks it:
#   scripts/package.sh deb     build/package-deb/packages/zuvobox_<version>_amd64.deb
#   scripts/package.sh win64   build/package-win64/packages/ZuvoBox-<version>-win64.zip
# The .deb is unpacked and its ZuvoBox started on the simulated box; the zip must hold the
# three programs and the text on installing them.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-}
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DZUVO_BUILD_TESTS=OFF -DZUVO_BUILD_BENCH=OFF)

case "$kind" in
  deb)
    build=build/package-deb
    cmake -S . -B "$build" "${common[@]}" >/dev/null
    ;;
  win64)
    build=build/package-win64
    cmake -S . -B "$build" "${common[@]}" -DZUVO_WITH_QT=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
    ;;
  *)
    echo "usage: $0 deb|win64" >&2
    exit 2
    ;;
esac
rm -rf "$build/packages"
cmake --build "$build" --target package
package=$(find "$build/packages" -maxdepth 1 -name '*.deb' -o -maxdepth 1 -name '*.zip' | head -n 1)
[ -n "$package" ] || { echo "no package was made" >&2; exit 1; }

check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
case "$kind" in
  deb)
    dpkg-deb --contents "$package" >"$check/contents"
    for f in usr/bin/ZuvoBox usr/bin/ZuvoBoxUtility usr/bin/zuvobox-rtty usr/bin/zuvobox-run \
             usr/lib/udev/rules.d/70-zuvobox.rules usr/share/applications/zuvobox.desktop \
             usr/share/icons/hicolor/scalable/apps/zuvobox.svg usr/share/doc/zuvobox/README.md; do
      grep -q " \./$f\$" "$check/contents" || { echo "$package lacks /$f" >&2; exit 1; }
    done
    # The installed program on the simulated box, in folders of its own: it must connect,
    # then close on SIGTERM.
    dpkg-deb -x "$package" "$check/root"
    mkdir -m 700 "$check/run" "$check/config"
    XDG_RUNTIME_DIR=$check/run XDG_CONFIG_HOME=$check/config ZUVOBOX_LOCK_DIR=$check/run \
      "$check/root/usr/bin/ZuvoBox" --simulate --headless >"$check/log" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
      grep -q "Connected to Zuvo Box version" "$check/log" && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -TERM "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
    if ! grep -q "Connected to Zuvo Box version" "$check/log" || [ "$status" -ne 0 ]; then
      echo "the packaged ZuvoBox did not run (exit $status):" >&2
      cat "$check/log" >&2
      exit 1
    fi
    ;;
  win64)
    unzip -Z1 "$package" | sort >"$check/contents"
    printf '%s\n' README.txt ZuvoBox.exe ZuvoBoxUtility.exe zuvobox-rtty.exe | sort |
      diff - "$check/contents" >&2 || { echo "$package holds other files" >&2; exit 1; }
    ;;
esac
echo "$package"
