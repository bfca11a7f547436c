#!/bin/bash
# End-to-end tests of the tray icons: sbay_sim.exe runs in a Wine virtual
# desktop and the tests act as a person does (rest the pointer on an icon,
# right-click it and pick from its menu, watch the auto-close countdown,
# double-click it, press hot keys, start the program twice), then check the
# simulated drives' journal, the windows and the screen.
#
# usage: tray_e2e.sh SIM_DIR SCREENSHOT_DIR
# Needs DISPLAY and a prepared Wine prefix (WINEPREFIX, or the build's own
# beside SIM_DIR). By hand, from the repository:
#   xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/tray_e2e.sh build/mingw/sim build/mingw/screenshots
set -u -o pipefail

[ $# -ge 2 ] || { echo "usage: $0 SIM_DIR SCREENSHOT_DIR" >&2; exit 2; }
E2E_SIM_DIR=$(cd "$1" && pwd) || exit 2
mkdir -p "$2" && E2E_SHOT_DIR=$(cd "$2" && pwd) || exit 2
. "$(dirname "$0")/e2e_lib.sh"
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM
e2e_setup || exit 1

# D: a data disc, E: an audio CD; D:'s tray can be pulled out by hand (the
# program reads the file again when it changes).
E2E_DRIVES=(D E)
d_tray() {
    write_sim_drives '[D]' "tray=$1" 'medium=data' 'label=E2E_DATA' 'size=700000000' \
        '' '[E]' 'tray=closed' 'medium=audio' 'tracks=9'
}
EJECT_D='D: IOCTL_STORAGE_EJECT_MEDIA -> ok' LOAD_D='D: IOCTL_STORAGE_LOAD_MEDIA -> ok'
EJECT_E='E: IOCTL_STORAGE_EJECT_MEDIA -> ok' LOAD_E='E: IOCTL_STORAGE_LOAD_MEDIA -> ok'

in_range() { (($1 >= $2 && $1 <= $3)); }
# Every drive's eject and load requests after journal mark $1.
tray_requests() { journal_since "$1" | grep -E '^[A-Z]: IOCTL_STORAGE_(EJECT|LOAD)_MEDIA ' | paste -sd ';'; }
# expect_request MARK LINE WHAT: LINE follows MARK within 5 s and is, half a
# second later, the only request there (one to a wrong drive would come from
# the same action).
expect_request() {
    wait_until 5 journal_has "$1" "$2" && sleep 0.5
    check "$3: the journal shows '$2' and no other eject or load" \
        "$3: expected only '$2', the journal shows '$(tray_requests "$1")'" test "$(tray_requests "$1")" = "$2"
}
# find_popup MIN-H: sets POPUP_X/Y/W/H to an unnamed explorer window on the
# screen at least MIN-H high, narrower than the desktop: a tip or a balloon.
find_popup() {
    local hex
    for hex in $(xwininfo -children -id "$E2E_DESKTOP_WINDOW" 2>/dev/null | awk '/\(has no name\): \("explorer\.exe"/ {print $1}'); do
        xwininfo -id "$hex" 2>/dev/null | grep -q 'Map State: IsViewable' && window_geometry "$hex" &&
            ((WIN_H >= $1 && WIN_W < E2E_DESKTOP_W)) && POPUP_X=$WIN_X POPUP_Y=$WIN_Y POPUP_W=$WIN_W POPUP_H=$WIN_H && return 0
    done
    return 1
}
grab_popup() { grab_region "$1" "$POPUP_X" "$POPUP_Y" "$POPUP_W" "$POPUP_H"; }

# Resting the pointer on a drive's icon shows its tip, with text, above the
# icon; E:'s (an audio CD) reads differently from D:'s (a data disc's label).
tip_shows_over_the_icon() {
    local letter x0 x1
    for letter in D E; do
        park_pointer
        wait_until 5 eval '! find_popup 24' || { fail "a tip stays up with the pointer off the icons"; return 1; }
        xdotool mousemove "${E2E_ICON_X[$letter]}" "${E2E_ICON_Y[$letter]}"
        wait_until 5 find_popup 24 || { fail "no tip within 5 s of resting the pointer on $letter:'s icon"; return 1; }
        region_still 2 "$POPUP_X" "$POPUP_Y" "$POPUP_W" "$POPUP_H" && grab_popup "$E2E_WORK/tip-$letter.png"
        check "$letter:'s tip (${POPUP_W}x$POPUP_H) stands above its icon, with $(dark_pixels "$E2E_WORK/tip-$letter.png") dark pixels" \
            "$letter:'s tip (${POPUP_W}x$POPUP_H at $POPUP_X,$POPUP_Y) is not above its icon or has no text" eval \
            'in_range $((E2E_ICON_X[$letter] - POPUP_X)) 0 $POPUP_W && in_range $((E2E_TASKBAR_Y - POPUP_Y - POPUP_H)) -2 30 &&
             (($(dark_pixels "$E2E_WORK/tip-$letter.png") >= 150))'
        [ "$letter" = D ] || continue
        x0=$((POPUP_X < E2E_ICON_X[D] - 12 ? POPUP_X - 4 : E2E_ICON_X[D] - 16))
        x1=$((POPUP_X + POPUP_W > E2E_ICON_X[D] + 12 ? POPUP_X + POPUP_W + 4 : E2E_ICON_X[D] + 16))
        save_screenshot e2e_tray_tip.png "$x0" $((POPUP_Y - 4)) $((x1 - x0)) $((E2E_ICON_Y[D] + 14 - POPUP_Y)) 2
    done
    check "E:'s tip reads differently from D:'s" "E:'s tip looks like D:'s" \
        test "$(pixels_differing "$E2E_WORK/tip-D.png" "$E2E_WORK/tip-E.png" 2>/dev/null || echo 0)" != 0
    park_pointer
}

# Right-clicking D:'s icon shows the tray menu, with its pictures, next to the
# icon; Escape closes it.
menu_opens_on_right_click() {
    local before="$E2E_WORK/before-menu.png" area="$E2E_WORK/menu.png" changed total coloured dx dy
    import -window root "$before" 2>/dev/null || return 1
    open_tray_menu D || { fail "no menu appeared after right-clicking D:'s icon"; return 1; }
    settle_menu
    # The menu opens with its bottom right corner at the pointer.
    dx=$((E2E_ICON_X[D] - MENU_X - MENU_W)) dy=$((E2E_ICON_Y[D] - MENU_Y - MENU_H)) total=$((MENU_W * MENU_H))
    check "the menu (${MENU_W}x$MENU_H) opened at the icon" "the menu's corner is $dx,$dy pixels away from the icon" \
        eval 'in_range $dx -29 29 && in_range $dy -29 29'
    grab_region "$area" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H" || return 1
    convert "$before" -crop "${MENU_W}x${MENU_H}+${MENU_X}+${MENU_Y}" +repage "$E2E_WORK/before-area.png"
    changed=$(pixels_differing "$E2E_WORK/before-area.png" "$area")
    check "the screen shows the menu ($changed of $total pixels changed)" \
        "only $changed of $total pixels changed where the menu should be" test $((changed * 2)) -gt "$total"
    # Items' pictures are the only coloured things in a plain menu (the desktop
    # behind it is coloured all over).
    coloured=$(count_pixels "$area" 'saturation > 0.35')
    check "the menu shows item pictures ($coloured coloured pixels)" \
        "the menu has $coloured coloured pixels of $total: no pictures, or no menu" in_range "$coloured" 100 $((total / 5))
    save_screenshot e2e_tray_menu.png
    menu_keys Escape
    check "Escape closed the menu" "the menu stayed after Escape" wait_until 3 menu_gone
}

find_countdown() { COUNTDOWN=$(search_in_desktop --name '^Closing in [0-9]+ s \(drive D:\)$' | head -n 1) && [ -n "$COUNTDOWN" ]; }

# Open tray, chosen with the arrow keys and Return, ejects D: alone. D: closes
# by itself after 3 s: the countdown's title counts down, then the tray
# closes and the countdown goes away.
open_tray_from_menu_counts_down() {
    local mark start title last="" numbers=() shot=0 closed_at=0 gone_at=0 deadline i ordered
    open_tray_menu D || { fail "no menu appeared after right-clicking D:'s icon"; return 1; }
    settle_menu
    grab_region "$E2E_WORK/keys-before.png" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    # The first Down lands on the header (greyed, but Wine still selects it),
    # the second on Open tray.
    menu_keys Down Down
    sleep 0.3
    grab_region "$E2E_WORK/keys-after.png" "$MENU_X" "$MENU_Y" "$MENU_W" "$MENU_H"
    check "the arrow keys move the selection in the menu" "the menu did not react to the arrow keys" \
        test "$(pixels_differing "$E2E_WORK/keys-before.png" "$E2E_WORK/keys-after.png")" -gt 0
    mark=$(journal_mark) start=$(now_ms)
    menu_keys Return
    expect_request "$mark" "$EJECT_D" "Open tray" || return 1
    check "the menu closed" "the menu stayed open after Return" wait_until 3 menu_gone
    wait_until 3 find_countdown || { fail "no window titled like 'Closing in N s (drive D:)' within 3 s"; return 1; }
    # Until the tray is closed and the window gone (at most 10 s), keep every
    # value the title shows.
    deadline=$(($(now_ms) + 10000))
    while (($(now_ms) < deadline && (closed_at == 0 || gone_at == 0))); do
        if find_countdown; then
            title=$(xdotool getwindowname "$COUNTDOWN" 2>/dev/null)
            [[ $title =~ ^Closing\ in\ ([0-9]+)\ s ]] && [ "$last" != "${BASH_REMATCH[1]}" ] &&
                last=${BASH_REMATCH[1]} && numbers+=("$last") && e2e_log "countdown title: '$title'"
            ((shot)) || { save_screenshot e2e_countdown_dialog.png; shot=1; }
        elif ((gone_at == 0)); then
            gone_at=$(now_ms)
        fi
        ((closed_at == 0)) && journal_has "$mark" "$LOAD_D" && closed_at=$(now_ms)
        sleep 0.2
    done
    # At least two values, each below the one before, the first at most 3.
    ordered=$((${#numbers[@]} >= 2 && ${numbers[0]:-9} <= 3))
    for ((i = 1; i < ${#numbers[@]}; i++)); do ((numbers[i] < numbers[i - 1])) || ordered=0; done
    check "the countdown's title counted down from at most 3: ${numbers[*]}" \
        "the countdown's title did not count down from 3 (seen: ${numbers[*]:-nothing})" test "$ordered" = 1
    check "the tray closed by itself after $((closed_at - start)) ms: '$LOAD_D'" \
        "no '$LOAD_D' 2 to 7 s after Open tray (at ${closed_at}, Return at $start)" in_range $((closed_at - start)) 2000 7000
    check "the countdown window went away" "the countdown window is still there after the tray closed" \
        eval '((closed_at > 0 && gone_at > 0 && gone_at - closed_at <= 2000))'
}

# Double-clicking D:'s icon while its tray is out (pulled by hand) closes it.
double_click_closes_open_tray() {
    local closed_icon mark
    closed_icon=$(start_icon D)
    d_tray closed
    wait_until 5 icon_matches D "$closed_icon" || { fail "D:'s icon does not show the closed tray"; return 1; }
    d_tray open
    check "D:'s icon changed when its tray was pulled out by hand" "D:'s icon did not change within 5 s of pulling its tray out" \
        wait_until 5 eval '! icon_matches D "$closed_icon"' || return 1
    mark=$(journal_mark)
    xdotool mousemove "${E2E_ICON_X[D]}" "${E2E_ICON_Y[D]}" click --repeat 2 --delay 100 1
    expect_request "$mark" "$LOAD_D" "double-click"
    check "D:'s icon shows the closed tray again" "D:'s icon did not return to its closed-tray picture within 5 s" \
        wait_until 5 icon_matches D "$closed_icon"
    park_pointer
}

# press_hot_keys KEYS LINE [KEYS LINE...]: each KEYS, typed with the focus on
# the desktop, brings LINE and no other request.
press_hot_keys() {
    local mark
    for ((; $# >= 2; )); do
        focus_desktop
        mark=$(journal_mark)
        xdotool key "$1"
        expect_request "$mark" "$2" "$1" || return 1
        shift 2
    done
}
# The default drive's icon carries a red star in its top right quarter (an
# open tray's red cross sits in the bottom right one).
has_star() {
    grab_region "$E2E_WORK/star.png" "${E2E_ICON_X[$1]}" $((E2E_ICON_Y[$1] - 8)) 8 8 &&
        (($(count_pixels "$E2E_WORK/star.png" 'r >= 150/255 && g <= 100/255 && b <= 100/255') >= 8))
}
star_only_on() { has_star "$1" && ! has_star "$2"; }
icons_as_at_start() { icon_matches D "$(start_icon D)" && icon_matches E "$(start_icon E)"; }

# E:'s own hot keys and the default drive's act on their drive only. The
# select key makes the next drive, E:, the default: the star moves to E:'s
# icon and the default drive's keys act on E:; once more and it wraps to D:.
hot_keys_act_on_their_drive() {
    press_hot_keys ctrl+alt+e "$EJECT_E" ctrl+alt+r "$LOAD_E" ctrl+alt+o "$EJECT_D" ctrl+alt+l "$LOAD_D" || return 1
    # A drive whose tray was just closed shows an hourglass for a moment.
    check "the star is on D:'s icon only, the default drive's" "D:'s icon, and only it, should carry the star" \
        wait_until 5 star_only_on D E || return 1
    focus_desktop
    xdotool key ctrl+alt+s
    check "ctrl+alt+s: the star moved to E:'s icon" "ctrl+alt+s: the star is not on E:'s icon alone within 5 s" \
        wait_until 5 star_only_on E D || return 1
    press_hot_keys ctrl+alt+o "$EJECT_E" ctrl+alt+l "$LOAD_E" || return 1
    focus_desktop
    xdotool key ctrl+alt+s
    check "ctrl+alt+s again: the star is back on D:, both icons look as at the start" \
        "ctrl+alt+s again: the icons did not return to their start pictures within 5 s" wait_until 5 icons_as_at_start
}

# This run's copies of the program: Wine shows each as its Windows path alone
# (the working folder has no blanks).
program_pids() {
    local pid words
    for pid in $(wine_pids ours); do
        read -r -a words < <(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)
        ((${#words[@]} == 1)) && [[ ${words[0]} == *"\\$E2E_PROGRAM" ]] && echo "$pid"
    done
}

# Starting the program while it runs: the new copy ends at once with exit
# code 0, the first runs on alone and shows a balloon pointing at its icon.
second_start_shows_balloon() {
    local first now code lived changed dark area tip_x letter nearest="" batch="$E2E_WORK/second.bat"
    local started="$E2E_WORK/second-started.txt" ended="$E2E_WORK/second-ended.txt" before="$E2E_WORK/before-second.png"
    first=$(program_pids)
    [ "$(wc -w <<<"$first")" = 1 ] || { fail "expected one running copy before the second start, found: ${first:-none}"; return 1; }
    park_pointer
    import -window root "$before" 2>/dev/null || return 1
    # cmd notes when it runs the copy and, once it has ended, its exit code
    # (the blank before ">" keeps cmd from reading "0>" as a handle).
    printf '@echo off\r\nset "APPDATA=%s"\r\necho started>"%s"\r\n"%s"\r\necho %%ERRORLEVEL%% >"%s"\r\n' "$(windows_path "$E2E_APPDATA")" \
        "$(windows_path "$started")" "$(windows_path "$E2E_RUN_DIR/$E2E_PROGRAM")" "$(windows_path "$ended")" >"$batch"
    SBAY_E2E_RUN=$E2E_RUN_ID wine explorer "/desktop=$E2E_DESKTOP,$E2E_DESKTOP_SIZE" cmd /c "$(windows_path "$batch")" \
        >>"$E2E_WORK/wine.log" 2>&1 &
    disown $!   # it ends once cmd has; stop_program ends what is left
    wait_until 20 test -s "$ended" || { fail "the second copy did not end within 20 s"; return 1; }
    lived=$(($(date -r "$ended" +%s%3N) - $(date -r "$started" +%s%3N))) code=$(tr -d '\r\n ' <"$ended")
    check "the second copy ended within 2 s ($lived ms)" "the second copy ran for $lived ms (at most 2000)" test "$lived" -le 2000
    check "its exit code is 0" "its exit code is '$code', not 0" test "$code" = 0
    now=$(program_pids | paste -sd ' ')
    check "the first copy runs on, and no other" "copies running: ${now:-none}, expected only $first" test "$now" = "$first"
    wait_until 10 find_popup 40 || { fail "no balloon appeared within 10 s of the second start"; return 1; }
    region_still 3 "$POPUP_X" "$POPUP_Y" "$POPUP_W" "$POPUP_H"
    save_screenshot e2e_second_start_balloon.png
    # Its picture replaced the desktop's, with text on it, and its stem's tip
    # (its lowest changed pixels) is at an icon.
    convert "$before" -crop "${POPUP_W}x${POPUP_H}+${POPUP_X}+${POPUP_Y}" +repage "$E2E_WORK/balloon-before.png"
    grab_popup "$E2E_WORK/balloon.png" || return 1
    changed=$(pixels_differing "$E2E_WORK/balloon-before.png" "$E2E_WORK/balloon.png")
    dark=$(dark_pixels "$E2E_WORK/balloon.png") area=$((POPUP_W * POPUP_H))
    check "a balloon with text shows ($changed of $area pixels changed, $dark dark)" \
        "where the balloon is $changed of $area pixels changed, $dark dark: no balloon, or no text" \
        eval '((changed * 2 > area && dark >= 300))'
    tip_x=$(compare "$E2E_WORK/balloon-before.png" "$E2E_WORK/balloon.png" -compose src -highlight-color white \
        -lowlight-color black -alpha off -depth 8 txt:- 2>/dev/null | awk -v x0="$POPUP_X" 'NR > 1 && $3 ~ /^#FFFFFF/ {
            split($1, p, /[,:]/); if (p[2] > low) { low = p[2]; sum = n = 0 } if (p[2] == low) { sum += p[1]; n++ } }
            END { if (n) print x0 + int(sum / n) }')
    for letter in "${E2E_DRIVES[@]}"; do in_range $((${tip_x:-0} - E2E_ICON_X[$letter])) -8 8 && nearest=$letter; done
    check "the balloon points at $nearest:'s icon (tip at x=$tip_x)" "the balloon's tip (x=${tip_x:-none}) is at none of the icons" \
        test -n "$nearest"
}

# Auto-close for D: after 3 s with the countdown shown. Hot keys, all with
# Ctrl+Alt (modifiers 3): E (69) and R (82) open and close E:, O (79) and
# L (76) the default drive, S (83) selects the next default drive.
d_tray closed
write_settings '[g_propMain]' 'nDefaultDisk=68' 'hkDefDiskEject.fsModifiers=3' 'hkDefDiskEject.vk=79' \
    'hkDefDiskClose.fsModifiers=3' 'hkDefDiskClose.vk=76' 'hkDefDiskSelect.fsModifiers=3' 'hkDefDiskSelect.vk=83' \
    '[dpDiskProp3]' 'bAutoCloseIn=1' 'uAutoCloseSeconds=3' 'bShowTime=1' \
    '[dpDiskProp4]' 'hkEject.fsModifiers=3' 'hkEject.vk=69' 'hkClose.fsModifiers=3' 'hkClose.vk=82'
# A desktop named after this process: hot keys and FindWindow stay within one
# desktop, and a run beside ours in the same prefix gets its own.
start_program "e2etray$$" || exit 1
save_screenshot e2e_tray_icons_zoom.png $((E2E_TASKBAR_X + E2E_TASKBAR_W - 80)) "$E2E_TASKBAR_Y" 80 "$E2E_TASKBAR_H" 4
for scenario in tip_shows_over_the_icon menu_opens_on_right_click open_tray_from_menu_counts_down \
    double_click_closes_open_tray hot_keys_act_on_their_drive second_start_shows_balloon; do
    run_scenario "$scenario"
done
stop_program
e2e_finish
