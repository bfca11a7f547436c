#!/bin/bash
# End-to-end tests of the tray icons, acted on as a person does; by hand, with the build's prefix or WINEPREFIX:
#   xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/tray_e2e.sh build/mingw/sim build/mingw/screenshots
. "$(dirname "$0")/e2e_lib.sh"
e2e_setup "$@"

# D: a data disc, E: an audio CD; the program rereads the file, so D:'s tray can be pulled out by hand.
E2E_DRIVES=(D E)
d_tray() { write_sim_drives '[D]' "tray=$1" medium=data label=E2E_DATA size=700000000 '' '[E]' medium=audio tracks=9; }
EJECT_D='D: IOCTL_STORAGE_EJECT_MEDIA -> ok' LOAD_D='D: IOCTL_STORAGE_LOAD_MEDIA -> ok'
EJECT_E='E: IOCTL_STORAGE_EJECT_MEDIA -> ok' LOAD_E='E: IOCTL_STORAGE_LOAD_MEDIA -> ok'

tray_requests() { journal_since "$1" | grep -E '^[A-Z]: IOCTL_STORAGE_(EJECT|LOAD)_MEDIA ' | paste -sd ';'; }
# expect_request MARK LINE WHAT: LINE, and half a second later still no other eject or load, after MARK.
expect_request() {
    wait_until 5 journal_has "$1" "$2"; sleep 0.5
    check "$3: of ejects and loads the journal shows only '$2'" is "$(tray_requests "$1")" "$2"
}
find_popup() { find_window POPUP 1 "$1" --class '^explorer\.exe$'; }   # a tip or balloon at least $1 high
popup_above() {
    in_range $((E2E_ICON_X[$1] - POPUP_X)) 0 "$POPUP_W" && in_range $((E2E_TASKBAR_Y - POPUP_Y - POPUP_H)) -2 30
}
# still_popup NAME: once the popup holds still, its picture in the work folder.
still_popup() { region_still 3 "$POPUP_X" "$POPUP_Y" "$POPUP_W" "$POPUP_H" && cp "$E2E_STILL" "$E2E_WORK/$1.png"; }

# Resting the pointer on D:'s icon shows its tip above it.
tip_shows_over_the_icon() {
    local dark
    xdotool mousemove "${E2E_ICON_X[D]}" "${E2E_ICON_Y[D]}"
    check "a tip within 5 s of resting the pointer on D:'s icon" \
        wait_until 5 eval 'find_popup 24 && still_popup tip-d' || return 1
    dark=$(dark_pixels "$E2E_WORK/tip-d.png")
    check "D:'s tip (${POPUP_W}x$POPUP_H at $POPUP_X,$POPUP_Y) stands above its icon, with text ($dark dark pixels)" \
        eval 'popup_above D && ((dark >= 100))'
    save_screenshot e2e_tray_tip.png $((POPUP_X - 4)) $((POPUP_Y - 4)) $((POPUP_W + 5)) \
        $((E2E_ICON_Y[D] + 14 - POPUP_Y)) 2
    park_pointer
}

# Right-clicking D:'s icon shows the menu with its pictures at the pointer; Escape closes it.
menu_opens_on_right_click() {
    local total coloured dx dy
    open_tray_menu D && settle_menu || return 1   # settled: E2E_STILL
    dx=$((E2E_ICON_X[D] - MENU_X - MENU_W)) dy=$((E2E_ICON_Y[D] - MENU_Y - MENU_H)) total=$((MENU_W * MENU_H))
    check "the menu (${MENU_W}x$MENU_H) opened at the icon: its corner is $dx,$dy pixels off" \
        eval 'in_range $dx -29 29 && in_range $dy -29 29'
    # Items' pictures are a plain menu's only colour; the desktop, where the menu is not drawn, is coloured all over.
    coloured=$(count_pixels "$E2E_STILL" 'saturation > 0.35')
    check "the screen shows the menu with item pictures ($coloured of $total pixels coloured)" \
        in_range "$coloured" 100 $((total / 5))
    save_screenshot e2e_tray_menu.png
    menu_keys Escape
    check "Escape closed the menu" wait_until 3 not find_menu
}

find_countdown() { find_window COUNTDOWN 1 1 --name '^Closing in [0-9]+ s \(drive D:\)$'; }
countdown_seconds() { xdotool getwindowname "$COUNTDOWN_WINDOW" 2>/dev/null | tr -dc 0-9; }

