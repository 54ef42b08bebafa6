#!/usr/bin/env bash
# Measures the program and prints one table: the cost of a watcher pass, the delay from a contact
# closing to the clock's set and the clock's error right after it (Qt offscreen, running this
# build's clock helper, whose set is recorded instead of made; Win32 under Wine), idle CPU, peak
# memory, exe size.
# Usage: scripts/bench.sh [closures] [idle seconds]   (defaults 200 and 60)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
. scripts/machine.sh
closures=${1:-200}
idle=${2:-60}

cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target bench_pass bench_delay bench_floor >/dev/null
# The Win32 column runs the 32-bit build under 32-bit Wine, or, where the kernel runs no 32-bit
# programs, the x86-64 build under 64-bit Wine; the exe's size is always the shipped 32-bit one.
win=windows
runs_32bit_programs || win=windows-x64
for preset in windows $win; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$(nproc)" --target bench_delay larkmoor >/dev/null
done

pass_ns=$(build/linux/bench/bench_pass --benchmark_format=csv 2>/dev/null |
          awk -F, '/WatcherPass/ {printf "%.0f", $3}')

floor=$(build/linux/bench/bench_floor "$idle" | awk '{print $2}')

# One after the other, so that neither disturbs the other's timers.
QT_QPA_PLATFORM=offscreen build/linux/bench/bench_delay "$closures" "$idle" \
  >build/linux/bench/delay.txt 2>/dev/null || true
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -c \
  "build/$win/wine-run.sh wineboot --init >/dev/null 2>&1; build/$win/wine-run.sh build/$win/bench/bench_delay.exe $closures $idle" \
  | tr -d '\r' >build/windows/bench/delay.txt || true

value() { awk -v k="$2" '$1 == k {print $2}' "$1"; }
exe_kb=$(( $(stat -c %s build/windows/app/larkmoor.exe) / 1024 ))

printf '| measure | Qt (offscreen) | Win32 (Wine) |\n|---|---|---|\n'
printf '| one watcher pass, real Linux port reader and clock | %s ns | |\n' "$pass_ns"
q=build/linux/bench/delay.txt w=build/windows/bench/delay.txt
printf '| closures acted on, and sets made for them | %s of %s, %s | %s of %s, %s |\n' "$(value $q acted_on)" "$closures" "$(value $q sets)" "$(value $w acted_on)" "$closures" "$(value $w sets)"
spread() { printf '%s, %s, %s ms' "$(value $1 ${2}_median_ms)" "$(value $1 ${2}_p99_ms)" "$(value $1 ${2}_max_ms)"; }
printf '| delay closure -> the set itself: median, 99th percentile, maximum | %s | %s |\n' "$(spread $q delay)" "$(spread $w delay)"
printf '| clock error right after the set, absolute: median, 99th percentile, maximum | %s | %s |\n' "$(spread $q error)" "$(spread $w error)"
printf '| longest gap between two passes | %s ms | %s ms |\n' "$(value $q longest_gap_ms)" "$(value $w longest_gap_ms)"
printf '| CPU while watching an open contact away from hh:54:30 (%s s) | %s %% | %s %% |\n' "$idle" "$(value $q idle_cpu_percent)" "$(value $w idle_cpu_percent)"
printf '| the same near hh:54:30 (sampled every millisecond) | %s %% | %s %% |\n' "$(value $q fast_cpu_percent)" "$(value $w fast_cpu_percent)"
printf '| the same over an hour (58 min away, 2 min near) | %s %% | %s %% |\n' "$(value $q hourly_cpu_percent)" "$(value $w hourly_cpu_percent)"
printf '| a bare loop waking every 50 ms (the floor here) | %s %% | |\n' "$floor"
printf '| peak memory | %s KiB | %s KiB |\n' "$(value $q peak_memory_kb)" "$(value $w peak_memory_kb)"
printf '| larkmoor.exe | | %s KiB |\n' "$exe_kb"
