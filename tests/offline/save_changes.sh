#!/usr/bin/env bash
# sorvane-offline --save-changes: what the scan removed from the registry as
# a .reg file of deletions, in the loaded file's format, that turns the
# loaded registry into the one the scan left; names outside the ANSI code
# page kept through a UTF-16 file; a malformed file refused with its line;
# one that cannot be written still leaves the quarantine and the report.
# Usage: save_changes.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/C/WINDOWS/system32" "$work/C/WINDOWS/TEMP" "$work/C/Temp" "$work/empty"
plant() {
  "$forge" backdoor 1 "$work/C/WINDOWS/system32/evil1.exe" >/dev/null
  "$forge" backdoor 2 "$work/C/Temp/Evil Two.exe" >/dev/null
  "$forge" backdoor 3 "$work/C/WINDOWS/x.exe" >/dev/null
}
fail() { echo "save_changes: $*" >&2; exit 1; }
utf16() { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }

# REGEDIT4: the deletions, and the seeded registry with them applied
# equals the registry the scan saved.
plant
rc=0
"$offline" --drive "C=$work/C" --registry "$here/seeded.reg" --save-changes "$work/changes.reg" \
  >"$work/out.txt" || rc=$?
[ "$rc" -eq 1 ] || fail "exit code $rc, expected 1"
cmp -s "$here/removed.reg" "$work/changes.reg" || {
  diff -u "$here/removed.reg" "$work/changes.reg" >&2 || true
  fail "the changes differ from removed.reg"
}
{ cat "$here/seeded.reg"; tail -n +2 "$work/changes.reg"; } >"$work/applied.reg"
"$offline" --drive "C=$work/empty" --registry "$work/applied.reg" --save-registry "$work/applied-saved.reg" \
  >/dev/null
cmp -s "$here/expected.reg" "$work/applied-saved.reg" || fail "seeded.reg with the changes applied differs from expected.reg"

# Version 5.00 in UTF-16: an untouched registry saves to the same bytes,
# and the changes come in UTF-16 with the other names untouched.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"Launcher"="C:\\\\WINDOWS\\\\system32\\\\evil1.exe"\r\n"Запуск"="C:\\\\WINDOWS\\\\system32\\\\ctfmon.exe"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Дом]\r\n"имя"="один"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Кот]\r\n"имя"="два"\r\n\r\n' \
  | utf16 >"$work/wide.reg"
"$offline" --drive "C=$work/empty" --registry "$work/wide.reg" --save-registry "$work/wide-untouched.reg" >/dev/null
cmp -s "$work/wide.reg" "$work/wide-untouched.reg" || fail "an untouched UTF-16 registry saved differently"
plant
rc=0
"$offline" --drive "C=$work/C" --registry "$work/wide.reg" --save-changes "$work/wide-changes.reg" \
  >/dev/null || rc=$?
[ "$rc" -eq 1 ] || fail "exit code $rc on the UTF-16 registry, expected 1"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"Launcher"=-\r\n\r\n' \
  | utf16 >"$work/wide-expected.reg"
cmp -s "$work/wide-expected.reg" "$work/wide-changes.reg" || fail "the UTF-16 changes differ"

# A malformed file: its line named, exit 2, no abort.
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n"v"=hex(fffffffffffffffffff):00\r\n' >"$work/bad.reg"
rc=0
"$offline" --drive "C=$work/empty" --registry "$work/bad.reg" 2>"$work/bad.err" >/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "exit code $rc on a malformed file, expected 2"
grep -q 'bad.reg: line 4: bad hex type' "$work/bad.err" || fail "no line number: $(cat "$work/bad.err")"
# A file that cannot be written still leaves the quarantine's summary and
# the report, which says the exit code the run ends with.
mkdir -p "$work/D"
"$forge" backdoor 1 "$work/D/evil.exe" >/dev/null
rc=0
"$offline" --drive "C=$work/D" --quarantine "$work/q" --report "$work/r.json" \
  --save-changes "$work/missing/x.reg" >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 2 ] || fail "exit code $rc when the changes cannot be written, expected 2"
[ -s "$work/q/manifest.json" ] || fail "no manifest when the changes cannot be written"
grep -q '"exit_code": 2' "$work/r.json" || fail "the report does not say exit code 2"
echo "save_changes: ok"
