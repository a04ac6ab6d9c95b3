#!/usr/bin/env bash
# Checks the i386 call thunk on a machine that cannot run 32-bit Windows
# programs: its instructions, taken verbatim from call_thunk.cpp, are
# assembled into a 32-bit Linux program run under qemu-i386 user-mode
# emulation. Exits 77 (skipped) when gcc -m32 or qemu-i386 is missing.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source=$here/../../src/plugins/win32/call_thunk.cpp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
[[ -n $qemu ]] || { echo "qemu-i386 not installed: skipped"; exit 77; }

{
  printf '    .text\n    .globl zulCallPluginExport\n'
  # PE symbols carry a leading underscore; ELF ones do not.
  sed -n '/^_zulCallPluginExport:/,/^    ret/p' "$source" | sed 's/_zulCallPluginExport/zulCallPluginExport/'
  printf '    .section .note.GNU-stack,"",@progbits\n'
} > "$work/thunk.s"
grep -q 'call \*8(%ebp)' "$work/thunk.s" || { echo "thunk not found in $source" >&2; exit 1; }

gcc -m32 -O1 -o "$work/check" "$here/i386_thunk_check.c" "$work/thunk.s" 2>"$work/cc.log" || {
  echo "gcc -m32 cannot build here: skipped"; cat "$work/cc.log"; exit 77; }
"$qemu" "$work/check"
