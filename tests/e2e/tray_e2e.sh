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
#   GROUP           menu, autoclose, hotkeys, secondstart; all of them when
#                   none is given
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

# --- scenarios: hot keys -----------------------------------------------------
# group_hotkeys sets E:'s own keys Ctrl+Alt+E (open) and Ctrl+Alt+R (close),
# and for the default drive Ctrl+Alt+O (open), Ctrl+Alt+L (close) and
# Ctrl+Alt+S (next default drive).

EJECT_E='E: IOCTL_STORAGE_EJECT_MEDIA -> ok'
LOAD_E='E: IOCTL_STORAGE_LOAD_MEDIA -> ok'

# Eject and load requests of every drive, whatever their result, written
# after MARK.
tray_requests() {
    journal_since "$1" | grep -E '^[A-Z]: IOCTL_STORAGE_(EJECT|LOAD)_MEDIA ' || true
}

# press_hot_key KEYS LINE: types KEYS with the focus on the desktop and checks
# that the journal then shows LINE and no other eject or load request.
press_hot_key() {
    local keys=$1 expected=$2 mark requests
    focus_desktop
    mark=$(journal_mark)
    xdotool key "$keys"
    if ! wait_until 5 journal_has "$mark" "$expected"; then
        requests=$(tray_requests "$mark")
        fail "$keys: no '$expected' within 5 s (eject and load requests: ${requests:-none})"
        return 1
    fi
    # A request to a wrong drive would come from the same WM_HOTKEY; give it
    # a moment to reach the journal.
    sleep 0.5
    requests=$(tray_requests "$mark")
    if [ "$requests" = "$expected" ]; then
        pass "$keys: the journal shows '$expected' and no other eject or load"
    else
        fail "$keys: expected only '$expected', the journal shows: $(tr '\n' ';' <<<"$requests")"
    fi
}

# E:'s own hot keys open and close E:'s tray and leave D: alone.
drive_hot_keys_open_and_close_their_drive() {
    press_hot_key ctrl+alt+e "$EJECT_E" || return 1
    press_hot_key ctrl+alt+r "$LOAD_E"
}

# The default drive's hot keys open and close D:, the default drive.
default_drive_hot_keys_act_on_the_default_drive() {
    press_hot_key ctrl+alt+o "$EJECT_D" || return 1
    press_hot_key ctrl+alt+l "$LOAD_D"
}

# The default drive's icon carries a red star in its top right quarter (an
# open tray's red cross sits in the bottom right one).
has_star() {
    grab_region "$E2E_WORK/star.png" "${E2E_ICON_X[$1]}" $((E2E_ICON_Y[$1] - 8)) 8 8 &&
        (($(red_pixels "$E2E_WORK/star.png") >= 8))
}
# star_only_on LETTER: LETTER's icon has the star and no other icon has.
star_only_on() {
    local letter
    for letter in "${E2E_DRIVES[@]}"; do
        if [ "$letter" = "$1" ]; then
            has_star "$letter" || return 1
        elif has_star "$letter"; then
            return 1
        fi
    done
}
icons_as_at_start() { icon_matches D "$(start_icon D)" && icon_matches E "$(start_icon E)"; }

# Ctrl+Alt+S makes the next drive, E:, the default: the star moves to E:'s
# icon and the default drive's hot keys act on E:. Once more and the choice
# wraps round to D:.
select_hot_key_moves_the_default_drive() {
    # A drive whose tray was just closed shows an hourglass for a moment.
    if wait_until 5 star_only_on D; then
        pass "the star is on D:'s icon only, the default drive's"
    else
        fail "D:'s icon, and only it, should carry the default drive's star"
        return 1
    fi
    focus_desktop
    xdotool key ctrl+alt+s
    if wait_until 5 star_only_on E; then
        pass "ctrl+alt+s: the star moved to E:'s icon"
    else
        fail "ctrl+alt+s: the star is not on E:'s icon alone within 5 s"
        return 1
    fi
    press_hot_key ctrl+alt+o "$EJECT_E" || return 1
    press_hot_key ctrl+alt+l "$LOAD_E" || return 1

    focus_desktop
    xdotool key ctrl+alt+s
    if wait_until 5 icons_as_at_start; then
        pass "ctrl+alt+s again: the star is back on D:, both icons look as they did at the start"
    else
        fail "ctrl+alt+s again: the icons did not return to their start pictures within 5 s"
        return 1
    fi
    press_hot_key ctrl+alt+o "$EJECT_D" || return 1
    press_hot_key ctrl+alt+l "$LOAD_D"
}

# --- scenarios: a second start -----------------------------------------------

