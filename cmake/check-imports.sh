#!/bin/sh
# Fails when a Windows program imports a DLL that does not come with Windows itself.
# Usage: check-imports.sh <objdump> <program.exe>
set -eu
allowed='^(kernel32|user32|gdi32|advapi32|comctl32|shell32|msvcrt|ntdll|ole32|uxtheme|psapi)\.dll$'
dlls=$("$1" -p "$2" | awk '/DLL Name:/ {print tolower($3)}')
echo "$dlls"
bad=$(echo "$dlls" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "not a Windows DLL: $bad" >&2
  exit 1
fi
