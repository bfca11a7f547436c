# Helpers for the end-to-end tests, sourced by the scripts beside them (bash):
# start the simulated program in a Wine virtual desktop, find its tray icons
# on a screenshot, click and type as a person does, and read what the program
# did from the simulated drives' journal. The caller sets E2E_SIM_DIR (the
# build's sim folder) and E2E_SHOT_DIR (where screenshots go), calls
# e2e_setup once and traps e2e_cleanup on exit.
#
# Wine 8 facts they rely on (under Xvfb, no window manager):
#  - Wine sets APPDATA from the prefix's registry, so the program starts from
#    a batch file that sets it; cmd and explorer /desktop hand it on.
#  - Every Windows window is an X child of the desktop's X window: the popup
#    menu has the program's class and no name, a dialog is named after its
#    title, a balloon is an unnamed explorer window (shown about 2 s after
#    NIM_MODIFY asked for it, its stem's tip at the icon).
#  - X keys reach the process owning the focused X window: keys for a menu
#    are typed with the focus on the menu's X window, hot keys (WM_HOTKEY)
#    with the focus on the desktop window.
#  - explorer /desktop=NAME,SIZE naming an existing desktop runs its program
#    there and ends.
#  - xdotool getwindowgeometry reports child windows at twice their position;
#    xwininfo's "Absolute upper-left" is right.

E2E_PROGRAM=sbay_sim.exe
E2E_DESKTOP_SIZE=640x480
E2E_FAILURES=0
E2E_RUN_ID="sbay-e2e-$$-$RANDOM"   # marks the environment of every process we start

e2e_log() { printf '%s %s\n' "$(date +%H:%M:%S)" "$*"; }
pass() { e2e_log "ok   - $*"; }
fail() {
    e2e_log "FAIL - $*"
    E2E_FAILURES=$((E2E_FAILURES + 1))
    return 1
}
# check PASS-TEXT FAIL-TEXT COMMAND [ARGS...]: passes or fails on COMMAND.
check() {
    local ok=$1 bad=$2
    shift 2
    if "$@"; then pass "$ok"; else fail "$bad"; fi
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_until SECONDS COMMAND [ARGS...]: runs COMMAND every 200 ms until it
# succeeds (true) or SECONDS have passed (false).
wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        (($(now_ms) >= deadline)) && return 1
        sleep 0.2
    done
}

