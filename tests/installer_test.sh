#!/bin/bash
# The release's installer as a user meets it, in a Wine prefix of its own: silent install, an install through
# its pages whose last page starts the program, installing over the running program, upgrading and removing our
# running service, silent uninstall. 77: no makensis.
# usage: installer_test.sh BUILD_DIR VERSION   (under xvfb-run: the program needs a tray)
. "$(dirname "$0")/e2e/e2e_lib.sh"
build=$(cd "$1" && pwd) version=$2 src=$(cd "$(dirname "$0")/.." && pwd)
command -v makensis >/dev/null || { echo "SKIPPED: makensis is missing (Debian package nsis)"; exit 77; }
cmake --build "$build" --target package >"$build/installer-package.log" 2>&1 ||
    { cat "$build/installer-package.log"; echo "FAIL - the package target"; exit 1; }
# The same sources as a newer version, to upgrade to: only what the installer holds is built.
newer=$(echo "$version" | awk -F. -v OFS=. '{ $NF = $NF + 1; print }') upgrade="$build/installer-upgrade"
{ cmake -S "$src" -B "$upgrade" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPINDLEBAY_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")" \
    -DSPINDLEBAY_VERSION_OVERRIDE="$newer" && cmake --build "$upgrade" --target sbay sbay_6_eng sbay_6_rus &&
    (cd "$upgrade" && cpack -G NSIS); } >"$build/installer-upgrade.log" 2>&1 ||
    { cat "$build/installer-upgrade.log"; echo "FAIL - the newer version's installer"; exit 1; }

export WINEPREFIX="$build/installer-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX" && "$(dirname "$0")/../scripts/prepare-wine-prefix.sh" "$WINEPREFIX" >/dev/null || exit 1
trap 'wineserver -k 2>/dev/null' EXIT

# Silent NSIS uninstallers run on from a copy in %TEMP%: both wait for the prefix's every process.
install() { wine "$build/Spindlebay-$version-win64-setup.exe" "$@" && timeout 60 wineserver -w; }
remove() { wine "$dir/uninstall.exe" "$@" && timeout 60 wineserver -w; }
main_window_within() { wine "$build/tests/wait_window.exe" 76FD48D7-7A5A-444D-8741-8C116CB079A2 "$1"; }
exe='C:\Program Files\Spindlebay\sbay.exe'

dir="$WINEPREFIX/drive_c/Program Files/Spindlebay"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Spindlebay.lnk"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Spindlebay'
run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
service='HKLM\SYSTEM\CurrentControlSet\Services\sbay_svc'
settings="$(winepath -u "$(wine cmd /c echo %APPDATA% | tr -d '\r')")/sbay/sbay.ini"
entry() { for name in DisplayName Publisher DisplayVersion UninstallString; do reg_value "$uninstall" $name; done; }

# --- a silent install, starting with Windows --------------------------------
check "silent install succeeds" install /S /AUTOSTART
check "the five files and the uninstaller are in Program Files\\Spindlebay" \
    is "$(ls "$dir" | paste -sd' ')" "diskinside.wav readme.txt sbay.exe sbay_6_eng.dll sbay_6_rus.dll uninstall.exe"
check "the installed exe is this build's" cmp -s "$dir/sbay.exe" "$build/dist/sbay.exe"
check "installed programs: name, publisher, version, uninstaller" \
    is "$(entry | paste -sd'|')" "Spindlebay|Spindlebay|$version|\"C:\\Program Files\\Spindlebay\\uninstall.exe\""
size=$(($(reg_value "$uninstall" EstimatedSize)))
check "installed programs: size in KB ($size)" [ "$size" -ge 250 -a "$size" -le 2000 ]
check "the Start-menu shortcut" [ -s "$shortcut" ]
check "/AUTOSTART writes the quoted Run value" is "$(reg_value "$run" sbay)" "\"$exe\""

