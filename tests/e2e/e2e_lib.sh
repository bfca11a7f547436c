# Helpers for the end-to-end tests, sourced by the scripts beside them (bash):
# run the simulated program in a Wine virtual desktop, act on it as a person
# does, and read the simulated drives' journal. The caller sets E2E_SIM_DIR
# (the build's sim folder) and E2E_SHOT_DIR, calls e2e_setup, traps e2e_cleanup.
#
# Wine 8 facts they rely on (under Xvfb, no window manager):
#  - Wine sets APPDATA from the prefix's registry, so the program starts from
#    a batch file that sets it; cmd and explorer /desktop hand it on.
#  - Every Windows window is an X child of the desktop's X window: the popup
#    menu has the program's class and no name, a dialog is named after its
#    title, tray tips and balloons are unnamed explorer windows.
#  - X keys reach the process owning the focused X window: menu keys need the
#    focus on the menu's X window, hot keys (WM_HOTKEY) on the desktop's.
#  - xdotool getwindowgeometry reports child windows at twice their position;
#    xwininfo's "Absolute upper-left" is right.

E2E_PROGRAM=sbay_sim.exe
E2E_DESKTOP_SIZE=640x480
E2E_FAILURES=0
E2E_RUN_ID="sbay-e2e-$$-$RANDOM"   # marks the environment of every process we start

