#!/usr/bin/env bash
# sorvane-offline over running infected programs: each ends up with the row
# that recognised it (a backdoor beside a folder of the same stem, a worm
# repaired in place, a script-row program removed), and only the infected
# program's processes and services are touched.
# Usage: running_images.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
out="$work/out.txt" err="$work/err.txt"
fail() { echo "running_images: $*" >&2; cat "$out" "$err" >&2; exit 1; }
run() {
  local rc=0
  "$offline" --drive "C=$work/C" "$@" >"$out" 2>"$err" || rc=$?
  [ "$rc" -eq 1 ] || fail "exit code $rc, expected 1"
}
expect_lines() {
  if ! diff -u - "$out" >&2; then fail "$1: lines differ"; fi
}
stats() {
  printf ' \nScanning statistics\n------------------------------\n'
  printf 'Total files scanned\t\t:  %s\nTotal files infected\t\t:  %s\n' "$1" "$2"
  printf 'Total files removed\t\t:  %s\nScanning completed\n' "$3"
}
fresh() { rm -rf "$work/C"; mkdir -p "$work/C/x"; }

# A folder that shares the image's stem: the memory scan still ends the
# process and removes the file, counted once.
fresh
mkdir "$work/C/x/app.d"
"$forge" backdoor 1 "$work/C/x/app.exe" >/dev/null
run --platform nt5 --process '8=C:\x\app.exe'
grep -qx 'process ended: 8 C:\\x\\app.exe' "$err" || fail "no 'process ended' line"
{ printf 'System Memory    W32/Murkel.Backdoor removed\nC:\\x\\app.exe     W32/Murkel.Trojan removed\n'
  stats 0 1 1; } | expect_lines "folder beside the image"
[ ! -e "$work/C/x/app.exe" ] || fail "app.exe left behind"

# A worm-infected program: repaired in place, equal to its host.
for platform in 9x nt5; do
  fresh
  "$forge" worm-host "$work/host.exe" >/dev/null
  "$forge" worm Q "$work/host.exe" "$work/C/x/calc.exe" >/dev/null
  run --platform $platform --process '8=C:\x\calc.exe'
  { printf 'C:\\x\\calc.exe     W32/Bagle.Q.Worm Virus removed\n'; stats 1 1 1; } |
    expect_lines "worm $platform"
  cmp -s "$work/host.exe" "$work/C/x/calc.exe" || fail "worm $platform: not its host"
done

# A program a script record matches: ended and removed under its own line.
fresh
"$forge" script 5 "$work/C/x/mail.exe" >/dev/null
run --platform nt5 --process '8=C:\x\mail.exe'
{ printf 'C:\\x\\mail.exe     W32/Bagle.Aa.Worm Virus removed\n'; stats 0 1 1; } |
  expect_lines "script row"
[ ! -e "$work/C/x/mail.exe" ] || fail "mail.exe left behind"

# An infected copy of a system program's name that cannot be ended: the
# system's own process of that name keeps running.
rm -rf "$work/C"
mkdir -p "$work/C/TEMP" "$work/C/WINDOWS/system32"
"$forge" backdoor 1 "$work/C/TEMP/svchost.exe" >/dev/null
printf 'clean\r\n' >"$work/C/WINDOWS/system32/svchost.exe"
run --platform nt6 --answer no --process '8=C:\TEMP\svchost.exe:unkillable' \
  --process '12=C:\WINDOWS\system32\svchost.exe'
{ printf 'C:\\TEMP\\svchost.exe     W32/Murkel.A.Backdoor Unable to remove\n'; stats 2 2 0
  printf 'Removal at restart: C:\\TEMP\\svchost.exe\n'; } | expect_lines "svchost"
if grep -q '^process ended' "$err"; then fail "a process of the same name was ended"; fi

# A service that merely shares the infected image's name is not stopped;
# the infected program's own service is.
rm -rf "$work/C"
mkdir -p "$work/C/Temp" "$work/C/WINDOWS/system32"
"$forge" backdoor 1 "$work/C/Temp/Schedule.exe" >/dev/null
printf 'clean\r\n' >"$work/C/WINDOWS/system32/mstask.exe"
run --platform nt5 --answer cancel --process '8=C:\Temp\Schedule.exe:unkillable' \
  --process '12=C:\WINDOWS\system32\mstask.exe:service=Schedule'
if grep -q '^service stopped' "$err"; then fail "another program's service was stopped"; fi
grep -q 'found in memory!' "$err" || fail "no restart question for the process left running"
run --platform nt4 --process '8=C:\Temp\Schedule.exe:unkillable:service=Schedule'
grep -qx 'service stopped: Schedule' "$err" || fail "the infected program's service was not stopped"
echo "running_images: ok"
