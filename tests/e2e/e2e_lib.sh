# Helpers for the end-to-end tests: the simulated program in a Wine virtual desktop, acted on as a person does.
# A script sources this, calls e2e_setup "$@" and sets E2E_DRIVES before start_program. Wine 8 facts (Xvfb, no
# window manager): Wine sets APPDATA from the prefix's registry, so a batch file sets it. Windows' windows are X
# children of the desktop's X window: a popup menu has the program's class and no name, a dialog its title, tips
# and balloons are unnamed explorer windows. Keys reach the process owning the focused X window: the menu's for
# menu keys, the desktop's for hot keys. xdotool getwindowgeometry doubles child windows' positions; xwininfo's
# are right.
set -u -o pipefail
E2E_PROGRAM=sbay_sim.exe E2E_DESKTOP_SIZE=640x480 E2E_FAILURES=0
E2E_RUN_ID="sbay-e2e-$$-$RANDOM"   # marks the environment of every process we start

e2e_log() { printf '%s %s\n' "$(date +%H:%M:%S)" "$*"; }
fail() { e2e_log "FAIL - $*"; E2E_FAILURES=$((E2E_FAILURES + 1)); return 1; }
check() { if "${@:2}"; then e2e_log "ok   - $1"; else fail "$1"; fi; }   # check TEXT COMMAND...
not() { ! "$@"; }
is() { [ "$1" = "$2" ] || { e2e_log "     got '$1', expected '$2'"; return 1; }; }
in_range() { (($1 >= $2 && $1 <= $3)); }
scaled() { echo $(($1 * ${E2E_DPI:-96} / 96)); }   # a length measured at 96 dpi, at the prefix's scale
now_ms() { echo $(($(date +%s%N) / 1000000)); }
wait_until() { # wait_until SECONDS COMMAND...: true once COMMAND is, false when time is up
    local deadline=$(($(now_ms) + $1 * 1000))
    until "${@:2}"; do (($(now_ms) < deadline)) || return 1; sleep 0.2; done
}
# A Wine tool may be what starts the wineserver, so it carries the mark too.
marked() { SBAY_E2E_RUN=$E2E_RUN_ID "$@" 2>/dev/null; }
windows_path() { marked winepath -w "$1"; }
reg_value() { marked wine reg query "$1" /v "$2" | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | grep .; }

