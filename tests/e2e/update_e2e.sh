#!/bin/bash
# End-to-end test of the update check: sbay_sim.exe asks a loopback python3 http.server
# (SBAY_SIM_UPDATE_SITE) offering a newer version; Yes opens the download page, a journaled shell launch.
# usage: update_e2e.sh SIM_DIR SCREENSHOT_DIR   (needs DISPLAY, see tray_e2e.sh)
. "$(dirname "$0")/e2e_lib.sh"
e2e_setup "$@" '[ -n "${SERVER_PID:-}" ] && kill "$SERVER_PID"; e2e_cleanup'

# A version file far newer than any build; its marker line finds any copy left in the prefix.
MARKER="; served by $E2E_RUN_ID"
mkdir -p "$E2E_WORK/site/download"
printf '%s\r\n[ver]\r\nmajor=99\r\nminor=1\r\nrelease=2\r\nbuild=3\r\n' "$MARKER" >"$E2E_WORK/site/download/sbay.inf"
python3 -m http.server 0 --bind 127.0.0.1 --directory "$E2E_WORK/site" >"$E2E_WORK/server.log" 2>&1 &
SERVER_PID=$!
server_port() { PORT=$(grep -o 'port [0-9]*' "$E2E_WORK/server.log" | head -n 1 | cut -d' ' -f2); [ -n "$PORT" ]; }
wait_until 10 server_port || { fail "the loopback server did not start"; exit 1; }
export SBAY_SIM_UPDATE_SITE="http://127.0.0.1:$PORT"
PAGE_LINE="shell open \"$SBAY_SIM_UPDATE_SITE/html/sbay_download.html\" \"\" \"\""

update_offer_opens_download_page() {
    local mark left
    mark=$(journal_mark)
    open_tray_menu D && settle_menu && menu_keys h d || return 1   # Help, then its Check for up&dates
    check "the update box showed" wait_until 15 find_window BOX 1 1 --name '^Spindlebay update check$' || return 1
    region_still 3 "$BOX_X" "$BOX_Y" "$BOX_W" "$BOX_H" && save_screenshot e2e_update_box.png
    window_keys "$BOX_WINDOW" 0 y
    # The seam answers "-> ok" or "-> fail" after the launch's own words.
    check "Yes opened the download page: '$PAGE_LINE'" wait_until 5 journal_has "$mark" "$PAGE_LINE -> "
    left=$(grep -rlF -- "$MARKER" "$WINEPREFIX/drive_c/users" "$E2E_APPDATA" 2>/dev/null)
    check "no copy of the version file is left in the prefix" is "$left" ""
}

E2E_DRIVES=(D)
write_sim_drives '[D]' tray=closed medium=data label=E2E_DATA size=700000000
write_settings '[g_propMain]' 'nDefaultDisk=68' 'nLanguage=0'
start_program "e2eupdate$$" || exit 1
run_scenario update_offer_opens_download_page
e2e_finish
