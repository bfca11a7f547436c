#!/bin/bash
# End-to-end test of the settings sheet: sbay_sim.exe runs in a Wine virtual
# desktop from a folder with a blank in its path; the sheet is opened from the
# tray menu and used with the keyboard as a person does. Keeps the pages'
# pictures sheet-{general,drive}-{en,ru}.png for the documentation.
# usage: sheet_e2e.sh SIM_DIR SCREENSHOT_DIR   (see tray_e2e.sh for the rest)
set -u -o pipefail
[ $# -ge 2 ] || { echo "usage: $0 SIM_DIR SCREENSHOT_DIR" >&2; exit 2; }
E2E_SIM_DIR=$(cd "$1" && pwd) && mkdir -p "$2" && E2E_SHOT_DIR=$(cd "$2" && pwd) || exit 2
. "$(dirname "$0")/e2e_lib.sh"

RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\sbay_svc'
VERSION_KEY="HKCU\\Software\\Wine\\AppDefaults\\$E2E_PROGRAM"
marked() { SBAY_E2E_RUN=$E2E_RUN_ID "$@"; }
not() { ! "$@"; }
# reg_value KEY NAME: the value's data as `reg query` shows it; fails when absent.
reg_value() { marked wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | grep .; }
value_is() { [ "$(reg_value "$1" "$2")" = "$3" ]; }
# Kills whatever runs our copy of the program, the service's process too;
# true once the service manager no longer knows sbay_svc.
service_gone() {
    local dir
    for dir in /proc/[0-9]*; do
        tr '\0' ' ' <"$dir/cmdline" 2>/dev/null | grep -qF "$EXE_W" && kill -KILL "${dir#/proc/}" 2>/dev/null
    done
    ! marked wine sc query sbay_svc >/dev/null 2>&1
}
clean_up() {
    if [ -n "${EXE_W:-}" ]; then
        for verb in stop delete; do marked wine sc $verb sbay_svc >/dev/null 2>&1; done
        wait_until 20 service_gone || e2e_log "sbay_svc is still there"
    fi
    marked wine reg delete "$VERSION_KEY" /f >/dev/null 2>&1
    marked wine reg delete "$RUN_KEY" /v sbay /f >/dev/null 2>&1
    e2e_cleanup
}
trap clean_up EXIT
trap 'exit 130' INT TERM
e2e_setup || exit 1
mv "$E2E_RUN_DIR" "$E2E_WORK/Program Files" || exit 1
E2E_RUN_DIR="$E2E_WORK/Program Files" E2E_JOURNAL="$E2E_WORK/Program Files/simjournal.log"
EXE_W=$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM") || exit 1

E2E_DRIVES=(D E)
E2E_DESKTOP_SIZE=1000x740   # the sheet, opened off the centre, fits
EJECT_D='D: IOCTL_STORAGE_EJECT_MEDIA -> ok'
write_sim_drives '[D]' 'tray=closed' 'medium=data' 'label=E2E_DATA' 'size=700000000' '' '[E]' 'tray=closed' 'medium=none'

# Sets SHEET_WINDOW and SHEET_X/Y/W/H when the sheet shows (its title is the
# product string with the platform's wording for properties).
find_sheet() {
    local id
    for id in $(search_in_desktop --name 'Spindlebay v\.'); do
        window_geometry "$id" && ((WIN_W >= 200 && WIN_H >= 200)) || continue
        SHEET_WINDOW=$id SHEET_X=$WIN_X SHEET_Y=$WIN_Y SHEET_W=$WIN_W SHEET_H=$WIN_H && return 0
    done
    return 1
}
another_sheet() { find_sheet && [ "$SHEET_WINDOW" != "$1" ]; }
sheet_at() { find_sheet && ((SHEET_X <= $1 + 10 && SHEET_Y <= $2 + 10)); }
# The sheet acts on a key a moment after it (an Apply, a page change).
sheet_keys() { window_keys "$SHEET_WINDOW" 0.3 "$@"; }
settings_has() { tr -d '\r' <"$E2E_SETTINGS" 2>/dev/null | grep -Fxq "$1"; }
differ() { (($(pixels_differing "$1" "$2") > $3)); }
# The taskbar's own colour alone where the icon of drive $1 was.
icon_place_empty() { grab_icon "$E2E_WORK/place.png" "$1" && [ "$(convert "$E2E_WORK/place.png" -format %k info:)" -le 1 ]; }

# The sheet opens by the pointer, over the notification area and partly off
# the desktop: it is dragged by its title to the top left corner.
open_sheet() {
    open_tray_menu D || { fail "no menu after right-clicking D:'s icon"; return 1; }
    settle_menu
    menu_keys t
    check "the tray menu's Settings opened the sheet" "Settings in the tray menu opened no sheet" wait_until 10 find_sheet &&
        drag_sheet_up
}
drag_sheet_up() {
    local x=$((E2E_DESKTOP_X + 20)) y=$((E2E_DESKTOP_Y + 20))
    xdotool mousemove $((SHEET_X + 150)) $((SHEET_Y + 8)) mousedown 1 sleep 0.3 \
        mousemove $((x + 150)) $((y + 8)) sleep 0.3 mouseup 1
    park_pointer
    wait_until 5 sheet_at "$x" "$y" || fail "could not drag the sheet (it is at $SHEET_X,$SHEET_Y)"
}
show_page() { # 0|1: clicks the general or the drive page's tab
    xdotool mousemove $((SHEET_X + 50 + 85 * $1)) $((SHEET_Y + 40)) click 1 sleep 0.3
    park_pointer
}
shoot_sheet() { # NAME [FOLDER]: the sheet once its picture holds still
    region_still 3 "$SHEET_X" "$SHEET_Y" "$SHEET_W" "$SHEET_H" &&
        E2E_SHOT_DIR=${2:-$E2E_SHOT_DIR} save_screenshot "$1" "$SHEET_X" "$SHEET_Y" "$SHEET_W" "$SHEET_H" 1
}
# shoot_both_pages LANG: the two pages, which must differ; ends on the general page.
shoot_both_pages() {
    shoot_sheet "sheet-general-$1.png" && show_page 1 && shoot_sheet "sheet-drive-$1.png" || return 1
    check "$1: the two pages look different" "$1: the drive page looks like the general page" \
        differ "$E2E_SHOT_DIR/sheet-general-$1.png" "$E2E_SHOT_DIR/sheet-drive-$1.png" 500
    show_page 0
}

# A typed hot key, a hidden drive, start with Windows, then Russian.
sheet_changes_take_effect() {
    open_sheet && shoot_both_pages en || return 1
    # Alt+O is the field's label; Tab leaves the field, which takes every key.
    sheet_keys alt+o ctrl+alt+j Tab alt+a
    check "Apply saved the typed hot key Ctrl+Alt+J" "no hkDefDiskEject.vk=74 in the settings file after Apply" \
        wait_until 5 settings_has 'hkDefDiskEject.vk=74' || return 1
    focus_desktop
    local mark old=$SHEET_WINDOW
    mark=$(journal_mark)
    xdotool key ctrl+alt+j
    check "Ctrl+Alt+J opened the default drive's tray: '$EJECT_D'" "no '$EJECT_D' within 5 s of Ctrl+Alt+J" \
        wait_until 5 journal_has "$mark" "$EJECT_D"
    show_page 1
    sheet_keys alt+h alt+a
    check "after hiding D: its place in the notification area is empty" "D:'s icon is still shown after hiding it" \
        wait_until 10 icon_place_empty D
    show_page 0
    sheet_keys alt+s alt+a
    check "start with Windows: the Run value is the quoted path" "no Run value \"$EXE_W\" after ticking start with Windows" \
        wait_until 10 value_is "$RUN_KEY" sbay "\"$EXE_W\""
    sheet_keys alt+s alt+a
    check "untick: the Run value is gone" "the Run value stayed after unticking" wait_until 10 not reg_value "$RUN_KEY" sbay
    sheet_keys alt+i Down alt+a
    check "Apply with Russian chosen opened a new sheet" "Apply with Russian chosen did not reopen the sheet" \
        wait_until 10 another_sheet "$old" || return 1
    drag_sheet_up && shoot_both_pages ru || return 1
    check "the reopened general page shows other texts" "the reopened general page looks like the English one" \
        differ "$E2E_SHOT_DIR/sheet-general-en.png" "$E2E_SHOT_DIR/sheet-general-ru.png" 500
}

# Seeing Windows XP, the same general page also shows "run as a service"
# (1011), which ticking start with Windows (1010) enables.
service_runs_the_program() {
    open_sheet && shoot_sheet general-xp.png "$E2E_WORK" || return 1
    check "the general page offers the service" "the general page looks as on Vista and later (is the version below 6?)" \
        differ "$E2E_SHOT_DIR/sheet-general-en.png" "$E2E_WORK/general-xp.png" 100 || return 1
    sheet_keys alt+s alt+v alt+a
    check "Apply created sbay_svc for the quoted path" "sbay_svc's binary path is not \"$EXE_W\"" \
        wait_until 10 value_is "$SERVICE_KEY" ImagePath "\"$EXE_W\"" || return 1
    check "sbay_svc starts automatically" "sbay_svc's start type is not automatic" value_is "$SERVICE_KEY" Start 0x2
    check "no Run value beside the service" "a Run value beside the service" not reg_value "$RUN_KEY" sbay
    marked wine sc start sbay_svc >/dev/null 2>&1
    check "sc start: sbay_svc is running" "sbay_svc is not running after sc start" \
        wait_until 10 eval "marked wine sc query sbay_svc | grep -q 'STATE.*RUNNING'"
    # Only the service's window is on the default desktop: it gets WM_CLOSE
    # and saves its settings on the way out.
    marked wine taskkill /im "$E2E_PROGRAM" >/dev/null 2>&1
    check "the service keeps its settings beside the executable" "no sbay.ini beside the executable" \
        wait_until 10 test -s "$E2E_RUN_DIR/sbay.ini"
}

write_settings '[g_propMain]' 'nLanguage=0' 'nDefaultDisk=68'
start_program "e2esheet$$" || exit 1
run_scenario sheet_changes_take_effect
stop_program
marked wine reg add "$VERSION_KEY" /v Version /d winxp /f >/dev/null 2>&1
write_settings '[g_propMain]' 'nLanguage=0' 'nDefaultDisk=68'
start_program "e2esvc$$" || exit 1
run_scenario service_runs_the_program
e2e_finish