# Open tray (arrow keys, Return) ejects D: alone; 3 s later, counted down, it closes by itself.
open_tray_from_menu_counts_down() {
    local mark start first took
    open_tray_menu D && settle_menu || return 1
    mark=$(journal_mark) start=$(now_ms)
    menu_keys Down Down Return   # the first Down lands on the header: greyed, but Wine still selects it
    expect_request "$mark" "$EJECT_D" "Open tray" || return 1
    check "a window titled like 'Closing in N s (drive D:)' within 3 s" wait_until 3 find_countdown || return 1
    save_screenshot e2e_countdown_dialog.png
    first=$(countdown_seconds)
    check "the countdown's title counts down from ${first:-nothing}, at most 3 s" \
        eval '((${first:-9} <= 3)) && wait_until 3 eval "find_countdown && ((\$(countdown_seconds) < first))"'
    wait_until 7 journal_has "$mark" "$LOAD_D"
    took=$(($(now_ms) - start))
    check "the tray closed by itself, 2 to 7 s after Open tray ($took ms)" \
        eval 'journal_has $mark "$LOAD_D" && in_range $took 2000 7000'
    check "the countdown went away" wait_until 2 not find_countdown
}

# Double-clicking D:'s icon while its tray is out (pulled by hand) closes it.
double_click_closes_open_tray() {
    local mark
    d_tray closed
    wait_until 5 icon_matches D "$(start_icon D)" && d_tray open
    check "D:'s icon changed within 5 s of pulling its tray out by hand" \
        wait_until 5 not icon_matches D "$(start_icon D)" || return 1
    mark=$(journal_mark)
    xdotool mousemove "${E2E_ICON_X[D]}" "${E2E_ICON_Y[D]}" click --repeat 2 --delay 100 1
    expect_request "$mark" "$LOAD_D" "double-click"
    park_pointer
}

# hot_keys KEYS [LINE]...: types each KEYS at the desktop; one followed by a journal LINE must bring it.
hot_keys() {
    local mark
    while (($#)); do
        focus_desktop
        mark=$(journal_mark)
        xdotool key "$1"
        [[ ${2:-} == *:* ]] || { shift; continue; }
        expect_request "$mark" "$2" "$1" || return 1
        shift 2
    done
}
# E:'s and the default drive's hot keys act on their drive; the select key moves the default on to E:, then
# round to D: again.
hot_keys_act_on_their_drive() {
    hot_keys ctrl+alt+e "$EJECT_E" ctrl+alt+r "$LOAD_E" ctrl+alt+o "$EJECT_D" ctrl+alt+l "$LOAD_D" ctrl+alt+s \
        ctrl+alt+o "$EJECT_E" ctrl+alt+l "$LOAD_E" ctrl+alt+s ctrl+alt+o "$EJECT_D" ctrl+alt+l "$LOAD_D"
}

# A second start ends with exit code 0; the first copy runs on alone and shows a balloon.
second_start_shows_balloon() {
    local code dark ended="$E2E_WORK/second-ended.txt"
    # cmd writes the exit code (the blank before ">" keeps "0>" from being read as a handle).
    launch second "$(program_line)" "echo %ERRORLEVEL% >\"$(windows_path "$ended")\""
    check "the second copy ended within 20 s" wait_until 20 test -s "$ended" || return 1
    code=$(tr -d '\r\n ' <"$ended")
    check "its exit code is 0" is "$code" 0
    check "a balloon within 10 s of the second start" wait_until 10 eval 'find_popup 40 && still_popup balloon' ||
        return 1
    save_screenshot e2e_second_start_balloon.png
    dark=$(dark_pixels "$E2E_WORK/balloon.png")
    check "the balloon (${POPUP_W}x$POPUP_H at $POPUP_X,$POPUP_Y) stands over E:'s icon, with text ($dark dark)" \
        eval 'popup_above E && ((dark >= 300))'
}

# D: closes itself after 3 s, counted down. Hot keys, Ctrl+Alt (3) with: E (69), R (82) open and
# close E:; O (79), L (76) the default drive; S (83) selects the next one.
d_tray closed
write_settings '[g_propMain]' 'nDefaultDisk=68' 'hkDefDiskEject.fsModifiers=3' 'hkDefDiskEject.vk=79' \
    'hkDefDiskClose.fsModifiers=3' 'hkDefDiskClose.vk=76' 'hkDefDiskSelect.fsModifiers=3' 'hkDefDiskSelect.vk=83' \
    '[dpDiskProp3]' 'bAutoCloseIn=1' 'uAutoCloseSeconds=3' 'bShowTime=1' \
    '[dpDiskProp4]' 'hkEject.fsModifiers=3' 'hkEject.vk=69' 'hkClose.fsModifiers=3' 'hkClose.vk=82'
# A desktop of this run's own: hot keys and FindWindow stay within a desktop.
start_program "e2etray$$" || exit 1
run_scenario tip_shows_over_the_icon menu_opens_on_right_click open_tray_from_menu_counts_down \
    double_click_closes_open_tray hot_keys_act_on_their_drive second_start_shows_balloon
e2e_finish
