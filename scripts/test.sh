#!/usr/bin/env bash
# Builds both targets and runs every test: Linux natively (and under the sanitizers: ASan and
# UBSan, and ThreadSanitizer for the Linux machine's threads), then the Windows build under Wine on
# a virtual display: 32-bit Wine where the kernel runs 32-bit programs, else (or with
# LARKMOOR_WINDOWS_X64=1) the same suites built for x86-64 under 64-bit Wine. Ends with CTest's
# summary of each build.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
. scripts/machine.sh
jobs=$(nproc)
failed=0

# Configures, builds (the given targets, else all) and tests one preset; CTest's output is kept for
# the summary at the end. Usage: check <preset> [--target <t>...] [-- <ctest arguments>]
# [:: <wrapper command>]
check() {
  local preset=$1 build=() tests=() wrapper=() into=build
  shift
  for arg; do
    case $arg in
      --) into=tests ;;
      ::) into=wrapper ;;
      *) case $into in
           build) build+=("$arg") ;;
           tests) tests+=("$arg") ;;
           wrapper) wrapper+=("$arg") ;;
         esac ;;
    esac
  done
  { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$jobs" "${build[@]}"; } || {
    echo "build $preset: FAILED" >"build/$preset.summary"; failed=1; return; }
  "${wrapper[@]}" ctest --preset "$preset" -j"$jobs" "${tests[@]}" 2>&1 | tee "build/$preset.ctest.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
  { grep -E 'tests passed|tests failed out of' "build/$preset.ctest.log" | tail -1
    sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/skipped: \1/p' "build/$preset.ctest.log"
    # GoogleTest's reason for each skip, from the full log CTest keeps.
    grep -h -A1 ': Skipped$' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null |
      grep -v -e ': Skipped$' -e '^--$' | sed 's/^/  because: /'
  } >"build/$preset.summary"
}

# Wine on a virtual display, in the build's own prefix, through the build's runner (which names the
# loader). No window manager runs there, so windows are unmanaged and open and close without
# waiting for one. Usage: under_wine <build folder> <command...>
under_wine() {
  local runner="$PWD/$1/wine-run.sh"
  export WINEPREFIX="$PWD/$1/wineprefix"
  shift
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -c '
    runner=$1; shift
    "$runner" wineboot --init >/dev/null 2>&1
    "$runner" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    "$@"; status=$?
    wineserver -k 2>/dev/null
    exit $status' sh "$runner" "$@"
}

mkdir -p build
check linux
check linux-asan # the watcher, the forms and the Linux pieces under ASan and UBSan
check linux-tsan # the Linux port's reading thread, the clock helper and readiness under TSan
if ! windows_x64_path; then
  windows=(windows)
  check windows :: under_wine build/windows
else
  # The shipped program and setup are still the 32-bit ones: they are built and their imports
  # checked, and the setup run where 32-bit Wine can start (else reported as skipped); every suite
  # runs in the x86-64 build.
  windows=(windows windows-x64)
  check windows --target larkmoor --target larkmoor_setup --target port_library_ntport --target marker_program \
    -- -R '^(larkmoor_imports_run_on_xp|larkmoor_setup_imports_run_on_xp|larkmoor_setup)$' \
    :: under_wine build/windows
  check windows-x64 :: under_wine build/windows-x64
fi

echo
echo "== CTest summary =="
label() {
  case $1 in
    windows-x64) runs_32bit_programs &&
                 echo "windows (x86-64 under wine64: LARKMOOR_WINDOWS_X64=1)" ||
                 echo "windows (x86-64 under wine64: this kernel runs no 32-bit programs)" ;;
    windows) [ ${#windows[@]} -eq 1 ] && echo "windows (32-bit under Wine)" ||
             echo "windows (32-bit larkmoor.exe and setup: their imports, and the setup where 32-bit Wine runs)" ;;
    *) echo "$1" ;;
  esac
}
for preset in linux linux-asan linux-tsan "${windows[@]}"; do
  echo "$(label "$preset"):"
  sed 's/^/    /' "build/$preset.summary" 2>/dev/null || echo "    not run"
done
exit $failed
