#!/usr/bin/env bash
# sorvane-offline over forged backdoor copies with a registry seeded with
# the worms' entries and Run values that launch the copies: the saved
# registry must equal expected.reg and the registry lines must come in the
# expected order. Usage: registry_sweep.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/C/WINDOWS/system32" "$work/C/WINDOWS/TEMP" "$work/C/Temp"
"$forge" backdoor 1 "$work/C/WINDOWS/system32/evil1.exe" >/dev/null
"$forge" backdoor 2 "$work/C/Temp/Evil Two.exe" >/dev/null
"$forge" backdoor 3 "$work/C/WINDOWS/x.exe" >/dev/null
printf 'clean\r\n' >"$work/C/WINDOWS/system32/ctfmon.exe"

rc=0
"$offline" --drive "C=$work/C" --registry "$here/seeded.reg" \
  --save-registry "$work/saved.reg" >"$work/out.txt" || rc=$?
fail() { echo "registry_sweep: $*" >&2; cat "$work/out.txt" >&2; exit 1; }
[ "$rc" -eq 1 ] || fail "exit code $rc, expected 1 (infections found)"
if ! cmp -s "$here/expected.reg" "$work/saved.reg"; then
  diff -u "$here/expected.reg" "$work/saved.reg" >&2 || true
  fail "saved registry differs from expected.reg"
fi
grep '^System Registry' "$work/out.txt" | tr -d '\r' >"$work/registry.lines" || true
if ! cmp -s "$here/registry_sweep.lines" "$work/registry.lines"; then
  diff -u "$here/registry_sweep.lines" "$work/registry.lines" >&2 || true
  fail "registry lines differ"
fi
removed=$(grep -v '^System Registry' "$work/out.txt" | grep -c ' removed$' || true)
[ "$removed" -eq 3 ] || fail "$removed files removed, expected 3"
[ ! -e "$work/C/WINDOWS/system32/evil1.exe" ] || fail "evil1.exe still there"
[ -e "$work/C/WINDOWS/system32/ctfmon.exe" ] || fail "a clean file was removed"
if grep -q 'at restart\|Restart requested' "$work/out.txt"; then fail "nothing should wait for a restart"; fi
echo "registry_sweep: ok"
