#!/bin/sh
# Fails unless a Windows program imports exactly the functions listed (one "dll function version
# source" a line; # starts a comment), each listed at Windows 5.1 (XP) or older, and unless its
# header asks for Windows 5.01, so that older systems refuse it plainly (the fields checked can be
# named: NSIS's stub leaves its OS version at 4.0 and sets only the subsystem's, which the loader reads).
# Usage: check-imports.sh <objdump> <program.exe> <import list> [header fields]
set -eu
dump=$("$1" -p "$2")
echo "$dump" | awk '/DLL Name:/ {dll = tolower($3)}
                    /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}' | sort >"$2.imports"
grep -v '^#' "$3" | awk 'NF {print $1, $2}' | sort | diff -u - "$2.imports" ||
  { echo "imports differ from $3 (+: imported but not listed)" >&2; exit 1; }
too_new=$(grep -v '^#' "$3" | awk 'NF && $3 + 0 > 5.1')
[ -z "$too_new" ] || { echo "newer than Windows XP: $too_new" >&2; exit 1; }
for field in ${4:-OSystemVersion SubsystemVersion}; do
  echo "$dump" | grep -Eq "^Major$field\s+5$" && echo "$dump" | grep -Eq "^Minor$field\s+1$" ||
    { echo "the header's $field is not 5.01" >&2; exit 1; }
done
echo "$(wc -l <"$2.imports") imports, all in $3; header 5.01"
