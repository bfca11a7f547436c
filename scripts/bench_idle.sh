#!/bin/bash
# The idle figure: CPU time of the whole Wine prefix (the wineserver, Wine's
# explorer with the notification area, services, the program) over a minute
# while sbay_sim.exe shows 26 simulated drives that do not change, against the
# same prefix holding only a bare hidden window with 26 composed icons
# (`sbay_bench.exe idle-floor`). Program and floor take turns.
#
#   scripts/bench_idle.sh [SECONDS [RUNS]]     defaults: 60 seconds, 1 run each
#
# Environment: JOURNAL=1 keeps the simulator's journal on (default off, as the
# real program has none); SETTLE=N seconds waited after each start (20: under
# Wine a program's failed bid to be a service takes ten, where Windows refuses
# it at once, and idle is what comes after); SHOTS=1 saves a screenshot of each
# desktop to build/mingw/screenshots; VERBOSE=1 shows each process's share.
# It runs on a private Xvfb in a Wine prefix of its own, build/mingw/idle-prefix,
# so that nothing else uses the prefix it measures. Build first (scripts/build.sh).
set -eu
cd "$(dirname "$0")/.."
if [ -z "${SBAY_IDLE_XVFB:-}" ]; then
    exec env SBAY_IDLE_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
root=$PWD
build=$root/build/mingw
seconds=${1:-60} runs=${2:-1} settle=${SETTLE:-20}
export WINEPREFIX="$build/idle-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for file in sim/sbay_sim.exe tests/sbay_bench.exe; do
    [ -f "$build/$file" ] || { echo "$build/$file is missing: run scripts/build.sh first" >&2; exit 1; }
done
scripts/prepare-wine-prefix.sh "$WINEPREFIX" >/dev/null
wineserver -k 2>/dev/null || true
wineserver -w

work=$(mktemp -d /tmp/sbay-idle.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$build"/sim/{sbay_sim.exe,sbay_6_eng.dll,sbay_6_rus.dll,diskinside.wav} "$work/"
{
    printf '[sim]\r\njournal=%s\r\n' "${JOURNAL:-0}"
    for letter in {A..Z}; do printf '[%s]\r\nmedium=data\r\nlabel=IDLE_%s\r\nsize=4700000000\r\n' "$letter" "$letter"; done
} >"$work/simdrives.ini"

ticks_per_second=$(getconf CLK_TCK)
# Processor ticks (user and system) of every live process of the prefix, "PID TICKS" a line.
prefix_ticks() {
    local dir
    for dir in /proc/[0-9]*; do
        grep -qzx "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null || continue
        [[ $(readlink "$dir/exe" 2>/dev/null) == *wine* ]] || continue   # not this script's own helpers
        # Fields after the command name, which may hold blanks: utime and stime are the 12th and 13th.
        sed 's/.*) //' "$dir/stat" 2>/dev/null |
            awk -v pid="${dir#/proc/}" -v name="$(tr '\0' ' ' <"$dir/cmdline" | cut -c1-60 | tr ' ' _)" \
                '{ print pid, $12 + $13, name }'
    done
}

# measure NAME COMMAND...: starts COMMAND in the prefix, waits for it to settle,
# prints the prefix's CPU seconds over the measured time, then ends the prefix.
measure() {
    local name=$1
    shift
    "$@" >/dev/null 2>&1 &
    sleep "$settle"
    prefix_ticks >"$work/before"
    sleep "$seconds"
    prefix_ticks >"$work/after"
    if [ -n "${SHOTS:-}" ]; then
        mkdir -p "$build/screenshots"
        import -window root "$build/screenshots/idle-$name.png"
    fi
    wineserver -k 2>/dev/null || true
    wineserver -w
    wait 2>/dev/null || true
    # A process started meanwhile counts whole; one that ended is lost to both sides alike.
    # VERBOSE=1 tells each process's share on the standard error.
    awk -v tps="$ticks_per_second" -v verbose="${VERBOSE:-}" -v side="$name" '
        NR == FNR { before[$1] = $2; next }
        { total += $2 - before[$1]; if (verbose != "" && $2 > before[$1])
              printf "  %s: %.2f s %s\n", side, ($2 - before[$1]) / tps, $3 > "/dev/stderr" }
        END { printf "%.2f\n", total / tps }' "$work/before" "$work/after"
}

echo "Idle CPU of the whole Wine prefix over $seconds s, after $settle s to settle (the machine is shared: compare the ratio)"
program_runs=() floor_runs=()
for ((run = 1; run <= runs; ++run)); do
    program=$(measure program wine "$work/sbay_sim.exe")
    floor=$(measure floor wine "$build/tests/sbay_bench.exe" idle-floor)
    echo "run $run: sbay_sim.exe with 26 unchanged drives ${program} s; bare window with 26 icons ${floor} s"
    program_runs+=("$program") floor_runs+=("$floor")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
program=$(median "${program_runs[@]}") floor=$(median "${floor_runs[@]}")
awk -v p="$program" -v f="$floor" -v n="$runs" 'BEGIN {
    printf "idle, median of %d run(s): program %.2f CPU s, floor %.2f CPU s, ratio %.2f\n", n, p, f, (f > 0 ? p / f : 0) }'
