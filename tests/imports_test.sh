#!/bin/sh
# sbay.exe imports only libraries that Windows always has at hand; the rarely
# used system libraries are loaded from the system folder when first needed,
# so a file of the same name beside the program is never taken for them. The
# common controls, the shell, COM and shlwapi are imported late, so that a
# second start, which only hands over to the running copy, never loads them.
# usage: imports_test.sh OBJDUMP EXE
names=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$names" ] || { echo "FAIL - no imports could be read from $2"; exit 1; }
echo "imports:" $names
loaded=$(echo "$names" | grep -ixE '(urlmon|winmm|version|wininet)\.dll')
[ -z "$loaded" ] || { echo "FAIL - imported instead of loaded on first use:" $loaded; exit 1; }
early=$(echo "$names" | grep -ixE '(comctl32|shell32|ole32|oleaut32|shlwapi)\.dll')
[ -z "$early" ] || { echo "FAIL - loaded at every start instead of when first used:" $early; exit 1; }
echo "OK"
