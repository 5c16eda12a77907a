#!/usr/bin/env bash
# Vokram.exe is one statically linked file: it may import system DLLs only.
set -euo pipefail
exe=$1
allowed='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|OLE32|ADVAPI32|msvcrt)\.dll$'
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
echo "$imports"
bad=$(echo "$imports" | grep -Eiv "$allowed" || true)
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad" >&2
  exit 1
fi
objdump_subsystem=$(x86_64-w64-mingw32-objdump -p "$exe" | grep -c 'Windows GUI')
[ "$objdump_subsystem" -ge 1 ] || { echo "not a GUI program" >&2; exit 1; }
