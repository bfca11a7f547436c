#!/bin/bash
# End-to-end tests of the tray icons: sbay_sim.exe runs in a Wine virtual
# desktop with a taskbar, and the tests act as a person does - right-click a
# drive's icon, pick from its menu with the keyboard, double-click the icon,
# watch the auto-close countdown - and check what the simulated drives were
# asked to do (simjournal.log), what the windows are called and what the
# screen shows.
#
# usage: tray_e2e.sh SIM_DIR SCREENSHOT_DIR [GROUP...]
#   SIM_DIR         the build's sim folder (build/mingw/sim)
#   SCREENSHOT_DIR  where the screenshots go (build/mingw/screenshots)
#   GROUP           menu, autoclose; all of them when none is given
# Needs DISPLAY (run it under xvfb-run -a -s "-screen 0 1024x768x24") and a
# prepared Wine prefix (scripts/prepare-wine-prefix.sh): WINEPREFIX, or else
# the build's own one beside SIM_DIR. By hand, from the repository:
#   xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/tray_e2e.sh \
#       build/mingw/sim build/mingw/screenshots
#
# Each group starts the program afresh with its own settings in a private
# %APPDATA% and its own simdrives.ini in a temporary copy of the sim folder;
# each scenario is one function. To add one, write a function and list it in
# its group below (or add a group with its own settings).
set -u -o pipefail