# --- the installer as a person runs it, over the first: Enter on every page; its last page starts the program ---
# through the signed-in user's shell (that the program then lacks the installer's elevation Wine cannot show: it
# has none). Wine's desktop view offers no IShellFolderViewDual, so under Wine the shell is reached through a new
# explorer.exe, the way cmake/open_as_user.nsh takes when the first is closed.
wine "$build/Spindlebay-$version-win64-setup.exe" & setup=$!
for tick in $(seq 20); do
    sleep 2
    kill -0 $setup 2>/dev/null || break
    window=$(xdotool search --name "^Spindlebay $version Setup" | tail -1)
    # Sent to the installer's window itself: other tests' windows may hold the focus meanwhile.
    [ -n "$window" ] && xdotool key --window "$window" Return 2>/dev/null
done
kill $setup 2>/dev/null && echo "     the installer's window did not go through its pages"
check "the installer's last page starts the installed sbay.exe" main_window_within 30
mkdir -p "${settings%/*}" && printf '[General]\r\nLanguage=rus\r\n' >"$settings"
cp "$settings" "$build/installer-settings.ini"
check "installing over the running program succeeds" install /S
check "... after ending the running program" not main_window_within 0
check "... and keeps the user's settings" cmp -s "$settings" "$build/installer-settings.ini"
check "... and keeps start with Windows" is "$(reg_value "$run" sbay)" "\"$exe\""

# --- our service from the installed copy: an upgrade stops and restarts it, an uninstall removes it ---
# Not interactive: as on Windows, where the service's window is in session 0, looking for the program's
# window cannot reach it. Wine ends the services when the prefix's last other process ends: one that waits
# in vain keeps them.
wine "$build/tests/wait_window.exe" no-such-window 300 & holder=$!
service_is() { [ "$(wine sc query sbay_svc | tr -d '\r' | awk '$1 == "STATE" { print $4 }')" = "$1" ]; }
wine sc create sbay_svc binpath= "\"$exe\"" start= auto >/dev/null && wine sc start sbay_svc >/dev/null
check "the service runs from the installed copy" wait_until 30 service_is RUNNING
# With the service running wineserver -w never returns: the installer is waited for itself, the
# uninstaller (which runs on from a copy) by what it leaves.
check "a silent install of version $newer over the running service succeeds" wine "$upgrade/Spindlebay-$newer-win64-setup.exe" /S
check "... the installed exe is the new version's" cmp -s "$dir/sbay.exe" "$upgrade/dist/sbay.exe"
check "... and so is the uninstall entry" is "$(reg_value "$uninstall" DisplayVersion)" "$newer"
check "... and the service runs again" wait_until 30 service_is RUNNING
wine sc stop sbay_svc >/dev/null
check "sc stop stops it" wait_until 30 service_is STOPPED
wine sc start sbay_svc >/dev/null && wait_until 30 service_is RUNNING
check "a silent uninstall with the service running succeeds" wine "$dir/uninstall.exe" /S
wait_until 60 eval '[ ! -e "$dir" ] && not reg_value "$uninstall" DisplayName'
check "no program file and no Start-menu shortcut is left" [ ! -e "$dir" -a ! -e "$shortcut" ]
check "no uninstall entry, Run value or service is left" \
    eval 'not reg_value "$uninstall" DisplayName && not reg_value "$run" sbay && not reg_value "$service" ImagePath'
check "the settings file survives" cmp -s "$settings" "$build/installer-settings.ini"
kill $holder && timeout 60 wineserver -w

# --- with the program running: it ends, another copy's start-up stays; asked, the settings go ---
install /S
other='C:\Tools\Spindlebay\sbay.exe'
wine reg add "$run" /v sbay /d "\"$other\"" /f >/dev/null
wine sc create sbay_svc binpath= "$other" >/dev/null
wine "$exe" >/dev/null 2>&1 &
main_window_within 30 || echo "     the program did not start"
remove /S /REMOVESETTINGS
check "the uninstaller ended the running program" not main_window_within 0
check "/REMOVESETTINGS deletes the settings folder" [ ! -e "${settings%/*}" ]
check "another copy's Run value and service stay" \
    is "$(reg_value "$run" sbay)|$(reg_value "$service" ImagePath)" "\"$other\"|$other"

e2e_finish
