#!/bin/bash
# End-to-end test of the settings sheet, opened from the tray menu and used with the keyboard as a
# person does; sbay_sim.exe runs from a folder with a blank. Keeps sheet-{general,drive}-{en,ru}.png.
# usage: sheet_e2e.sh SIM_DIR SCREENSHOT_DIR   (see tray_e2e.sh for the rest)
. "$(dirname "$0")/e2e_lib.sh"
RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\sbay_svc'
VERSION_KEY="HKCU\\Software\\Wine\\AppDefaults\\$E2E_PROGRAM"
service_is() { [ "$(reg_value "$SERVICE_KEY" ImagePath) $(reg_value "$SERVICE_KEY" Start)" = "$1" ]; }
clean_up() {
    if [ -n "${EXE_W:-}" ]; then
        marked wine sc stop sbay_svc >/dev/null; marked wine sc delete sbay_svc >/dev/null
        for dir in /proc/[0-9]*; do grep -qaF "$EXE_W" "$dir/cmdline" 2>/dev/null && kill -KILL "${dir#/proc/}"; done
        wait_until 20 not marked wine sc query sbay_svc >/dev/null || e2e_log "sbay_svc is still there"
        marked wine reg delete "$VERSION_KEY" /f >/dev/null
        marked wine reg delete "$RUN_KEY" /v sbay /f >/dev/null
    fi
    e2e_cleanup
}
e2e_setup "$@" clean_up
mv "$E2E_RUN_DIR" "$E2E_WORK/Program Files" &&
    E2E_RUN_DIR="$E2E_WORK/Program Files" E2E_JOURNAL="$E2E_WORK/Program Files/simjournal.log" || exit 1
EXE_W=$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM") || exit 1

E2E_DRIVES=(D E) E2E_DESKTOP_SIZE=1000x740   # a desktop the sheet, opened off the centre, fits in
write_sim_drives '[D]' tray=closed medium=data label=E2E_DATA size=700000000 '' '[E]' tray=closed medium=none

find_sheet() { find_window SHEET 200 200 --name 'Spindlebay v\.'; }   # titled "... Spindlebay v.x"
sheet_keys() { window_keys "$SHEET_WINDOW" 0.3 "$@"; }   # the sheet acts on a key a moment after it
icon_place_empty() { grab_icon "$E2E_WORK/p.png" "$1" && (($(convert "$E2E_WORK/p.png" -format %k info:) < 2)); }

# The sheet opens by the pointer, over the notification area and partly off
# the desktop: it is dragged by its title to the top left corner.
open_sheet() {
    open_tray_menu D && settle_menu && menu_keys t &&
        check "the tray menu's Settings opened the sheet" wait_until 10 find_sheet && drag_sheet_up
}
drag_sheet_up() {
    local x=$((E2E_DESKTOP_X + 20)) y=$((E2E_DESKTOP_Y + 20))
    xdotool mousemove $((SHEET_X + 150)) $((SHEET_Y + 8)) mousedown 1 sleep 0.3 \
        mousemove $((x + 150)) $((y + 8)) sleep 0.3 mouseup 1 && park_pointer
    check "the sheet was dragged to the top left corner" \
        wait_until 5 eval 'find_sheet && ((SHEET_X <= x + 10 && SHEET_Y <= y + 10))'
}
# show_page 0|1 clicks the general or the drive page's tab; shoot_sheet NAME keeps the sheet's picture.
show_page() {
    xdotool mousemove $((SHEET_X + $(scaled $((50 + 85 * $1))))) $((SHEET_Y + $(scaled 40))) click 1 sleep 0.3 && park_pointer
}
shoot_sheet() { region_still 3 "$SHEET_X" "$SHEET_Y" "$SHEET_W" "$SHEET_H" && cp "$E2E_STILL" "$E2E_SHOT_DIR/$1"; }
# shoot_both_pages LANG: the two pages (hiding D: below proves the tab switches); ends on the general page.
shoot_both_pages() {
    shoot_sheet "sheet-general-$1.png" && show_page 1 && shoot_sheet "sheet-drive-$1.png" && show_page 0
}

sheet_changes_take_effect() {
    open_sheet && shoot_both_pages en || return 1
    # Alt+O is the field's label; Tab leaves the field, which takes every key.
    sheet_keys alt+o ctrl+alt+j Tab alt+a
    check "Apply saved the typed hot key Ctrl+Alt+J" \
        wait_until 5 grep -q '^hkDefDiskEject.vk=74\s*$' "$E2E_SETTINGS" || return 1
    focus_desktop
    local old=$SHEET_WINDOW mark=$(journal_mark)
    xdotool key ctrl+alt+j
    check "Ctrl+Alt+J ejected D:" wait_until 5 journal_has "$mark" 'D: IOCTL_STORAGE_EJECT_MEDIA -> ok'
    show_page 1 && sheet_keys alt+h alt+a
    check "after hiding D: its place in the notification area is empty" wait_until 10 icon_place_empty D
    show_page 0 && sheet_keys alt+s alt+a
    check "start with Windows: the Run value is the quoted path" \
        wait_until 10 eval '[ "$(reg_value "$RUN_KEY" sbay)" = "\"$EXE_W\"" ]'
    sheet_keys alt+s alt+a
    check "untick: the Run value is gone" wait_until 10 not reg_value "$RUN_KEY" sbay
    sheet_keys alt+i Down alt+a
    check "Apply with Russian chosen opened a new sheet" \
        wait_until 10 eval 'find_sheet && [ "$SHEET_WINDOW" != "$old" ]' || return 1
    drag_sheet_up && shoot_both_pages ru || return 1
    check "the reopened general page shows other texts" \
        differ "$E2E_SHOT_DIR/sheet-general-en.png" "$E2E_SHOT_DIR/sheet-general-ru.png" 500
}

# Seeing Windows XP, the general page also offers "run as a service", which ticking start with Windows enables.
service_runs_the_program() {
    open_sheet || return 1
    sheet_keys alt+s alt+v alt+a
    check "Apply created sbay_svc, started automatically, for the quoted path" \
        wait_until 10 service_is "\"$EXE_W\" 0x2" || return 1
    check "no Run value beside the service" not reg_value "$RUN_KEY" sbay
    marked wine sc start sbay_svc >/dev/null
    check "sc start: sbay_svc is running" wait_until 10 eval "marked wine sc query sbay_svc | grep -q 'STATE.*RUNNING'"
    # WM_CLOSE reaches the service's window alone, on the default desktop.
    marked wine taskkill /im "$E2E_PROGRAM" >/dev/null
    check "the service keeps its settings beside the executable" wait_until 10 test -s "$E2E_RUN_DIR/sbay.ini"
}

write_settings '[g_propMain]' 'nLanguage=0' 'nDefaultDisk=68'
start_program "e2esheet$$" || exit 1
run_scenario sheet_changes_take_effect
stop_program
marked wine reg add "$VERSION_KEY" /v Version /d winxp /f >/dev/null
write_settings '[g_propMain]' 'nLanguage=0' 'nDefaultDisk=68'
start_program "e2esvc$$" || exit 1
run_scenario service_runs_the_program
e2e_finish