[ $# -ge 2 ] || { echo "usage: $0 SIM_DIR SCREENSHOT_DIR [GROUP...]" >&2; exit 2; }
E2E_SIM_DIR=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && E2E_SHOT_DIR=$(cd "$2" && pwd) || exit 2
shift 2

. "$(dirname "$0")/e2e_lib.sh"

trap e2e_cleanup EXIT
trap 'exit 130' INT TERM
e2e_setup || exit 1

# D: a data disc, E: an audio CD, both trays closed.
E2E_DRIVES=(D E)
initial_drives() {
    write_sim_drives '[D]' 'tray=closed' 'medium=data' 'label=E2E_DATA' 'size=700000000' \
        '' '[E]' 'tray=closed' 'medium=audio' 'tracks=9'
}
# Pulls D:'s tray out by hand (the program reads the file again when it
# changes; initial_drives pushes it back in).
pull_out_d_tray() {
    write_sim_drives '[D]' 'tray=open' 'medium=data' 'label=E2E_DATA' 'size=700000000' \
        '' '[E]' 'tray=closed' 'medium=audio' 'tracks=9'
}

EJECT_D='D: IOCTL_STORAGE_EJECT_MEDIA -> ok'
LOAD_D='D: IOCTL_STORAGE_LOAD_MEDIA -> ok'

# --- scenarios: the tray menu ------------------------------------------------

# Right-clicking D:'s icon shows the tray menu, with its pictures, next to the
# icon; Escape closes it.
menu_opens_on_right_click() {
    local before="$E2E_WORK/before-menu.png" area="$E2E_WORK/menu.png"
    import -window root "$before" 2>/dev/null || return 1
    open_tray_menu D || { fail "no menu appeared after right-clicking D:'s icon"; return 1; }
    pass "right-click on D:'s icon: a menu window appeared (${MENU_W}x${MENU_H} at $MENU_X,$MENU_Y)"
    settle_menu

    # The menu opens with its bottom right corner at the pointer.
    local dx=$((E2E_ICON_X[D] - (MENU_X + MENU_W))) dy=$((E2E_ICON_Y[D] - (MENU_Y + MENU_H)))
    if ((dx > -30 && dx < 30 && dy > -30 && dy < 30)); then
        pass "the menu opened at the icon"
    else
        fail "the menu's corner is $dx,$dy pixels away from the icon"
    fi

    grab_region "$area" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" || return 1
    convert "$before" -crop "${MENU_W}x${MENU_H}+${MENU_X}+${MENU_Y}" +repage "$E2E_WORK/before-area.png"
    local changed total=$((MENU_W * MENU_H)) coloured
    changed=$(pixels_differing "$E2E_WORK/before-area.png" "$area")
    if ((changed * 2 > total)); then
        pass "the screen shows the menu ($changed of $total pixels changed)"
    else
        fail "only $changed of $total pixels changed where the menu should be"
    fi
    # Items' pictures are the only coloured things in a plain menu (the desktop
    # behind it is coloured all over).
    coloured=$(coloured_pixels "$area")
    if ((coloured >= 100 && coloured * 5 < total)); then
        pass "the menu shows item pictures ($coloured coloured pixels)"
    else
        fail "the menu has $coloured coloured pixels of $total: no pictures, or no menu"
    fi
    save_screenshot e2e_tray_menu.png
    save_screenshot e2e_tray_menu_zoom.png "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" 3

    menu_keys Escape
    if wait_until 3 menu_gone; then pass "Escape closed the menu"; else fail "the menu stayed after Escape"; fi
}

# Open tray, chosen with the arrow keys and Return, ejects D:.
open_tray_from_menu_with_keyboard() {
    open_tray_menu D || { fail "no menu appeared after right-clicking D:'s icon"; return 1; }
    settle_menu
    local before="$E2E_WORK/keys-before.png" after="$E2E_WORK/keys-after.png"
    grab_region "$before" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    # The first Down lands on the header (greyed, but Wine still selects it),
    # the second on Open tray.
    menu_keys Down Down
    sleep 0.3
    grab_region "$after" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    if (($(pixels_differing "$before" "$after") > 0)); then
        pass "the arrow keys move the selection in the menu"
    else
        fail "the menu did not react to the arrow keys"
    fi
    save_screenshot e2e_tray_menu_open_tray_selected_zoom.png "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" 3

    local mark
    mark=$(journal_mark)
    menu_keys Return
    if wait_until 5 journal_has "$mark" "$EJECT_D"; then
        pass "Open tray: the journal shows '$EJECT_D'"
    else
        fail "no '$EJECT_D' within 5 s of choosing Open tray"
    fi
    if journal_has "$mark" "$LOAD_D"; then fail "the tray was also closed: '$LOAD_D'"; fi
    if wait_until 3 menu_gone; then pass "the menu closed"; else fail "the menu stayed open after Return"; fi
}

# Double-clicking D:'s icon while its tray is out closes the tray.
double_click_closes_open_tray() {
    # The program started with the tray in: the icon's picture then is the
    # closed one. Push the tray in by hand first in case it is out.
    local closed_icon
    closed_icon=$(start_icon D)
    initial_drives
    wait_until 5 icon_matches D "$closed_icon" || { fail "D:'s icon does not show the closed tray"; return 1; }
    pull_out_d_tray
    if wait_until 5 icon_differs D "$closed_icon"; then
        pass "D:'s icon changed when its tray was pulled out by hand"
    else
        fail "D:'s icon did not change within 5 s of pulling its tray out"
        return 1
    fi
    local mark
    mark=$(journal_mark)
    xdotool mousemove "${E2E_ICON_X[D]}" "${E2E_ICON_Y[D]}" click --repeat 2 --delay 100 1
    if wait_until 5 journal_has "$mark" "$LOAD_D"; then
        pass "double-click: the journal shows '$LOAD_D'"
    else
        fail "no '$LOAD_D' within 5 s of double-clicking D:'s icon"
    fi
    if journal_has "$mark" "$EJECT_D"; then fail "the double-click also opened the tray: '$EJECT_D'"; fi
    if wait_until 5 icon_matches D "$closed_icon"; then
        pass "D:'s icon shows the closed tray again"
    else
        fail "D:'s icon did not return to its closed-tray picture within 5 s"
    fi
    park_pointer
}

# --- scenarios: automatic closing --------------------------------------------

COUNTDOWN_TITLE='^Closing in [0-9]+ s \(drive D:\)$'

find_countdown() {
    COUNTDOWN_WINDOW=$(search_in_desktop --name "$COUNTDOWN_TITLE" | head -n 1)
    [ -n "$COUNTDOWN_WINDOW" ]
}
countdown_gone() { ! find_countdown; }

# With bAutoCloseIn=1, uAutoCloseSeconds=3, bShowTime=1 for D:, opening the
# tray from the menu shows a countdown whose title counts down, and when the
# time is up the tray closes by itself and the countdown goes away.
countdown_closes_tray() {
    open_tray_menu D || { fail "no menu appeared after right-clicking D:'s icon"; return 1; }
    settle_menu
    local mark start
    mark=$(journal_mark)
    menu_keys Down Down Return
    start=$(now_ms)
    if ! wait_until 5 journal_has "$mark" "$EJECT_D"; then
        fail "no '$EJECT_D' within 5 s of choosing Open tray"
        return 1
    fi
    pass "Open tray: the journal shows '$EJECT_D'"

    if ! wait_until 3 find_countdown; then
        fail "no window titled like 'Closing in N s (drive D:)' within 3 s of opening"
        return 1
    fi
    # Read the title until the tray is closed and the window gone (at most
    # 10 s), keeping every value the countdown showed.
    local title numbers=() shot_taken=0 closed_at=0 gone_at=0 deadline=$(($(now_ms) + 10000))
    while (($(now_ms) < deadline)); do
        if find_countdown; then
            title=$(xdotool getwindowname "$COUNTDOWN_WINDOW" 2>/dev/null)
            if [[ $title =~ ^Closing\ in\ ([0-9]+)\ s ]]; then
                local n=${BASH_REMATCH[1]}
                if ((${#numbers[@]} == 0)) || [ "${numbers[-1]}" != "$n" ]; then
                    numbers+=("$n")
                    e2e_log "countdown title: '$title'"
                fi
            fi
            if ((shot_taken == 0)) && window_geometry "$COUNTDOWN_WINDOW"; then
                shot_taken=1
                save_screenshot e2e_countdown_dialog.png
                save_screenshot e2e_countdown_dialog_zoom.png "$WIN_X" "$WIN_Y" "$WIN_W" "$WIN_H" 2
            fi
        elif ((gone_at == 0)); then
            gone_at=$(now_ms)
        fi
        if ((closed_at == 0)) && journal_has "$mark" "$LOAD_D"; then closed_at=$(now_ms); fi
        ((closed_at > 0 && gone_at > 0)) && break
        sleep 0.2
    done

    if ((${#numbers[@]} >= 2)); then
        pass "the countdown's title counted: ${numbers[*]}"
    else
        fail "the countdown's title did not change (seen: ${numbers[*]:-nothing})"
    fi
    local i ordered=$((${#numbers[@]} > 0))
    for ((i = 1; i < ${#numbers[@]}; i++)); do
        ((numbers[i] < numbers[i - 1])) || ordered=0
    done
    ((ordered == 0 || numbers[0] <= 3)) || ordered=0
    if ((ordered)); then
        pass "the numbers go down from at most 3"
    else
        fail "the countdown's numbers are not a count down from 3: ${numbers[*]}"
    fi

    if ((closed_at == 0)); then
        fail "the tray was not closed within 10 s: no '$LOAD_D'"
        return 1
    fi
    local seconds=$(((closed_at - start) / 100))
    seconds="$((seconds / 10)).$((seconds % 10))"
    if ((closed_at - start >= 2000 && closed_at - start <= 7000)); then
        pass "the tray closed by itself after $seconds s: '$LOAD_D'"
    else
        fail "the tray closed after $seconds s (expected about 3 to 4 s)"
    fi
    if ((gone_at > 0)) && ((gone_at - closed_at <= 2000)); then
        pass "the countdown window went away"
    else
        fail "the countdown window is still there after the tray closed"
    fi
}

# --- groups ------------------------------------------------------------------

group_menu() {
    initial_drives
    write_settings '[g_propMain]' 'nDefaultDisk=68' '[dpDiskProp3]' 'bAutoCloseIn=0'
    start_program e2emenu || return 1
    save_screenshot e2e_tray_icons_zoom.png $((E2E_TASKBAR_X + E2E_TASKBAR_W - 80)) "$E2E_TASKBAR_Y" 80 \
        "$E2E_TASKBAR_H" 4
    run_scenario menu_opens_on_right_click
    run_scenario open_tray_from_menu_with_keyboard
    run_scenario double_click_closes_open_tray
    stop_program
}

group_autoclose() {
    initial_drives
    write_settings '[g_propMain]' 'nDefaultDisk=68' \
        '[dpDiskProp3]' 'bAutoCloseIn=1' 'uAutoCloseSeconds=3' 'bShowTime=1'
    start_program e2eclose || return 1
    run_scenario countdown_closes_tray
    stop_program
}

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(menu autoclose)
for group in "${groups[@]}"; do
    if ! declare -F "group_$group" >/dev/null; then
        fail "no such group: $group"
        continue
    fi
    e2e_log "=== $group"
    "group_$group" || stop_program
done

if ((E2E_FAILURES > 0)); then
    e2e_log "$E2E_FAILURES check(s) failed"
    exit 1
fi
e2e_log "all checks passed"