# e2e_setup SIM_DIR SCREENSHOT_DIR [EXIT-TRAP]: checks the tools, copies the program to a work folder.
e2e_setup() {
    [ $# -ge 2 ] || { echo "usage: $0 SIM_DIR SCREENSHOT_DIR" >&2; exit 2; }
    E2E_SIM_DIR=$(cd "$1" && pwd) && mkdir -p "$2" && E2E_SHOT_DIR=$(cd "$2" && pwd) || exit 2
    trap "${3:-e2e_cleanup}" EXIT
    trap 'exit 130' INT TERM
    command -v wine winepath xdotool xwininfo import convert compare >/dev/null || { echo "missing tools" >&2; exit 1; }
    [ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under xvfb-run" >&2; exit 1; }
    # By hand the build's own prefix, beside the sim folder, is the one meant.
    [ -n "${WINEPREFIX:-}" ] || WINEPREFIX=$(cd "$E2E_SIM_DIR/../wineprefix" 2>/dev/null && pwd) ||
        { echo "WINEPREFIX is not set" >&2; exit 1; }
    export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
    # The prefix's display scale: places inside windows measured at 96 dpi are scaled by it.
    E2E_DPI=$(($(reg_value 'HKCU\Control Panel\Desktop' LogPixels || echo 96)))
    # A short path without blanks, for cmd and the batch file.
    E2E_WORK=$(mktemp -d /tmp/sbay-e2e.XXXXXX) || exit 1
    E2E_RUN_DIR=$E2E_WORK/program E2E_APPDATA=$E2E_WORK/appdata E2E_STILL=$E2E_WORK/still.png
    E2E_JOURNAL=$E2E_RUN_DIR/simjournal.log E2E_SETTINGS=$E2E_APPDATA/sbay/sbay.ini
    mkdir -p "$E2E_RUN_DIR" "$E2E_APPDATA/sbay" &&
        cp "$E2E_SIM_DIR"/{"$E2E_PROGRAM",sbay_6_eng.dll,sbay_6_rus.dll,diskinside.wav} "$E2E_RUN_DIR/" ||
        { echo "the program is not in $E2E_SIM_DIR (build first)" >&2; exit 1; }
}

# wine_pids ours|others: live processes with this run's mark (with the wineserver and Wine's
# services if we started them), or others' Wine processes in the same prefix.
wine_pids() {
    local dir
    for dir in /proc/[0-9]*; do
        grep -q '^State:[^Z]*$' "$dir/status" 2>/dev/null || continue
        if grep -qzx "SBAY_E2E_RUN=$E2E_RUN_ID" "$dir/environ" 2>/dev/null; then
            [ "$1" = ours ] && echo "${dir#/proc/}"
        elif [ "$1" = others ] && grep -qzx "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null &&
            [[ $(readlink "$dir/exe") == *wine* ]]; then echo "${dir#/proc/}"; fi
    done
}
ours_gone() { [ -z "$(wine_pids ours)" ]; }
our_pids_running() { # our_pids_running REGEX: ours whose command line, its words joined by blanks, matches
    local pid
    for pid in $(wine_pids ours); do [[ $(tr '\0' ' ' <"/proc/$pid/cmdline") =~ $1 ]] && echo "$pid"; done
}

# The wineserver and Wine's services end a few seconds after the last program; what of ours
# outlives 15 s is killed, unless others' programs use that wineserver.
e2e_cleanup() {
    stop_program
    if ! wait_until 15 ours_gone && [ -z "$(wine_pids others)" ]; then
        e2e_log "still running after 15 s, killing:" $(wine_pids ours)
        kill -KILL $(wine_pids ours) 2>/dev/null
        wait_until 5 ours_gone || e2e_log "could not end:" $(wine_pids ours)
    fi
    [ -n "${E2E_WORK:-}" ] && rm -rf "$E2E_WORK"
}

write_sim_drives() { printf '%s\n' "$@" >"$E2E_RUN_DIR/simdrives.ini"; }
write_settings() { printf '%s\r\n' "$@" >"$E2E_SETTINGS"; }   # a profile file, in CRLF as Windows writes it

# launch NAME LINE...: a batch file of LINEs, after setting APPDATA, run by cmd in our virtual desktop.
launch() {
    local batch="$E2E_WORK/$1.bat"
    printf '%s\r\n' '@echo off' "set \"APPDATA=$(windows_path "$E2E_APPDATA")\"" "${@:2}" >"$batch"
    SBAY_E2E_RUN=$E2E_RUN_ID wine explorer "/desktop=$E2E_DESKTOP,$E2E_DESKTOP_SIZE" cmd /c \
        "$(windows_path "$batch")" >>"$E2E_WORK/wine.log" 2>&1 &
    disown $!   # ended by stop_program; no job reports
}
program_line() { echo "\"$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM")\""; }

# start_program DESKTOP: the program in a new virtual desktop, with E2E_DRIVES' tray icons; sets
# E2E_DESKTOP_WINDOW, E2E_DESKTOP_X/Y/W/H, E2E_TASKBAR_X/Y/W/H, E2E_ICON_X/Y[LETTER] (centres).
start_program() {
    local n=${#E2E_DRIVES[@]} letter
    E2E_DESKTOP=$1
    : >"$E2E_JOURNAL"
    launch "start-$1" "$(program_line)"
    # The first start in a prefix can take a while.
    wait_until 90 find_desktop_window && wait_until 30 find_taskbar && wait_until 60 tray_icons_settled "$n"
    check "the program started in the desktop '$1': $n tray icons, at ${E2E_ICONS_FOUND:-none}" test $? = 0 ||
        { save_screenshot "e2e_failure_start_$1.png"; return 1; }
    declare -gA E2E_ICON_X E2E_ICON_Y
    set -- $E2E_ICONS_FOUND
    for letter in $(printf '%s\n' "${E2E_DRIVES[@]}" | sort -r); do   # added from Z to A, each left of the others
        E2E_ICON_X[$letter]=${1%,*} E2E_ICON_Y[$letter]=${1#*,} && shift
        grab_icon "$(start_icon "$letter")" "$letter"
    done
}

# Ends the program and its desktop, not Wine's own processes.
stop_program() {
    [ -n "${E2E_DESKTOP:-}" ] || return 0
    kill -KILL $(our_pids_running "$E2E_PROGRAM|explorer.*/desktop=|cmd") 2>/dev/null
    wait_until 10 not find_desktop_window || e2e_log "the desktop window '$E2E_DESKTOP' is still there"
    E2E_DESKTOP=
}

window_geometry() { # sets WIN_X WIN_Y WIN_W WIN_H for the X window $1
    read -r WIN_X WIN_Y WIN_W WIN_H < <(xwininfo -id "$1" 2>/dev/null |
        awk '/Absolute upper-left [XY]:|^ *(Width|Height):/ {printf "%s ", $NF}'); [ -n "$WIN_H" ]
}
find_desktop_window() {
    E2E_DESKTOP_WINDOW=$(xdotool search --name "^$E2E_DESKTOP - Wine desktop\$" 2>/dev/null | head -n 1)
    [ -n "$E2E_DESKTOP_WINDOW" ] && window_geometry "$E2E_DESKTOP_WINDOW" &&
        E2E_DESKTOP_X=$WIN_X E2E_DESKTOP_Y=$WIN_Y E2E_DESKTOP_W=$WIN_W E2E_DESKTOP_H=$WIN_H
}
find_taskbar() { # explorer's X child window along the desktop's bottom edge
    read -r E2E_TASKBAR_W E2E_TASKBAR_H E2E_TASKBAR_X E2E_TASKBAR_Y < <(desktop_children |
        grep '"explorer.exe"' | grep -o "\b$E2E_DESKTOP_W""x[0-9]*+[0-9]*+[0-9]*" | tr 'x+' '  ' |
        awk -v dh="$E2E_DESKTOP_H" '$2 < 60 && $2 + $4 == dh {print; exit}') || return 1
    E2E_TASKBAR_X=$((E2E_TASKBAR_X + E2E_DESKTOP_X)) E2E_TASKBAR_Y=$((E2E_TASKBAR_Y + E2E_DESKTOP_Y))
}

# Centres "x,y" of the icons in the taskbar's right half on the screen, right to left: runs of
# columns 8 to 36 wide (16 to 32 pixel icons) with pixels not of the taskbar's (most common) colour,
# at its middle.
locate_tray_icons() {
    local x0=$((E2E_TASKBAR_X + E2E_TASKBAR_W / 2)) y=$((E2E_TASKBAR_Y + (E2E_TASKBAR_H - 1) / 2))
    grab_region "$E2E_WORK/icons.png" "$x0" "$E2E_TASKBAR_Y" $((E2E_TASKBAR_W - E2E_TASKBAR_W / 2)) "$E2E_TASKBAR_H" &&
        convert "$E2E_WORK/icons.png" -depth 8 txt:- | awk -v x0="$x0" -v y="$y" '
        NR > 1 { split($1, p, /[,:]/); c[NR] = $3; px[NR] = p[1]; w = p[1]
            if (++n[$3] > most) { most = n[$3]; bg = $3 } }
        END { for (i in c) if (c[i] != bg) used[px[i]] = 1
            for (x = w; x >= -1; x--) if (x in used) { if (!run) right = x; run = 1; left = x; gap = 0 }
            else if (run && (++gap >= 2 || x < 0)) { run = 0
                if (right - left >= 7 && right - left <= 35) printf "%d,%d ", x0 + int((left + right) / 2), y } }'
}
tray_icons_settled() { # two looks 0.5 s apart find the same $1 icons
    local first
    first=$(locate_tray_icons) && sleep 0.5 && E2E_ICONS_FOUND=$(locate_tray_icons) &&
        [ "$first" = "$E2E_ICONS_FOUND" ] && [ "$(wc -w <<<"$first")" -eq "$1" ]
}

# grab_region FILE X Y W H [SCALE]: the rectangle of the screen, enlarged SCALE times.
grab_region() {
    import -window root "$E2E_WORK/grab.png" 2>/dev/null &&
        convert "$E2E_WORK/grab.png" -crop "${4}x${5}+${2}+${3}" +repage -filter point -resize "${6:-1}00%" "$1"
}
# save_screenshot NAME [X Y W H [SCALE]]: the desktop, or the rectangle, kept in the screenshot folder.
save_screenshot() {
    [ $# -ge 5 ] || set -- "$1" "$E2E_DESKTOP_X" "$E2E_DESKTOP_Y" "$E2E_DESKTOP_W" "$E2E_DESKTOP_H"
    grab_region "$E2E_SHOT_DIR/$1" "${@:2}" && e2e_log "screenshot: $E2E_SHOT_DIR/$1"
}
# differ FILE FILE PIXELS: more pixels than PIXELS differ; pictures of other sizes differ everywhere.
differ() { (($(compare -metric AE "$1" "$2" null: 2>&1 | awk '{print ($1 + 0 == $1) ? int($1) : 999999999}') > $3)); }
count_pixels() { convert "$1" -fx "($2) ? 1 : 0" -format '%[fx:int(mean*w*h+0.5)]' info:; }   # FILE FX-CONDITION
# Dark pixels, text: luminance below 20 %.
dark_pixels() { convert "$1" -colorspace Gray -negate -threshold 80% -format '%[fx:int(mean*w*h+0.5)]' info:; }
# region_still SECONDS X Y W H: waits until pictures of the rectangle 0.3 s apart are the same (in E2E_STILL).
region_still() { grab_region "$E2E_STILL" "${@:2}" && wait_until "$1" region_unchanged "${@:2}"; }
region_unchanged() {
    sleep 0.3 && mv "$E2E_STILL" "$E2E_WORK/still-before.png" &&
        grab_region "$E2E_STILL" "$@" && not differ "$E2E_WORK/still-before.png" "$E2E_STILL" 0
}
start_icon() { echo "$E2E_WORK/icon-start-$1.png"; }   # drive $1's icon as the program started
grab_icon() { grab_region "$1" $((E2E_ICON_X[$2] - 8)) $((E2E_ICON_Y[$2] - 8)) 16 16; }   # grab_icon FILE LETTER
icon_matches() { grab_icon "$E2E_WORK/icon-now.png" "$1" && not differ "$2" "$E2E_WORK/icon-now.png" 0; }

# Our desktop's X windows (decimal ids): others using the prefix can show windows on this display.
desktop_children() { xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null; }
search_in_desktop() {
    grep -Fxf <(printf '%d\n' $(desktop_children | awk '$1 ~ /^0x[0-9a-f]+$/ {print $1}')) \
        <(xdotool search --onlyvisible "$@" 2>/dev/null)
}
# find_window VAR MIN-W MIN-H SEARCH...: sets VAR_WINDOW and VAR_X/Y/W/H to a window of ours at least so
# large and narrower than the desktop (the taskbar is not), found by xdotool search; by --class, unnamed.
find_window() {
    local id
    for id in $(search_in_desktop "${@:4}"); do
        [ "$4" != --class ] || [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] || continue
        window_geometry "$id" && ((WIN_W >= $2 && WIN_H >= $3 && WIN_W < E2E_DESKTOP_W)) || continue
        declare -g "$1_WINDOW=$id" "$1_X=$WIN_X" "$1_Y=$WIN_Y" "$1_W=$WIN_W" "$1_H=$WIN_H" && return 0
    done
    return 1
}
window_keys() { # window_keys WINDOW PAUSE KEYS...: with the X focus on WINDOW, PAUSE s after each
    local key
    timeout 3 xdotool windowfocus --sync "$1" 2>/dev/null || e2e_log "the X window $1 did not take the focus"
    for key in "${@:3}"; do xdotool key "$key"; sleep "$2"; done
}
focus_desktop() { window_keys "$E2E_DESKTOP_WINDOW" 0; }
park_pointer() { xdotool mousemove $((E2E_DESKTOP_X + 40)) $((E2E_DESKTOP_Y + E2E_DESKTOP_H / 2)); }   # off the icons

find_menu() { find_window MENU 40 40 --class "^${E2E_PROGRAM//./\\.}\$"; }   # the program's popup menu
open_tray_menu() { xdotool mousemove "${E2E_ICON_X[$1]}" "${E2E_ICON_Y[$1]}" click 3 && wait_until 5 find_menu; }
# With the pointer off the icon (its tip would cover the menu), waits for the menu to hold still.
settle_menu() { park_pointer; region_still 3 "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"; }
menu_keys() { window_keys "$MENU_WINDOW" 0.15 "$@"; }

journal_mark() { wc -l <"$E2E_JOURNAL"; }
journal_since() { tail -n +$(($1 + 1)) "$E2E_JOURNAL" 2>/dev/null | tr -d '\r'; }
journal_has() { journal_since "$1" | grep -Fq "$2"; }   # journal_has MARK TEXT

# run_scenario NAME...: on a failure keeps a screenshot and the journal's end; closes a menu left open.
run_scenario() {
    local name failures_before
    for name; do
        failures_before=$E2E_FAILURES
        e2e_log "--- $name"
        if ! "$name" || ((E2E_FAILURES > failures_before)); then
            ((E2E_FAILURES > failures_before)) || fail "$name"
            save_screenshot "e2e_failure_$name.png"
            e2e_log "journal's last lines:" && tail -n 8 "$E2E_JOURNAL" 2>/dev/null | tr -d '\r' | sed 's/^/    /'
        fi
        find_menu && menu_keys Escape && wait_until 3 not find_menu
    done
}
e2e_finish() { ((E2E_FAILURES == 0)) || { e2e_log "$E2E_FAILURES check(s) failed"; exit 1; }; e2e_log "all passed"; }
