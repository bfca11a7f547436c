#!/bin/bash
# End-to-end test of the settings sheet: sbay_sim.exe runs in a Wine virtual
# desktop; the sheet is opened from the tray menu and used with the keyboard
# as a person does, and the journal, the settings file, the registry and the
# screen show what it changed. Screenshots of both pages in English and
# Russian are kept as sheet-{general,drive}-{en,ru}.png.
#
# usage: sheet_e2e.sh SIM_DIR SCREENSHOT_DIR   (see tray_e2e.sh for the rest)
set -u -o pipefail

[ $# -ge 2 ] || { echo "usage: $0 SIM_DIR SCREENSHOT_DIR" >&2; exit 2; }
E2E_SIM_DIR=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && E2E_SHOT_DIR=$(cd "$2" && pwd) || exit 2

. "$(dirname "$0")/e2e_lib.sh"

RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
remove_run_value() { SBAY_E2E_RUN=$E2E_RUN_ID wine reg delete "$RUN_KEY" /v sbay /f >/dev/null 2>&1; }
run_value_exists() { SBAY_E2E_RUN=$E2E_RUN_ID wine reg query "$RUN_KEY" /v sbay >/dev/null 2>&1; }
run_value_gone() { ! run_value_exists; }

trap 'remove_run_value; e2e_cleanup' EXIT
trap 'exit 130' INT TERM
e2e_setup || exit 1

E2E_DRIVES=(D E)
# The sheet opens off the centre of a small desktop and would be cut off.
E2E_DESKTOP_SIZE=1000x740
EJECT_D='D: IOCTL_STORAGE_EJECT_MEDIA -> ok'

# Sets SHEET_WINDOW and SHEET_X/Y/W/H when the sheet shows (its title is the
# product string with the platform's wording for properties).
find_sheet() {
    local id
    for id in $(search_in_desktop --name 'Spindlebay v\.'); do
        window_geometry "$id" || continue
        ((WIN_W >= 200 && WIN_H >= 200)) || continue
        SHEET_WINDOW=$id SHEET_X=$WIN_X SHEET_Y=$WIN_Y SHEET_W=$WIN_W SHEET_H=$WIN_H
        return 0
    done
    return 1
}
sheet_gone() { ! find_sheet; }
# A sheet other than the X window $1.
another_sheet() { find_sheet && [ "$SHEET_WINDOW" != "$1" ]; }

# The sheet acts on a key a moment after it (an Apply, a page change).
sheet_keys() { window_keys "$SHEET_WINDOW" 0.3 "$@"; }

# The sheet opens by the pointer, over the notification area and partly off
# the desktop: drag it by its title to the top left corner.
move_sheet_up() {
    local target_x=$((E2E_DESKTOP_X + 20)) target_y=$((E2E_DESKTOP_Y + 20))
    xdotool mousemove $((SHEET_X + 150)) $((SHEET_Y + 8)) mousedown 1 sleep 0.3 \
        mousemove $((target_x + 150)) $((target_y + 8)) sleep 0.3 mouseup 1
    park_pointer
    wait_until 5 sheet_at "$target_x" "$target_y" || fail "could not drag the sheet (it is at $SHEET_X,$SHEET_Y)"
}
sheet_at() { find_sheet && ((SHEET_X <= $1 + 10 && SHEET_Y <= $2 + 10)); }

# show_page 0|1: clicks the general or the drive page's tab.
show_page() {
    xdotool mousemove $((SHEET_X + 50 + 85 * $1)) $((SHEET_Y + 40)) click 1
    sleep 0.3
    park_pointer
}

shoot_sheet() { # shoot_sheet NAME: the sheet once its picture holds still
    region_still 3 "$SHEET_X" "$SHEET_Y" "$SHEET_W" "$SHEET_H"
    save_screenshot "$1" "$SHEET_X" "$SHEET_Y" "$SHEET_W" "$SHEET_H" 1
}

# The taskbar's own colour alone where the icon of drive $1 was.
icon_place_empty() {
    grab_icon "$E2E_WORK/place.png" "$1" && [ "$(convert "$E2E_WORK/place.png" -format %k info:)" -le 1 ]
}

settings_has() { tr -d '\r' <"$E2E_SETTINGS" 2>/dev/null | grep -Fxq "$1"; }

# shoot_both_pages LANG: screenshots of the general page and the drive page;
# the two must differ. Leaves the general page showing.
shoot_both_pages() {
    shoot_sheet "sheet-general-$1.png" || return 1
    show_page 1
    shoot_sheet "sheet-drive-$1.png" || return 1
    if (($(pixels_differing "$E2E_SHOT_DIR/sheet-general-$1.png" "$E2E_SHOT_DIR/sheet-drive-$1.png") > 500)); then
        pass "$1: the two pages look different"
    else
        fail "$1: the drive page looks like the general page"
    fi
    show_page 0
}

sheet_opens_from_the_tray_menu() {
    open_tray_menu D || { fail "no menu after right-clicking D:'s icon"; return 1; }
    settle_menu
    menu_keys t
    wait_until 10 find_sheet || { fail "Settings in the tray menu opened no sheet"; return 1; }
    pass "the tray menu's Settings opened the sheet (${SHEET_W}x${SHEET_H})"
    move_sheet_up
    shoot_both_pages en
}

# The default drive's eject key typed into its field, applied, then pressed.
typed_hot_key_works_after_apply() {
    # Alt+O is the field's label; Tab leaves the field, which takes every key.
    sheet_keys alt+o ctrl+alt+j Tab alt+a
    if wait_until 5 settings_has 'hkDefDiskEject.vk=74'; then
        pass "Apply saved the typed hot key Ctrl+Alt+J"
    else
        fail "the settings file has no hkDefDiskEject.vk=74 after Apply"
        return 1
    fi
    focus_desktop
    local mark
    mark=$(journal_mark)
    xdotool key ctrl+alt+j
    if wait_until 5 journal_has "$mark" "$EJECT_D"; then
        pass "Ctrl+Alt+J opened the default drive's tray: '$EJECT_D'"
    else
        fail "no '$EJECT_D' within 5 s of pressing Ctrl+Alt+J"
    fi
}

hiding_a_drive_removes_its_icon() {
    show_page 1
    sheet_keys alt+h alt+a
    if wait_until 10 icon_place_empty D; then
        pass "after hiding D: its place in the notification area is empty"
    else
        fail "D:'s icon is still shown after hiding it"
    fi
    wait_until 5 settings_has 'bHide=1' || fail "no bHide=1 in the settings file"
    show_page 0
}

start_with_windows_sets_the_run_value() {
    sheet_keys alt+s alt+a
    if wait_until 10 run_value_exists; then pass "start with Windows: the Run value is there"; else
        fail "no Run value after ticking start with Windows"; fi
    sheet_keys alt+s alt+a
    if wait_until 10 run_value_gone; then pass "untick: the Run value is gone"; else
        fail "the Run value stayed after unticking"; fi
}

language_switch_reopens_in_russian() {
    local old=$SHEET_WINDOW
    sheet_keys alt+i Down alt+a
    if ! wait_until 10 another_sheet "$old"; then
        fail "Apply with Russian chosen did not reopen the sheet"
        return 1
    fi
    pass "Apply with Russian chosen closed the sheet and opened a new one"
    move_sheet_up
    settings_has 'nLanguage=1' || fail "no nLanguage=1 in the settings file"
    shoot_both_pages ru || return 1
    if (($(pixels_differing "$E2E_SHOT_DIR/sheet-general-en.png" "$E2E_SHOT_DIR/sheet-general-ru.png") > 500)); then
        pass "the reopened general page shows other texts"
    else
        fail "the reopened general page looks like the English one"
    fi
    sheet_keys Escape
    wait_until 5 sheet_gone && pass "Escape closed the sheet" || fail "the sheet stayed open after Escape"
}

remove_run_value
initial_settings() {
    write_sim_drives '[D]' 'tray=closed' 'medium=data' 'label=E2E_DATA' 'size=700000000' \
        '' '[E]' 'tray=closed' 'medium=none'
    write_settings '[g_propMain]' 'nLanguage=0' 'nDefaultDisk=68'
}
initial_settings
start_program "e2esheet$$" || exit 1
run_scenario sheet_opens_from_the_tray_menu
if find_sheet; then
    run_scenario typed_hot_key_works_after_apply
    run_scenario hiding_a_drive_removes_its_icon
    run_scenario start_with_windows_sets_the_run_value
    run_scenario language_switch_reopens_in_russian
fi
stop_program

if ((E2E_FAILURES > 0)); then
    e2e_log "$E2E_FAILURES check(s) failed"
    exit 1
fi
e2e_log "all checks passed"