# Runs the program once more in the same virtual desktop, through cmd, which
# writes SECOND_STARTED just before it runs the program and SECOND_ENDED, the
# exit code, once the program has ended.
start_second_copy() {
    local batch="$E2E_WORK/second.bat" exe_w appdata_w started_w ended_w batch_w
    SECOND_STARTED="$E2E_WORK/second-started.txt"
    SECOND_ENDED="$E2E_WORK/second-ended.txt"
    rm -f "$SECOND_STARTED" "$SECOND_ENDED"
    exe_w=$(SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$E2E_RUN_DIR/$E2E_PROGRAM" 2>/dev/null) &&
        appdata_w=$(SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$E2E_APPDATA" 2>/dev/null) &&
        started_w=$(SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$SECOND_STARTED" 2>/dev/null) &&
        ended_w=$(SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$SECOND_ENDED" 2>/dev/null) &&
        batch_w=$(SBAY_E2E_RUN=$E2E_RUN_ID winepath -w "$batch" 2>/dev/null) ||
        { fail "winepath did not answer"; return 1; }
    # The blank before ">" keeps cmd from reading "0>" as a handle.
    printf '@echo off\r\nset "APPDATA=%s"\r\necho started>"%s"\r\n"%s"\r\necho %%ERRORLEVEL%% >"%s"\r\n' \
        "$appdata_w" "$started_w" "$exe_w" "$ended_w" >"$batch"
    e2e_log "starting $E2E_PROGRAM a second time in '$E2E_DESKTOP'"
    SECOND_LAUNCHED=$(now_ms)
    SBAY_E2E_RUN=$E2E_RUN_ID wine explorer "/desktop=$E2E_DESKTOP,$E2E_DESKTOP_SIZE" cmd /c "$batch_w" \
        >>"$E2E_WORK/wine.log" 2>&1 &
    disown $!   # it ends once cmd has; stop_program ends what is left
}

# find_balloon WINDOWS: sets BALLOON_WINDOW and BALLOON_X/Y/W/H to a balloon,
# an unnamed window of explorer's on the screen that is not one of WINDOWS
# (decimal ids) and big enough for two lines of text.
find_balloon() {
    local hex id
    for hex in $(xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null |
        awk '$2 == "(has" && $3 == "no" && /\("explorer\.exe" / {print $1}'); do
        id=$((hex))
        grep -Fxq "$id" <<<"$1" && continue
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        window_geometry "$id" || continue
        ((WIN_W >= 100 && WIN_H >= 40)) || continue
        BALLOON_WINDOW=$id BALLOON_X=$WIN_X BALLOON_Y=$WIN_Y BALLOON_W=$WIN_W BALLOON_H=$WIN_H
        return 0
    done
    return 1
}

# Starting the program while it runs: the new copy ends at once with exit
# code 0, and the running copy shows a balloon at its icon.
second_start_shows_balloon() {
    local first
    first=$(program_pids)
    if [ "$(wc -w <<<"$first")" != 1 ]; then
        fail "expected one running copy of the program before the second start, found: ${first:-none}"
        return 1
    fi
    park_pointer
    local before_windows before_shot="$E2E_WORK/before-second.png"
    before_windows=$(viewable_desktop_children)
    import -window root "$before_shot" 2>/dev/null || return 1
    start_second_copy || return 1

    if ! wait_until 20 test -s "$SECOND_ENDED"; then
        fail "the second copy did not end within 20 s"
        return 1
    fi
    local ended seen lived code
    ended=$(date -r "$SECOND_ENDED" +%s%3N)
    seen=$((ended - SECOND_LAUNCHED))
    lived=$((ended - $(date -r "$SECOND_STARTED" +%s%3N)))
    e2e_log "the second copy ran for $lived ms as cmd saw it ($seen ms from launching explorer until its exit code was written)"
    if ((lived <= 2000)); then
        pass "the second copy ended within 2 s ($lived ms)"
    else
        fail "the second copy ran for $lived ms (at most 2000 expected)"
    fi
    code=$(tr -d '\r\n ' <"$SECOND_ENDED")
    if [ "$code" = 0 ]; then pass "its exit code is 0"; else fail "its exit code is '$code', not 0"; fi
    local now
    now=$(program_pids | paste -sd ' ')
    if [ "$now" = "$first" ]; then
        pass "the first copy runs on, and no other"
    else
        fail "copies of the program running: ${now:-none}, expected only the first ($first)"
    fi

    if ! wait_until 10 find_balloon "$before_windows"; then
        save_screenshot e2e_second_start_balloon.png
        fail "no balloon window appeared within 10 s of the second start"
        return 1
    fi
    local shown=$(($(now_ms) - SECOND_LAUNCHED))
    pass "a balloon window appeared (${BALLOON_W}x$BALLOON_H at $BALLOON_X,$BALLOON_Y), about $shown ms after the second start"
    region_still 3 "$BALLOON_X" "$BALLOON_Y" "$BALLOON_W" "$BALLOON_H"
    save_screenshot e2e_second_start_balloon.png
    save_screenshot e2e_second_start_balloon_zoom.png "$BALLOON_X" "$BALLOON_Y" "$BALLOON_W" "$BALLOON_H" 2

    # It sits right above the taskbar...
    local bottom=$((BALLOON_Y + BALLOON_H))
    if ((bottom >= E2E_TASKBAR_Y - 20 && bottom <= E2E_TASKBAR_Y + 2)); then
        pass "the balloon stands on the taskbar"
    else
        fail "the balloon's bottom edge is at y=$bottom, the taskbar's top at y=$E2E_TASKBAR_Y"
    fi
    # ...its picture replaced the desktop there, with text on it...
    local rect="${BALLOON_W}x${BALLOON_H}+${BALLOON_X}+${BALLOON_Y}" area=$((BALLOON_W * BALLOON_H))
    convert "$before_shot" -crop "$rect" +repage "$E2E_WORK/balloon-before.png"
    grab_region "$E2E_WORK/balloon.png" "$BALLOON_X" "$BALLOON_Y" "$BALLOON_W" "$BALLOON_H" || return 1
    local changed dark
    changed=$(pixels_differing "$E2E_WORK/balloon-before.png" "$E2E_WORK/balloon.png")
    if ((changed * 2 > area)); then
        pass "the screen shows the balloon ($changed of $area pixels changed)"
    else
        fail "only $changed of $area pixels changed where the balloon is"
    fi
    dark=$(dark_pixels "$E2E_WORK/balloon.png")
    if ((dark >= 300)); then
        pass "the balloon has text on it ($dark dark pixels)"
    else
        fail "the balloon shows next to no text ($dark dark pixels)"
    fi
    # ...and its stem's tip, its lowest changed pixels, is at a drive's icon.
    local tip_x nearest="" letter
    tip_x=$(changed_pixels "$E2E_WORK/balloon-before.png" "$E2E_WORK/balloon.png" | awk -v x0="$BALLOON_X" '
        BEGIN { low = -1 }
        $2 > low { low = $2; sum = 0; n = 0 }
        $2 == low { sum += $1; n++ }
        END { if (n) print x0 + int(sum / n) }')
    for letter in "${E2E_DRIVES[@]}"; do
        [ -n "$tip_x" ] && ((tip_x - E2E_ICON_X[$letter] <= 8 && E2E_ICON_X[$letter] - tip_x <= 8)) && nearest=$letter
    done
    if [ -n "$nearest" ]; then
        pass "the balloon points at $nearest:'s icon (tip at x=$tip_x, icon at x=${E2E_ICON_X[$nearest]})"
    else
        fail "the balloon's tip (x=${tip_x:-none}) is at none of the icons"
    fi
    if wait_until 5 tray_icons_settled "${#E2E_DRIVES[@]}"; then
        pass "the notification area still shows ${#E2E_DRIVES[@]} icons"
    else
        fail "the notification area now shows: ${E2E_ICONS_FOUND:-no icons}"
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

# Desktops named after this script's process: hot keys and FindWindow stay
# within one desktop, and a run beside ours in the same prefix gets its own.
group_hotkeys() {
    initial_drives
    # Modifiers 3 are MOD_ALT | MOD_CONTROL; the keys are the letters' codes:
    # 79 O, 76 L, 83 S for the default drive, 69 E, 82 R for E:.
    write_settings '[g_propMain]' 'nDefaultDisk=68' \
        'hkDefDiskEject.fsModifiers=3' 'hkDefDiskEject.vk=79' \
        'hkDefDiskClose.fsModifiers=3' 'hkDefDiskClose.vk=76' \
        'hkDefDiskSelect.fsModifiers=3' 'hkDefDiskSelect.vk=83' \
        '[dpDiskProp4]' 'hkEject.fsModifiers=3' 'hkEject.vk=69' 'hkClose.fsModifiers=3' 'hkClose.vk=82'
    start_program "e2ekeys$$" || return 1
    park_pointer
    run_scenario drive_hot_keys_open_and_close_their_drive
    run_scenario default_drive_hot_keys_act_on_the_default_drive
    run_scenario select_hot_key_moves_the_default_drive
    stop_program
}

group_secondstart() {
    initial_drives
    write_settings '[g_propMain]' 'nDefaultDisk=68'
    start_program "e2esecond$$" || return 1
    run_scenario second_start_shows_balloon
    stop_program
}

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(menu autoclose hotkeys secondstart)
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