e2e_log() { printf '%s %s\n' "$(date +%H:%M:%S)" "$*"; }
pass() { e2e_log "ok   - $*"; }
fail() { e2e_log "FAIL - $*"; E2E_FAILURES=$((E2E_FAILURES + 1)); return 1; }
# check PASS-TEXT FAIL-TEXT COMMAND [ARGS...]: passes or fails on COMMAND.
check() { if "${@:3}"; then pass "$1"; else fail "$2"; fi; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# wait_until SECONDS COMMAND [ARGS...]: runs COMMAND every 200 ms until it
# succeeds (true) or SECONDS have passed (false).
wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000))
    until "${@:2}"; do (($(now_ms) < deadline)) || return 1; sleep 0.2; done
}
# winepath may be what starts the wineserver, so it carries the mark too.
windows_path() { SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$1" 2>/dev/null; }

# --- set-up and clean-up ---------------------------------------------------

e2e_setup() {
    local tool file
    for tool in wine winepath xdotool xwininfo import convert compare; do
        command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; return 1; }
    done
    [ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under xvfb-run" >&2; return 1; }
    # By hand the build's own prefix, beside the sim folder, is the one meant.
    [ -n "${WINEPREFIX:-}" ] || WINEPREFIX=$(cd "$E2E_SIM_DIR/../wineprefix" 2>/dev/null && pwd) ||
        { echo "WINEPREFIX is not set" >&2; return 1; }
    export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
    # A short path without blanks, for cmd and the batch file.
    E2E_WORK=$(mktemp -d /tmp/sbay-e2e.XXXXXX) || return 1
    E2E_RUN_DIR="$E2E_WORK/program" E2E_APPDATA="$E2E_WORK/appdata"
    E2E_JOURNAL="$E2E_WORK/program/simjournal.log" E2E_SETTINGS="$E2E_WORK/appdata/sbay/sbay.ini"
    mkdir -p "$E2E_SHOT_DIR" "$E2E_RUN_DIR" "$E2E_APPDATA/sbay" || return 1
    for file in "$E2E_PROGRAM" sbay_6_eng.dll sbay_6_rus.dll diskinside.wav; do
        cp "$E2E_SIM_DIR/$file" "$E2E_RUN_DIR/" || { echo "missing $E2E_SIM_DIR/$file (build first)" >&2; return 1; }
    done
    e2e_log "working folder $E2E_WORK, prefix $WINEPREFIX, display $DISPLAY"
}

# wine_pids ours|others: live processes with this run's mark (what we started,
# and the wineserver and Wine's services if we started them), or others' Wine
# processes in the same prefix.
wine_pids() {
    local dir
    for dir in /proc/[0-9]*; do
        grep -q '^State:[^Z]*$' "$dir/status" 2>/dev/null || continue
        if grep -qzx "SBAY_E2E_RUN=$E2E_RUN_ID" "$dir/environ" 2>/dev/null; then
            [ "$1" = ours ] && echo "${dir#/proc/}"
        elif [ "$1" = others ] && grep -qzx "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null &&
            [[ $(readlink "$dir/exe") == *wine* ]]; then
            echo "${dir#/proc/}"
        fi
    done
}
ours_gone() { [ -z "$(wine_pids ours)" ]; }

# The wineserver and Wine's services end by themselves a few seconds after the
# last program; what of ours outlives 15 s is killed, unless others' programs
# use that wineserver.
e2e_cleanup() {
    stop_program
    if ! wait_until 15 ours_gone && [ -z "$(wine_pids others)" ]; then
        e2e_log "still running after 15 s, killing:" $(wine_pids ours)
        kill -KILL $(wine_pids ours) 2>/dev/null
        wait_until 5 ours_gone || e2e_log "could not end:" $(wine_pids ours)
    fi
    [ -n "${E2E_WORK:-}" ] && rm -rf "$E2E_WORK"
}

# --- the program -------------------------------------------------------------

write_sim_drives() { printf '%s\n' "$@" >"$E2E_RUN_DIR/simdrives.ini"; }
# Lines of the Windows profile file, written with CRLF as Windows does.
write_settings() { printf '%s\r\n' "$@" >"$E2E_SETTINGS"; }

# start_program DESKTOP: runs the program in a new virtual desktop DESKTOP,
# waits for its X window and the tray icons of the letters in E2E_DRIVES, and
# sets E2E_DESKTOP_WINDOW, E2E_DESKTOP_X/Y/W/H, E2E_TASKBAR_X/Y/W/H and
# E2E_ICON_X/E2E_ICON_Y (letter -> icon centre).
start_program() {
    E2E_DESKTOP=$1
    local batch="$E2E_WORK/start-$1.bat" exe_w appdata_w batch_w n=${#E2E_DRIVES[@]} problem="" letters icon i=0
    exe_w=$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM") && appdata_w=$(windows_path "$E2E_APPDATA") &&
        batch_w=$(windows_path "$batch") || { fail "winepath did not answer"; return 1; }
    printf '@echo off\r\nset "APPDATA=%s"\r\nexplorer /desktop=%s,%s "%s"\r\n' \
        "$appdata_w" "$1" "$E2E_DESKTOP_SIZE" "$exe_w" >"$batch"
    : >"$E2E_JOURNAL"
    e2e_log "starting $E2E_PROGRAM in the virtual desktop '$1'"
    SBAY_E2E_RUN=$E2E_RUN_ID wine cmd /c "$batch_w" >>"$E2E_WORK/wine.log" 2>&1 &
    E2E_WINE_PID=$!
    disown "$E2E_WINE_PID"   # ended by stop_program; no job reports
    # The first start in a prefix can take a while.
    if ! wait_until 90 find_desktop_window; then problem="the virtual desktop '$1' did not appear within 90 s"
    elif ! wait_until 30 find_taskbar; then problem="no taskbar along the bottom of the virtual desktop within 30 s"
    elif ! wait_until 60 tray_icons_settled "$n"; then problem="not $n tray icons within 60 s: ${E2E_ICONS_FOUND:-none}"
    fi
    [ -z "$problem" ] || { save_screenshot "e2e_failure_start_$1.png"; fail "$problem"; return 1; }
    # Icons are added from Z down to A, each left of the others: right to left
    # they are the letters from the highest down.
    mapfile -t letters < <(printf '%s\n' "${E2E_DRIVES[@]}" | sort -r)
    unset E2E_ICON_X E2E_ICON_Y
    declare -gA E2E_ICON_X E2E_ICON_Y
    for icon in $E2E_ICONS_FOUND; do
        E2E_ICON_X[${letters[$i]}]=${icon%,*} E2E_ICON_Y[${letters[$i]}]=${icon#*,}
        grab_icon "$(start_icon "${letters[$i]}")" "${letters[$i]}"
        i=$((i + 1))
    done
    pass "the program started: $n tray icons in the notification area, at $E2E_ICONS_FOUND"
}

# Ends the program and its desktop (with whatever was started in it later),
# leaving Wine's own processes to end by themselves.
stop_program() {
    [ -n "${E2E_WINE_PID:-}" ] || return 0
    local pid pids=$E2E_WINE_PID
    for pid in $(wine_pids ours); do
        [[ $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) =~ $E2E_PROGRAM|explorer.*/desktop=|cmd|start\.exe ]] &&
            pids="$pids $pid"
    done
    kill -KILL $pids 2>/dev/null
    E2E_WINE_PID=
    wait_until 10 eval '! find_desktop_window' || e2e_log "the desktop window '$E2E_DESKTOP' is still there"
}

# Sets WIN_X WIN_Y WIN_W WIN_H from xwininfo for the X window $1.
window_geometry() {
    local values
    values=$(xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X:/ {x = $NF} /Absolute upper-left Y:/ {y = $NF}
        /^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {if (x != "" && w != "") print x, y, w, h}')
    [ -n "$values" ] && read -r WIN_X WIN_Y WIN_W WIN_H <<<"$values"
}
find_desktop_window() {
    local id
    id=$(xdotool search --name "^$E2E_DESKTOP - Wine desktop\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && window_geometry "$id" || return 1
    E2E_DESKTOP_WINDOW=$id E2E_DESKTOP_X=$WIN_X E2E_DESKTOP_Y=$WIN_Y E2E_DESKTOP_W=$WIN_W E2E_DESKTOP_H=$WIN_H
}
# The taskbar is explorer's X child window along the desktop's bottom edge.
find_taskbar() {
    local line
    line=$(xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null | awk -v dw="$E2E_DESKTOP_W" -v dh="$E2E_DESKTOP_H" '
        /"explorer.exe"/ { for (i = 1; i < NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-]/) { split($i, g, /[x+]/)
            if (g[1] == dw && g[2] < 60 && g[4] + g[2] == dh) { print g[3], g[4], g[1], g[2]; exit } } }')
    [ -n "$line" ] || return 1
    read -r E2E_TASKBAR_X E2E_TASKBAR_Y E2E_TASKBAR_W E2E_TASKBAR_H <<<"$line"
    E2E_TASKBAR_X=$((E2E_TASKBAR_X + E2E_DESKTOP_X)) E2E_TASKBAR_Y=$((E2E_TASKBAR_Y + E2E_DESKTOP_Y))
}

# Prints the screen centres "x,y" of the icons in the right half of the
# taskbar on screenshot $1, right to left: runs of columns, 8 to 24 wide,
# holding pixels not of the taskbar's own (most common) colour.
locate_tray_icons() {
    local x0=$((E2E_TASKBAR_X + E2E_TASKBAR_W / 2))
    convert "$1" -crop "$((E2E_TASKBAR_W - E2E_TASKBAR_W / 2))x${E2E_TASKBAR_H}+${x0}+${E2E_TASKBAR_Y}" +repage \
        -depth 8 txt:- | awk -v x0="$x0" -v y0="$E2E_TASKBAR_Y" '
        NR > 1 { split($1, p, /[,:]/); c[p[1], p[2]] = $3; w = p[1]; h = p[2]; if (++n[$3] > most) { most = n[$3]; bg = $3 } }
        END { for (x = w; x >= -1; x--) {
            lo = -1; for (y = 0; x >= 0 && y <= h; y++) if (c[x, y] != bg) { if (lo < 0) lo = y; hi = y }
            if (lo >= 0) { if (!run) { right = x; top = lo; bottom = hi; run = 1 }
                left = x; gap = 0; if (lo < top) top = lo; if (hi > bottom) bottom = hi
            } else if (run && (++gap >= 2 || x < 0)) { run = 0
                if (right - left >= 7 && right - left <= 23) printf "%d,%d ", x0 + int((left + right) / 2), y0 + int((top + bottom) / 2) } } }'
}
# True when two screenshots in a row show the same $1 icons.
tray_icons_settled() {
    local shot="$E2E_WORK/icons.png" first
    import -window root "$shot" 2>/dev/null && first=$(locate_tray_icons "$shot") && sleep 0.5 &&
        import -window root "$shot" 2>/dev/null && E2E_ICONS_FOUND=$(locate_tray_icons "$shot") &&
        [ "$first" = "$E2E_ICONS_FOUND" ] && [ "$(wc -w <<<"$first")" -eq "$1" ]
}

# --- screen ----------------------------------------------------------------

# save_screenshot NAME [X Y W H [SCALE]]: the virtual desktop, or the given
# screen rectangle enlarged SCALE times, into the screenshot folder.
save_screenshot() {
    local crop="${E2E_DESKTOP_W}x${E2E_DESKTOP_H}+${E2E_DESKTOP_X}+${E2E_DESKTOP_Y}"
    [ $# -ge 5 ] && crop="${4}x${5}+${2}+${3}"
    import -window root "$E2E_WORK/raw.png" 2>/dev/null && convert "$E2E_WORK/raw.png" -crop "$crop" +repage \
        -filter point -resize "$((${6:-1} * 100))%" "$E2E_SHOT_DIR/$1" && e2e_log "screenshot: $E2E_SHOT_DIR/$1"
}
grab_region() { # grab_region FILE X Y W H
    import -window root "$E2E_WORK/grab.png" 2>/dev/null && convert "$E2E_WORK/grab.png" -crop "${4}x${5}+${2}+${3}" +repage "$1"
}
# Number of pixels that differ between two pictures of the same size.
pixels_differing() { compare -metric AE "$1" "$2" null: 2>&1 | awk '{print int($1)}'; }
# count_pixels PICTURE FX-CONDITION: how many of its pixels meet the condition.
count_pixels() { convert "$1" -fx "($2) ? 1 : 0" -format '%[fx:int(mean*w*h+0.5)]' info:; }
# Number of dark pixels (text) in a picture: luminance below 20 %.
dark_pixels() { convert "$1" -colorspace Gray -negate -threshold 80% -format '%[fx:int(mean*w*h+0.5)]' info:; }
# region_still SECONDS X Y W H: waits until two pictures of the rectangle
# taken 0.3 s apart are the same.
region_still() { grab_region "$E2E_WORK/still-a.png" "${@:2}" && wait_until "$1" region_unchanged "${@:2}"; }
region_unchanged() {
    sleep 0.3
    grab_region "$E2E_WORK/still-b.png" "$@" || return 1
    set -- "$(pixels_differing "$E2E_WORK/still-a.png" "$E2E_WORK/still-b.png")"
    mv "$E2E_WORK/still-b.png" "$E2E_WORK/still-a.png"
    [ "$1" = 0 ]
}
# The picture of a drive's icon as the program started.
start_icon() { echo "$E2E_WORK/icon-start-$1.png"; }
# grab_icon FILE LETTER: the 16x16 picture of the drive's tray icon.
grab_icon() { grab_region "$1" $((E2E_ICON_X[$2] - 8)) $((E2E_ICON_Y[$2] - 8)) 16 16; }
# icon_matches LETTER FILE: the icon shows the picture in FILE now.
icon_matches() { grab_icon "$E2E_WORK/icon-now.png" "$1" && [ "$(pixels_differing "$2" "$E2E_WORK/icon-now.png")" = 0 ]; }

# --- windows and keys --------------------------------------------------------

# X windows (decimal ids) directly inside our virtual desktop. Searches keep
# to these: other programs using the prefix can show windows on this display.
desktop_children() {
    local hex
    for hex in $(xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null | awk '$1 ~ /^0x[0-9a-f]+$/ {print $1}'); do
        echo $((hex))
    done
}
# search_in_desktop XDOTOOL-SEARCH-ARGS...: visible windows matching the
# search that belong to our virtual desktop.
search_in_desktop() {
    local found
    found=$(xdotool search --onlyvisible "$@" 2>/dev/null) && grep -Fxf <(desktop_children) <<<"$found"
}
# window_keys WINDOW PAUSE KEYS...: types KEYS with the X focus on WINDOW,
# PAUSE seconds after each.
window_keys() {
    local key
    timeout 3 xdotool windowfocus --sync "$1" 2>/dev/null || e2e_log "the X window $1 did not take the focus"
    for key in "${@:3}"; do xdotool key "$key"; sleep "$2"; done
}
# Gives the X focus to the desktop window, so hot keys typed next reach Wine.
focus_desktop() { window_keys "$E2E_DESKTOP_WINDOW" 0; }
# Puts the pointer on an empty part of the desktop, away from the icons.
park_pointer() { xdotool mousemove $((E2E_DESKTOP_X + 40)) $((E2E_DESKTOP_Y + E2E_DESKTOP_H / 2)); }

# --- the tray menu -----------------------------------------------------------

# Sets MENU_WINDOW and MENU_X/Y/W/H when the program shows a popup menu.
find_menu() {
    local id
    for id in $(search_in_desktop --class "^${E2E_PROGRAM//./\\.}\$"); do
        [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] && window_geometry "$id" && ((WIN_W >= 40 && WIN_H >= 40)) &&
            MENU_WINDOW=$id MENU_X=$WIN_X MENU_Y=$WIN_Y MENU_W=$WIN_W MENU_H=$WIN_H && return 0
    done
    return 1
}
menu_gone() { ! find_menu; }
# Right-clicks the icon of drive $1 and waits for the menu; false if none.
open_tray_menu() { xdotool mousemove "${E2E_ICON_X[$1]}" "${E2E_ICON_Y[$1]}" click 3 && wait_until 5 find_menu; }
# Moves the pointer off the icon (its tip would cover the menu) and waits
# until the menu's picture holds still.
settle_menu() { park_pointer; region_still 3 "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"; }
menu_keys() { window_keys "$MENU_WINDOW" 0.15 "$@"; }

# --- the journal and scenarios -----------------------------------------------

journal_mark() { if [ -f "$E2E_JOURNAL" ]; then wc -l <"$E2E_JOURNAL"; else echo 0; fi; }
journal_since() { tail -n +$(($1 + 1)) "$E2E_JOURNAL" 2>/dev/null | tr -d '\r'; }
# journal_has MARK LINE: LINE was written after MARK.
journal_has() { journal_since "$1" | grep -Fxq "$2"; }

# run_scenario NAME: runs the function NAME; on failure keeps a screenshot and
# the journal's end, then closes a menu left open so the next one starts clean.
run_scenario() {
    local failures_before=$E2E_FAILURES
    e2e_log "--- $1"
    if ! "$1" || ((E2E_FAILURES > failures_before)); then
        ((E2E_FAILURES > failures_before)) || fail "$1"
        save_screenshot "e2e_failure_$1.png"
        e2e_log "journal's last lines:"
        tail -n 8 "$E2E_JOURNAL" 2>/dev/null | tr -d '\r' | sed 's/^/    /'
    fi
    find_menu && menu_keys Escape && wait_until 3 menu_gone
    return 0
}
# e2e_finish: the script's exit status from the checks' outcome.
e2e_finish() {
    ((E2E_FAILURES == 0)) || { e2e_log "$E2E_FAILURES check(s) failed"; exit 1; }
    e2e_log "all checks passed"
    exit 0
}
