#!/usr/bin/env bash
# Builds both targets and runs every test: Linux natively (and under the sanitizers), then the
# Windows build under 32-bit Wine on a virtual display. Ends with CTest's summary of each build.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
jobs=$(nproc)
failed=0

# Configures, builds and tests one preset; CTest's output is kept for the summary at the end.
check() {
  local preset=$1
  shift
  { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$jobs"; } || {
    echo "build $preset: FAILED" >"build/$preset.summary"; failed=1; return; }
  "$@" ctest --preset "$preset" -j"$jobs" 2>&1 | tee "build/$preset.ctest.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
  grep -E 'tests passed|tests failed out of' "build/$preset.ctest.log" | tail -1 >"build/$preset.summary"
}

# Wine on a virtual display, in a prefix of the build's own; no window manager runs there, so
# windows are unmanaged and open and close without waiting for one. Wine's debugger is kept from
# starting, so that a test that crashes fails at once instead of waiting on it.
under_wine() {
  export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -c '
    wineboot --init >/dev/null 2>&1
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    "$@"; status=$?
    wineserver -k 2>/dev/null
    exit $status' sh "$@"
}

mkdir -p build
check linux
check linux-asan # the watcher, the forms and the Linux pieces under ASan and UBSan
check windows under_wine

echo
echo "== CTest summary =="
for preset in linux linux-asan windows; do
  printf '%-11s %s\n' "$preset:" "$(cat "build/$preset.summary" 2>/dev/null || echo 'not run')"
done
exit $failed
