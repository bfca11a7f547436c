#!/bin/bash
# End-to-end tests of the tray icons: sbay_sim.exe runs in a Wine virtual
# desktop and the tests act as a person does (right-click an icon and pick
# from its menu, double-click it, watch the auto-close countdown, press hot
# keys, start the program twice), then check the simulated drives' journal,
# the windows and the screen.
#
# usage: tray_e2e.sh SIM_DIR SCREENSHOT_DIR [GROUP...]
#   GROUP: menu, autoclose, hotkeys, secondstart (all when none is given).
# Needs DISPLAY and a prepared Wine prefix (WINEPREFIX, or the build's own
# beside SIM_DIR). By hand, from the repository:
#   xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/tray_e2e.sh build/mingw/sim build/mingw/screenshots
# Each group starts the program afresh with its own settings and drives; each
# scenario is one function listed in its group.
set -u -o pipefail

[ $# -ge 2 ] || { echo "usage: $0 SIM_DIR SCREENSHOT_DIR [GROUP...]" >&2; exit 2; }
E2E_SIM_DIR=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && E2E_SHOT_DIR=$(cd "$2" && pwd) || exit 2
shift 2

. "$(dirname "$0")/e2e_lib.sh"

trap e2e_cleanup EXIT
trap 'exit 130' INT TERM
e2e_setup || exit 1

# D: a data disc, E: an audio CD, both trays closed; D:'s tray pulled out by
# hand (the program reads the file again when it changes).
E2E_DRIVES=(D E)
sim_drives_with_d_tray() {
    write_sim_drives '[D]' "tray=$1" 'medium=data' 'label=E2E_DATA' 'size=700000000' \
        '' '[E]' 'tray=closed' 'medium=audio' 'tracks=9'
}
initial_drives() { sim_drives_with_d_tray closed; }
pull_out_d_tray() { sim_drives_with_d_tray open; }

EJECT_D='D: IOCTL_STORAGE_EJECT_MEDIA -> ok'
LOAD_D='D: IOCTL_STORAGE_LOAD_MEDIA -> ok'
EJECT_E='E: IOCTL_STORAGE_EJECT_MEDIA -> ok'
LOAD_E='E: IOCTL_STORAGE_LOAD_MEDIA -> ok'

open_d_menu() { open_tray_menu D || { fail "no menu appeared after right-clicking D:'s icon"; return 1; }; }
in_range() { (($1 >= $2 && $1 <= $3)); }

# --- scenarios: the tray menu ------------------------------------------------

# Right-clicking D:'s icon shows the tray menu, with its pictures, next to the
# icon; Escape closes it.
menu_opens_on_right_click() {
    local before="$E2E_WORK/before-menu.png" area="$E2E_WORK/menu.png"
    import -window root "$before" 2>/dev/null || return 1
    open_d_menu || return 1
    pass "right-click on D:'s icon: a menu window appeared (${MENU_W}x${MENU_H} at $MENU_X,$MENU_Y)"
    settle_menu
    # The menu opens with its bottom right corner at the pointer.
    local dx=$((E2E_ICON_X[D] - (MENU_X + MENU_W))) dy=$((E2E_ICON_Y[D] - (MENU_Y + MENU_H)))
    check "the menu opened at the icon" "the menu's corner is $dx,$dy pixels away from the icon" \
        eval 'in_range $dx -29 29 && in_range $dy -29 29'

    grab_region "$area" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" || return 1
    convert "$before" -crop "${MENU_W}x${MENU_H}+${MENU_X}+${MENU_Y}" +repage "$E2E_WORK/before-area.png"
    local changed total=$((MENU_W * MENU_H)) coloured
    changed=$(pixels_differing "$E2E_WORK/before-area.png" "$area")
    check "the screen shows the menu ($changed of $total pixels changed)" \
        "only $changed of $total pixels changed where the menu should be" test $((changed * 2)) -gt "$total"
    # Items' pictures are the only coloured things in a plain menu (the desktop
    # behind it is coloured all over).
    coloured=$(coloured_pixels "$area")
    check "the menu shows item pictures ($coloured coloured pixels)" \
        "the menu has $coloured coloured pixels of $total: no pictures, or no menu" \
        in_range "$coloured" 100 $(((total - 1) / 5))
    save_screenshot e2e_tray_menu.png
    save_screenshot e2e_tray_menu_zoom.png "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" 3
    menu_keys Escape
    check "Escape closed the menu" "the menu stayed after Escape" wait_until 3 menu_gone
}

# expect_only MARK WANTED UNWANTED WHAT: within 5 s WANTED is in the journal
# after MARK, and UNWANTED is not.
expect_only() {
    check "$4: the journal shows '$2'" "no '$2' within 5 s of $4" wait_until 5 journal_has "$1" "$2"
    if journal_has "$1" "$3"; then fail "$4 also brought '$3'"; fi
}

# Open tray, chosen with the arrow keys and Return, ejects D:.
open_tray_from_menu_with_keyboard() {
    open_d_menu || return 1
    settle_menu
    local before="$E2E_WORK/keys-before.png" after="$E2E_WORK/keys-after.png" mark
    grab_region "$before" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    # The first Down lands on the header (greyed, but Wine still selects it),
    # the second on Open tray.
    menu_keys Down Down
    sleep 0.3
    grab_region "$after" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    check "the arrow keys move the selection in the menu" "the menu did not react to the arrow keys" \
        test "$(pixels_differing "$before" "$after")" -gt 0
    save_screenshot e2e_tray_menu_open_tray_selected_zoom.png "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" 3
    mark=$(journal_mark)
    menu_keys Return
    expect_only "$mark" "$EJECT_D" "$LOAD_D" "Open tray"
    check "the menu closed" "the menu stayed open after Return" wait_until 3 menu_gone
}

# Double-clicking D:'s icon while its tray is out closes the tray.
double_click_closes_open_tray() {
    # The icon's picture at the start is the closed one; push the tray in by
    # hand first in case it is out.
    local closed_icon mark
    closed_icon=$(start_icon D)
    initial_drives
    wait_until 5 icon_matches D "$closed_icon" || { fail "D:'s icon does not show the closed tray"; return 1; }
    pull_out_d_tray
    check "D:'s icon changed when its tray was pulled out by hand" \
        "D:'s icon did not change within 5 s of pulling its tray out" wait_until 5 icon_differs D "$closed_icon" || return 1
    mark=$(journal_mark)
    xdotool mousemove "${E2E_ICON_X[D]}" "${E2E_ICON_Y[D]}" click --repeat 2 --delay 100 1
    expect_only "$mark" "$LOAD_D" "$EJECT_D" "double-click"
    check "D:'s icon shows the closed tray again" "D:'s icon did not return to its closed-tray picture within 5 s" \
        wait_until 5 icon_matches D "$closed_icon"
    park_pointer
}

# --- scenarios: automatic closing --------------------------------------------

find_countdown() {
    COUNTDOWN_WINDOW=$(search_in_desktop --name '^Closing in [0-9]+ s \(drive D:\)$' | head -n 1)
    [ -n "$COUNTDOWN_WINDOW" ]
}

# With bAutoCloseIn=1, uAutoCloseSeconds=3, bShowTime=1 for D:, opening the
# tray from the menu shows a countdown whose title counts down, and when the
# time is up the tray closes by itself and the countdown goes away.
countdown_closes_tray() {
    open_d_menu || return 1
    settle_menu
    local mark start
    mark=$(journal_mark)
    menu_keys Down Down Return
    start=$(now_ms)
    check "Open tray: the journal shows '$EJECT_D'" "no '$EJECT_D' within 5 s of choosing Open tray" \
        wait_until 5 journal_has "$mark" "$EJECT_D" || return 1
    wait_until 3 find_countdown || { fail "no window titled like 'Closing in N s (drive D:)' within 3 s"; return 1; }
    # Read the title until the tray is closed and the window gone (at most
    # 10 s), keeping every value the countdown showed.
    local title last="" numbers=() shot_taken=0 closed_at=0 gone_at=0 deadline=$(($(now_ms) + 10000))
    while (($(now_ms) < deadline)) && ((closed_at == 0 || gone_at == 0)); do
        if find_countdown; then
            title=$(xdotool getwindowname "$COUNTDOWN_WINDOW" 2>/dev/null)
            if [[ $title =~ ^Closing\ in\ ([0-9]+)\ s ]] && [ "$last" != "${BASH_REMATCH[1]}" ]; then
                last=${BASH_REMATCH[1]}
                numbers+=("$last")
                e2e_log "countdown title: '$title'"
            fi
            if ((shot_taken == 0)) && window_geometry "$COUNTDOWN_WINDOW"; then
                shot_taken=1
                save_screenshot e2e_countdown_dialog.png
                save_screenshot e2e_countdown_dialog_zoom.png "$WIN_X" "$WIN_Y" "$WIN_W" "$WIN_H" 2
            fi
        elif ((gone_at == 0)); then
            gone_at=$(now_ms)
        fi
        ((closed_at == 0)) && journal_has "$mark" "$LOAD_D" && closed_at=$(now_ms)
        sleep 0.2
    done
    # At least two values, each below the one before, the first at most 3.
    local i ordered=$((${#numbers[@]} >= 2 && ${numbers[0]:-9} <= 3))
    for ((i = 1; i < ${#numbers[@]}; i++)); do ((numbers[i] < numbers[i - 1])) || ordered=0; done
    check "the countdown's title counted down from at most 3: ${numbers[*]}" \
        "the countdown's title did not count down from 3 (seen: ${numbers[*]:-nothing})" test "$ordered" = 1
    ((closed_at > 0)) || { fail "the tray was not closed within 10 s: no '$LOAD_D'"; return 1; }
    local took=$((closed_at - start))
    check "the tray closed by itself after $took ms: '$LOAD_D'" "the tray closed after $took ms (expected 3 to 4 s)" \
        in_range "$took" 2000 7000
    check "the countdown window went away" "the countdown window is still there after the tray closed" \
        eval '((gone_at > 0 && gone_at - closed_at <= 2000))'
}

# --- scenarios: hot keys -----------------------------------------------------
# group_hotkeys sets E:'s own keys Ctrl+Alt+E (open) and Ctrl+Alt+R (close),
# and for the default drive Ctrl+Alt+O (open), Ctrl+Alt+L (close) and
# Ctrl+Alt+S (next default drive).

# Eject and load requests of every drive, whatever their result, after MARK.
tray_requests() { journal_since "$1" | grep -E '^[A-Z]: IOCTL_STORAGE_(EJECT|LOAD)_MEDIA ' || true; }

# press_hot_key KEYS LINE [KEYS LINE...]: types each KEYS with the focus on
# the desktop and checks that the journal then shows LINE and no other eject
# or load request.
press_hot_key() {
    local mark requests
    while (($# >= 2)); do
        focus_desktop
        mark=$(journal_mark)
        xdotool key "$1"
        if ! wait_until 5 journal_has "$mark" "$2"; then
            fail "$1: no '$2' within 5 s (eject and load requests: $(tray_requests "$mark" | paste -sd ';'))"
            return 1
        fi
        # A request to a wrong drive would come from the same WM_HOTKEY.
        sleep 0.5
        requests=$(tray_requests "$mark")
        check "$1: the journal shows '$2' and no other eject or load" \
            "$1: expected only '$2', the journal shows: $(tr '\n' ';' <<<"$requests")" test "$requests" = "$2"
        shift 2
    done
}

# Each drive's own hot keys, and the default drive's, act on their drive only.
drive_hot_keys_open_and_close_their_drive() { press_hot_key ctrl+alt+e "$EJECT_E" ctrl+alt+r "$LOAD_E"; }
default_drive_hot_keys_act_on_the_default_drive() { press_hot_key ctrl+alt+o "$EJECT_D" ctrl+alt+l "$LOAD_D"; }

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
        if [ "$letter" = "$1" ]; then has_star "$letter" || return 1; elif has_star "$letter"; then return 1; fi
    done
}
icons_as_at_start() { icon_matches D "$(start_icon D)" && icon_matches E "$(start_icon E)"; }

# Ctrl+Alt+S makes the next drive, E:, the default: the star moves to E:'s
# icon and the default drive's hot keys act on E:. Once more and the choice
# wraps round to D:.
select_hot_key_moves_the_default_drive() {
    # A drive whose tray was just closed shows an hourglass for a moment.
    check "the star is on D:'s icon only, the default drive's" "D:'s icon, and only it, should carry the star" \
        wait_until 5 star_only_on D || return 1
    focus_desktop
    xdotool key ctrl+alt+s
    check "ctrl+alt+s: the star moved to E:'s icon" "ctrl+alt+s: the star is not on E:'s icon alone within 5 s" \
        wait_until 5 star_only_on E || return 1
    press_hot_key ctrl+alt+o "$EJECT_E" ctrl+alt+l "$LOAD_E" || return 1
    focus_desktop
    xdotool key ctrl+alt+s
    check "ctrl+alt+s again: the star is back on D:, both icons look as at the start" \
        "ctrl+alt+s again: the icons did not return to their start pictures within 5 s" \
        wait_until 5 icons_as_at_start || return 1
    press_hot_key ctrl+alt+o "$EJECT_D" ctrl+alt+l "$LOAD_D"
}

# --- scenarios: a second start -----------------------------------------------

# Runs the program once more in the same virtual desktop, through cmd, which
# writes SECOND_STARTED just before it runs the program and SECOND_ENDED, the
# exit code, once the program has ended.
start_second_copy() {
    local batch="$E2E_WORK/second.bat" exe_w appdata_w started_w ended_w batch_w
    SECOND_STARTED="$E2E_WORK/second-started.txt" SECOND_ENDED="$E2E_WORK/second-ended.txt"
    rm -f "$SECOND_STARTED" "$SECOND_ENDED"
    exe_w=$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM") && appdata_w=$(windows_path "$E2E_APPDATA") &&
        started_w=$(windows_path "$SECOND_STARTED") && ended_w=$(windows_path "$SECOND_ENDED") &&
        batch_w=$(windows_path "$batch") || { fail "winepath did not answer"; return 1; }
    # The blank before ">" keeps cmd from reading "0>" as a handle.
    printf '@echo off\r\nset "APPDATA=%s"\r\necho started>"%s"\r\n"%s"\r\necho %%ERRORLEVEL%% >"%s"\r\n' \
        "$appdata_w" "$started_w" "$exe_w" "$ended_w" >"$batch"
    e2e_log "starting $E2E_PROGRAM a second time in '$E2E_DESKTOP'"
    SECOND_LAUNCHED=$(now_ms)
    SBAY_E2E_RUN=$E2E_RUN_ID wine explorer "/desktop=$E2E_DESKTOP,$E2E_DESKTOP_SIZE" cmd /c "$batch_w" \
        >>"$E2E_WORK/wine.log" 2>&1 &
    disown $!   # it ends once cmd has; stop_program ends what is left
}

# find_balloon WINDOWS: sets BALLOON_X/Y/W/H to a balloon, an unnamed window
# of explorer's on the screen that is not one of WINDOWS (decimal ids) and big
# enough for two lines of text.
find_balloon() {
    local hex id
    for hex in $(xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null |
        awk '$2 == "(has" && $3 == "no" && /\("explorer\.exe" / {print $1}'); do
        id=$((hex))
        grep -Fxq "$id" <<<"$1" && continue
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && window_geometry "$id" &&
            ((WIN_W >= 100 && WIN_H >= 40)) || continue
        BALLOON_WINDOW=$id BALLOON_X=$WIN_X BALLOON_Y=$WIN_Y BALLOON_W=$WIN_W BALLOON_H=$WIN_H
        return 0
    done
    return 1
}

# Starting the program while it runs: the new copy ends at once with exit
# code 0, and the running copy shows a balloon at its icon.
second_start_shows_balloon() {
    local first before_windows before_shot="$E2E_WORK/before-second.png"
    first=$(program_pids)
    [ "$(wc -w <<<"$first")" = 1 ] || { fail "expected one running copy before the second start, found: ${first:-none}"; return 1; }
    park_pointer
    before_windows=$(viewable_desktop_children)
    import -window root "$before_shot" 2>/dev/null || return 1
    start_second_copy || return 1
    wait_until 20 test -s "$SECOND_ENDED" || { fail "the second copy did not end within 20 s"; return 1; }
    local ended lived code now
    ended=$(date -r "$SECOND_ENDED" +%s%3N)
    lived=$((ended - $(date -r "$SECOND_STARTED" +%s%3N)))
    e2e_log "the second copy ran for $lived ms as cmd saw it ($((ended - SECOND_LAUNCHED)) ms from launching explorer)"
    check "the second copy ended within 2 s ($lived ms)" "the second copy ran for $lived ms (at most 2000)" \
        test "$lived" -le 2000
    code=$(tr -d '\r\n ' <"$SECOND_ENDED")
    check "its exit code is 0" "its exit code is '$code', not 0" test "$code" = 0
    now=$(program_pids | paste -sd ' ')
    check "the first copy runs on, and no other" "copies running: ${now:-none}, expected only $first" test "$now" = "$first"

    if ! wait_until 10 find_balloon "$before_windows"; then
        save_screenshot e2e_second_start_balloon.png
        fail "no balloon window appeared within 10 s of the second start"
        return 1
    fi
    pass "a balloon appeared (${BALLOON_W}x$BALLOON_H at $BALLOON_X,$BALLOON_Y) $(($(now_ms) - SECOND_LAUNCHED)) ms after the second start"
    region_still 3 "$BALLOON_X" "$BALLOON_Y" "$BALLOON_W" "$BALLOON_H"
    save_screenshot e2e_second_start_balloon.png
    save_screenshot e2e_second_start_balloon_zoom.png "$BALLOON_X" "$BALLOON_Y" "$BALLOON_W" "$BALLOON_H" 2

    # It stands on the taskbar, its picture replaced the desktop there, with
    # text on it, and its stem's tip (its lowest changed pixels) is at an icon.
    local bottom=$((BALLOON_Y + BALLOON_H)) area=$((BALLOON_W * BALLOON_H)) changed dark tip_x nearest="" letter
    check "the balloon stands on the taskbar" "the balloon's bottom is at y=$bottom, the taskbar's top at y=$E2E_TASKBAR_Y" \
        in_range "$bottom" $((E2E_TASKBAR_Y - 20)) $((E2E_TASKBAR_Y + 2))
    convert "$before_shot" -crop "${BALLOON_W}x${BALLOON_H}+${BALLOON_X}+${BALLOON_Y}" +repage "$E2E_WORK/balloon-before.png"
    grab_region "$E2E_WORK/balloon.png" "$BALLOON_X" "$BALLOON_Y" "$BALLOON_W" "$BALLOON_H" || return 1
    changed=$(pixels_differing "$E2E_WORK/balloon-before.png" "$E2E_WORK/balloon.png")
    check "the screen shows the balloon ($changed of $area pixels changed)" \
        "only $changed of $area pixels changed where the balloon is" test $((changed * 2)) -gt "$area"
    dark=$(dark_pixels "$E2E_WORK/balloon.png")
    check "the balloon has text on it ($dark dark pixels)" "the balloon shows next to no text ($dark dark pixels)" \
        test "$dark" -ge 300
    tip_x=$(changed_pixels "$E2E_WORK/balloon-before.png" "$E2E_WORK/balloon.png" | awk -v x0="$BALLOON_X" '
        BEGIN { low = -1 }
        $2 > low { low = $2; sum = 0; n = 0 }
        $2 == low { sum += $1; n++ }
        END { if (n) print x0 + int(sum / n) }')
    for letter in "${E2E_DRIVES[@]}"; do
        [ -n "$tip_x" ] && in_range $((tip_x - E2E_ICON_X[$letter])) -8 8 && nearest=$letter
    done
    check "the balloon points at $nearest:'s icon (tip at x=$tip_x)" "the balloon's tip (x=${tip_x:-none}) is at none of the icons" \
        test -n "$nearest"
    check "the notification area still shows ${#E2E_DRIVES[@]} icons" \
        "the notification area now shows: ${E2E_ICONS_FOUND:-no icons}" wait_until 5 tray_icons_settled "${#E2E_DRIVES[@]}"
}

# --- groups ------------------------------------------------------------------

# Desktops named after this script's process: hot keys and FindWindow stay
# within one desktop, and a run beside ours in the same prefix gets its own.
# start_group DESKTOP SETTING-LINES...: fresh drives and settings, then the
# program.
start_group() {
    local desktop=$1
    shift
    initial_drives
    write_settings '[g_propMain]' 'nDefaultDisk=68' "$@"
    start_program "$desktop"
}

group_menu() {
    start_group e2emenu '[dpDiskProp3]' 'bAutoCloseIn=0' || return 1
    save_screenshot e2e_tray_icons_zoom.png $((E2E_TASKBAR_X + E2E_TASKBAR_W - 80)) "$E2E_TASKBAR_Y" 80 \
        "$E2E_TASKBAR_H" 4
    run_scenario menu_opens_on_right_click
    run_scenario open_tray_from_menu_with_keyboard
    run_scenario double_click_closes_open_tray
}

group_autoclose() {
    start_group e2eclose '[dpDiskProp3]' 'bAutoCloseIn=1' 'uAutoCloseSeconds=3' 'bShowTime=1' || return 1
    run_scenario countdown_closes_tray
}

group_hotkeys() {
    # Modifiers 3 are MOD_ALT | MOD_CONTROL; the keys are the letters' codes:
    # 79 O, 76 L, 83 S for the default drive, 69 E, 82 R for E:.
    start_group "e2ekeys$$" 'hkDefDiskEject.fsModifiers=3' 'hkDefDiskEject.vk=79' \
        'hkDefDiskClose.fsModifiers=3' 'hkDefDiskClose.vk=76' 'hkDefDiskSelect.fsModifiers=3' 'hkDefDiskSelect.vk=83' \
        '[dpDiskProp4]' 'hkEject.fsModifiers=3' 'hkEject.vk=69' 'hkClose.fsModifiers=3' 'hkClose.vk=82' || return 1
    park_pointer
    run_scenario drive_hot_keys_open_and_close_their_drive
    run_scenario default_drive_hot_keys_act_on_the_default_drive
    run_scenario select_hot_key_moves_the_default_drive
}

group_secondstart() {
    start_group "e2esecond$$" || return 1
    run_scenario second_start_shows_balloon
}

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(menu autoclose hotkeys secondstart)
for group in "${groups[@]}"; do
    declare -F "group_$group" >/dev/null || { fail "no such group: $group"; continue; }
    e2e_log "=== $group"
    "group_$group"
    stop_program
done
e2e_finish