# Windows path of a Unix one; winepath may be what starts the wineserver, so
# it carries the mark too.
windows_path() { SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$1" 2>/dev/null; }

# --- set-up and clean-up ---------------------------------------------------

e2e_setup() {
    local tool file
    for tool in wine winepath xdotool xwininfo import convert compare; do
        command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; return 1; }
    done
    [ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run under xvfb-run" >&2; return 1; }
    # By hand the build's own prefix, beside the sim folder, is the one meant.
    if [ -z "${WINEPREFIX:-}" ] && [ -f "$E2E_SIM_DIR/../wineprefix/system.reg" ]; then
        WINEPREFIX=$(cd "$E2E_SIM_DIR/../wineprefix" && pwd)
    fi
    [ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; return 1; }
    export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
    mkdir -p "$E2E_SHOT_DIR" || return 1
    # A short path without blanks, for cmd and the batch file.
    E2E_WORK=$(mktemp -d /tmp/sbay-e2e.XXXXXX) || return 1
    E2E_RUN_DIR="$E2E_WORK/program" E2E_APPDATA="$E2E_WORK/appdata"
    mkdir -p "$E2E_RUN_DIR" "$E2E_APPDATA/sbay" || return 1
    for file in "$E2E_PROGRAM" sbay_6_eng.dll sbay_6_rus.dll diskinside.wav; do
        cp "$E2E_SIM_DIR/$file" "$E2E_RUN_DIR/" || { echo "missing $E2E_SIM_DIR/$file (build first)" >&2; return 1; }
    done
    E2E_JOURNAL="$E2E_RUN_DIR/simjournal.log" E2E_SETTINGS="$E2E_APPDATA/sbay/sbay.ini"
    e2e_log "working folder $E2E_WORK, prefix $WINEPREFIX, display $DISPLAY"
}

# Process ids whose environment carries this run's mark: everything started
# through start_program, and the wineserver and Wine's services when this run
# started them.
marked_pids() {
    local dir
    for dir in /proc/[0-9]*; do
        grep -qzx "SBAY_E2E_RUN=$E2E_RUN_ID" "$dir/environ" 2>/dev/null &&
            ! process_gone "${dir#/proc/}" && echo "${dir#/proc/}"
    done
}

no_marked_pids() { [ -z "$(marked_pids)" ]; }

# Live processes of others using the same prefix: neither marked as ours nor
# descendants of this script.
foreign_prefix_pids() {
    local dir pid parent
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        grep -qzx "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null || continue
        grep -qzx "SBAY_E2E_RUN=$E2E_RUN_ID" "$dir/environ" 2>/dev/null && continue
        process_gone "$pid" && continue
        parent=$pid
        while [ -n "$parent" ] && [ "$parent" != 1 ] && [ "$parent" != 0 ] && [ "$parent" != "$$" ]; do
            parent=$(awk '/^PPid:/ {print $2}' "/proc/$parent/status" 2>/dev/null)
        done
        [ "$parent" = "$$" ] || echo "$pid"
    done
}

# Wine's services and the wineserver end by themselves a few seconds after the
# last program; what we started and outlives 15 s is killed, unless others'
# programs use that wineserver.
e2e_cleanup() {
    stop_program
    if ! wait_until 15 no_marked_pids; then
        local pids others
        pids=$(marked_pids) others=$(foreign_prefix_pids)
        if [ -n "$others" ]; then
            e2e_log "leaving the prefix's wineserver to the other programs using it:" $others
        else
            e2e_log "still running after 15 s, killing:" $pids
            kill -KILL $pids 2>/dev/null
            wait_until 5 no_marked_pids || e2e_log "could not end:" $(marked_pids)
        fi
    fi
    [ -n "${E2E_WORK:-}" ] && rm -rf "$E2E_WORK"
}

# --- the program -------------------------------------------------------------

write_sim_drives() { printf '%s\n' "$@" >"$E2E_RUN_DIR/simdrives.ini"; }
# Lines of the Windows profile file, written with CRLF as Windows does.
write_settings() { printf '%s\r\n' "$@" >"$E2E_SETTINGS"; }

# start_program DESKTOP: runs the program in a new virtual desktop named
# DESKTOP, waits for the desktop's X window and the tray icons of the letters
# in E2E_DRIVES, and sets E2E_DESKTOP_WINDOW, E2E_DESKTOP_X/Y/W/H,
# E2E_TASKBAR_X/Y/W/H and E2E_ICON_X/E2E_ICON_Y (letter -> icon centre).
start_program() {
    E2E_DESKTOP=$1
    local batch="$E2E_WORK/start-$E2E_DESKTOP.bat" exe_w appdata_w batch_w
    exe_w=$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM") && appdata_w=$(windows_path "$E2E_APPDATA") &&
        batch_w=$(windows_path "$batch") || { fail "winepath did not answer"; return 1; }
    printf '@echo off\r\nset "APPDATA=%s"\r\nexplorer /desktop=%s,%s "%s"\r\n' \
        "$appdata_w" "$E2E_DESKTOP" "$E2E_DESKTOP_SIZE" "$exe_w" >"$batch"
    : >"$E2E_JOURNAL"
    e2e_log "starting $E2E_PROGRAM in the virtual desktop '$E2E_DESKTOP'"
    SBAY_E2E_RUN=$E2E_RUN_ID wine cmd /c "$batch_w" >>"$E2E_WORK/wine.log" 2>&1 &
    E2E_WINE_PID=$!
    disown "$E2E_WINE_PID"   # ended by stop_program; no job reports

    # The first start in a prefix can take a while.
    wait_until 90 find_desktop_window || { fail "the virtual desktop '$E2E_DESKTOP' did not appear within 90 s"; return 1; }
    local expected=${#E2E_DRIVES[@]} problem=""
    if ! wait_until 30 find_taskbar; then
        problem="no taskbar along the bottom of the virtual desktop within 30 s"
    elif ! wait_until 60 tray_icons_settled "$expected"; then
        problem="the taskbar did not show $expected tray icons within 60 s (found: ${E2E_ICONS_FOUND:-none})"
    fi
    if [ -n "$problem" ]; then
        save_screenshot "e2e_failure_start_$E2E_DESKTOP.png"
        fail "$problem"
        return 1
    fi
    # Icons are added from Z down to A, each left of the others: right to left
    # they are the letters from the highest down.
    local letters i=0 icon
    mapfile -t letters < <(printf '%s\n' "${E2E_DRIVES[@]}" | sort -r)
    unset E2E_ICON_X E2E_ICON_Y
    declare -gA E2E_ICON_X E2E_ICON_Y
    for icon in $E2E_ICONS_FOUND; do
        E2E_ICON_X[${letters[$i]}]=${icon%,*} E2E_ICON_Y[${letters[$i]}]=${icon#*,}
        e2e_log "icon of ${letters[$i]}: at $icon"
        grab_icon "$(start_icon "${letters[$i]}")" "${letters[$i]}"
        i=$((i + 1))
    done
    pass "the program started: $expected tray icons in the notification area"
}

# Ends every process start_program started and waits for the desktop to go.
stop_program() {
    [ -n "${E2E_WINE_PID:-}" ] || return 0
    local pid pids=""
    for pid in $(marked_pids); do
        case "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" in
        *"$E2E_PROGRAM"* | *explorer*/desktop=* | *cmd* | *start.exe*) pids="$pids $pid" ;;
        esac
    done
    kill -KILL $pids "$E2E_WINE_PID" 2>/dev/null
    wait_until 5 process_gone "$E2E_WINE_PID"
    E2E_WINE_PID=
    wait_until 10 desktop_gone || e2e_log "the desktop window '$E2E_DESKTOP' is still there"
}

process_gone() { ! grep -q '^State:[^Z]*$' "/proc/$1/status" 2>/dev/null; }
desktop_gone() { ! xdotool search --name "^$E2E_DESKTOP - Wine desktop\$" >/dev/null 2>&1; }

# This run's processes that are the program itself: Wine shows a Windows
# process as its Windows path alone (the working folder has no blanks).
program_pids() {
    local pid words
    for pid in $(marked_pids); do
        read -r -a words < <(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)
        ((${#words[@]} == 1)) && [[ ${words[0]} == *"\\$E2E_PROGRAM" ]] && echo "$pid"
    done
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
        /"explorer.exe"/ {
            for (i = 1; i < NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-]/) {
                split($i, g, /[x+]/)
                if (g[1] == dw && g[2] < 60 && g[4] + g[2] == dh) { print g[3], g[4], g[1], g[2]; exit }
            }
        }')
    [ -n "$line" ] || return 1
    read -r E2E_TASKBAR_X E2E_TASKBAR_Y E2E_TASKBAR_W E2E_TASKBAR_H <<<"$line"
    E2E_TASKBAR_X=$((E2E_TASKBAR_X + E2E_DESKTOP_X)) E2E_TASKBAR_Y=$((E2E_TASKBAR_Y + E2E_DESKTOP_Y))
}

# Prints the screen centres "x,y" of the icons in the right half of the
# taskbar on screenshot $1, right to left: runs of columns that differ from
# the taskbar's own colour, 8 to 24 pixels wide.
locate_tray_icons() {
    local x0=$((E2E_TASKBAR_X + E2E_TASKBAR_W / 2)) w=$((E2E_TASKBAR_W - E2E_TASKBAR_W / 2))
    local crop="${w}x${E2E_TASKBAR_H}+${x0}+${E2E_TASKBAR_Y}" background
    background=$(convert "$1" -crop "$crop" +repage -depth 8 -format %c histogram:info:- |
        sort -rn | head -n 1 | grep -o '#[0-9A-Fa-f]\{6\}')
    [ -n "$background" ] || return 1
    convert "$1" -crop "$crop" +repage -depth 8 txt:- | awk -v bg="$background" -v w="$w" \
        -v x0="$x0" -v y0="$E2E_TASKBAR_Y" '
        NR > 1 && $3 != bg {
            split($1, p, /[,:]/); x = p[1]; y = p[2]; used[x] = 1
            if (!(x in top) || y < top[x]) top[x] = y
            if (!(x in bottom) || y > bottom[x]) bottom[x] = y
        }
        function flush() {
            if (start >= 0 && start - stop + 1 >= 8 && start - stop + 1 <= 24)
                printf "%d,%d ", x0 + int((start + stop) / 2), y0 + int((high + low) / 2)
            start = -1
        }
        END {
            start = -1; gap = 0
            for (x = w - 1; x >= 0; x--) {
                if (x in used) {
                    if (start < 0) { start = x; high = top[x]; low = bottom[x] }
                    stop = x; gap = 0
                    if (top[x] < high) high = top[x]
                    if (bottom[x] > low) low = bottom[x]
                } else if (start >= 0 && ++gap >= 2) flush()
            }
            flush()
        }'
}

# True when two screenshots in a row show the same $1 icons.
tray_icons_settled() {
    local shot="$E2E_WORK/icons.png" first
    import -window root "$shot" 2>/dev/null || return 1
    first=$(locate_tray_icons "$shot")
    sleep 0.5
    import -window root "$shot" 2>/dev/null || return 1
    E2E_ICONS_FOUND=$(locate_tray_icons "$shot")
    [ "$first" = "$E2E_ICONS_FOUND" ] && [ "$(wc -w <<<"$E2E_ICONS_FOUND")" -eq "$1" ]
}

# --- screen ----------------------------------------------------------------

# save_screenshot NAME [X Y W H [SCALE]]: the virtual desktop, or the given
# screen rectangle enlarged SCALE times, into the screenshot folder.
save_screenshot() {
    local name=$1 raw="$E2E_WORK/raw.png" crop="${E2E_DESKTOP_W}x${E2E_DESKTOP_H}+${E2E_DESKTOP_X}+${E2E_DESKTOP_Y}"
    import -window root "$raw" 2>/dev/null || { e2e_log "could not take a screenshot"; return 1; }
    [ $# -ge 5 ] && crop="${4}x${5}+${2}+${3}"
    convert "$raw" -crop "$crop" +repage -filter point -resize "$((${6:-1} * 100))%" "$E2E_SHOT_DIR/$name" &&
        e2e_log "screenshot: $E2E_SHOT_DIR/$name"
}

grab_region() { # grab_region FILE X Y W H
    import -window root "$E2E_WORK/grab.png" 2>/dev/null &&
        convert "$E2E_WORK/grab.png" -crop "${4}x${5}+${2}+${3}" +repage "$1"
}

# Number of pixels that differ between two pictures of the same size.
pixels_differing() { compare -metric AE "$1" "$2" null: 2>&1 | awk '{print int($1)}'; }

# Number of clearly coloured pixels (HSL saturation above 35 %) in a picture.
coloured_pixels() {
    convert "$1" -colorspace HSL -channel G -separate +channel -threshold 35% \
        -format '%[fx:int(mean*w*h+0.5)]' info:
}

# region_still SECONDS X Y W H: waits until two pictures of the rectangle
# taken 0.3 s apart are the same.
region_still() {
    local seconds=$1
    shift
    grab_region "$E2E_WORK/still-a.png" "$@" && wait_until "$seconds" region_unchanged "$@"
}

region_unchanged() {
    sleep 0.3
    grab_region "$E2E_WORK/still-b.png" "$@" || return 1
    local differing
    differing=$(pixels_differing "$E2E_WORK/still-a.png" "$E2E_WORK/still-b.png")
    mv "$E2E_WORK/still-b.png" "$E2E_WORK/still-a.png"
    [ "$differing" = 0 ]
}

# changed_pixels A B: "x y" of every pixel that differs between two pictures
# of the same size, one a line.
changed_pixels() {
    compare "$1" "$2" -compose src -highlight-color white -lowlight-color black -alpha off -depth 8 txt:- 2>/dev/null |
        awk 'NR > 1 && $3 ~ /^#FFFFFF/ { split($1, p, /[,:]/); print p[1], p[2] }'
}

# Number of dark pixels (text) in a picture: luminance below 20 %.
dark_pixels() {
    convert "$1" -colorspace Gray -negate -threshold 80% -format '%[fx:int(mean*w*h+0.5)]' info:
}

# Number of strongly red pixels (the default drive's star) in a picture.
red_pixels() {
    convert "$1" -depth 8 txt:- | awk 'NR > 1 {
        v = $2; gsub(/[()]/, "", v); split(v, c, ",")
        if (c[1] >= 150 && c[2] <= 100 && c[3] <= 100) n++
    } END { print n + 0 }'
}

# The picture of a drive's icon as the program started.
start_icon() { echo "$E2E_WORK/icon-start-$1.png"; }
# grab_icon FILE LETTER: the 16x16 picture of the drive's tray icon.
grab_icon() { grab_region "$1" $((E2E_ICON_X[$2] - 8)) $((E2E_ICON_Y[$2] - 8)) 16 16; }
# icon_matches LETTER FILE: the icon shows the picture in FILE now.
icon_matches() {
    grab_icon "$E2E_WORK/icon-now.png" "$1" && [ "$(pixels_differing "$2" "$E2E_WORK/icon-now.png")" = 0 ]
}
icon_differs() { grab_icon "$E2E_WORK/icon-now.png" "$1" && ! icon_matches "$1" "$2"; }

# --- the tray menu -----------------------------------------------------------

# X windows (decimal ids) directly inside our virtual desktop. Searches keep
# to these: other programs using the same prefix can show their windows on
# this display too.
desktop_children() {
    local id
    xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null | awk '$1 ~ /^0x[0-9a-f]+$/ {print $1}' |
        while read -r id; do printf '%d\n' "$id"; done
}

# The desktop's children that are on the screen now (decimal ids).
viewable_desktop_children() {
    local id
    for id in $(desktop_children); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$id"
    done
}

# Gives the X focus to the desktop window, so hot keys typed next reach Wine.
focus_desktop() {
    timeout 3 xdotool windowfocus --sync "$E2E_DESKTOP_WINDOW" 2>/dev/null ||
        e2e_log "the desktop's X window did not take the focus"
}

# search_in_desktop XDOTOOL-SEARCH-ARGS...: visible windows matching the
# search that belong to our virtual desktop.
search_in_desktop() {
    local found
    found=$(xdotool search --onlyvisible "$@" 2>/dev/null) || return 1
    grep -Fxf <(desktop_children) <<<"$found"
}

# Sets MENU_WINDOW and MENU_X/Y/W/H when the program shows a popup menu.
find_menu() {
    local id
    for id in $(search_in_desktop --class "^${E2E_PROGRAM//./\\.}\$"); do
        [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] && window_geometry "$id" &&
            ((WIN_W >= 40 && WIN_H >= 40)) || continue
        MENU_WINDOW=$id MENU_X=$WIN_X MENU_Y=$WIN_Y MENU_W=$WIN_W MENU_H=$WIN_H
        return 0
    done
    return 1
}

menu_gone() { ! find_menu; }

# Right-clicks the icon of drive $1 and waits for the menu; false if none.
open_tray_menu() {
    xdotool mousemove "${E2E_ICON_X[$1]}" "${E2E_ICON_Y[$1]}" click 3
    wait_until 5 find_menu
}

# Puts the pointer on an empty part of the desktop, away from the icons and
# their tooltips.
park_pointer() { xdotool mousemove $((E2E_DESKTOP_X + 40)) $((E2E_DESKTOP_Y + E2E_DESKTOP_H / 2)); }

# Moves the pointer off the icon (its tooltip would cover the menu) and waits
# until the menu's picture holds still.
settle_menu() {
    park_pointer
    grab_region "$E2E_WORK/settle-a.png" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    wait_until 3 menu_picture_unchanged "$E2E_WORK/settle-a.png" "$E2E_WORK/settle-b.png"
}

menu_picture_unchanged() {
    sleep 0.3
    grab_region "$2" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" || return 1
    local differing
    differing=$(pixels_differing "$1" "$2")
    cp "$2" "$1"
    [ "$differing" = 0 ]
}

# window_keys WINDOW PAUSE KEYS...: types KEYS with the X focus on WINDOW (see
# the note at the top about the focus), PAUSE seconds after each.
window_keys() {
    local window=$1 pause=$2 key
    shift 2
    timeout 3 xdotool windowfocus --sync "$window" 2>/dev/null ||
        e2e_log "the X window $window did not take the focus"
    for key in "$@"; do
        xdotool key "$key"
        sleep "$pause"
    done
}

# Types keys into the open menu.
menu_keys() { window_keys "$MENU_WINDOW" 0.15 "$@"; }

close_menu_if_open() {
    find_menu || return 0
    menu_keys Escape
    wait_until 3 menu_gone
}

# --- the journal -------------------------------------------------------------

journal_mark() { if [ -f "$E2E_JOURNAL" ]; then wc -l <"$E2E_JOURNAL"; else echo 0; fi; }
journal_since() { tail -n +$(($1 + 1)) "$E2E_JOURNAL" 2>/dev/null | tr -d '\r'; }
# journal_has MARK LINE: LINE was written after MARK.
journal_has() { journal_since "$1" | grep -Fxq "$2"; }

# --- scenarios ---------------------------------------------------------------

# run_scenario NAME: runs the function NAME; on failure keeps a screenshot and
# the journal's end, then closes a menu left open so the next one starts clean.
run_scenario() {
    local name=$1 failures_before=$E2E_FAILURES
    e2e_log "--- $name"
    if ! "$name" || ((E2E_FAILURES > failures_before)); then
        ((E2E_FAILURES > failures_before)) || fail "$name"
        save_screenshot "e2e_failure_$name.png"
        e2e_log "journal's last lines:"
        tail -n 8 "$E2E_JOURNAL" 2>/dev/null | tr -d '\r' | sed 's/^/    /'
    fi
    close_menu_if_open
}

# e2e_finish: the script's exit status from the checks' outcome.
e2e_finish() {
    if ((E2E_FAILURES > 0)); then
        e2e_log "$E2E_FAILURES check(s) failed"
        exit 1
    fi
    e2e_log "all checks passed"
    exit 0
}
