#!/usr/bin/env bash
# A rescue run with a quarantine killed from outside (strace injects SIGKILL
# into one write call) on a real NTFS volume: at every write into a hive and
# at seeded random writes of the run. After each kill the volume is
# restorable: --restore brings every file, hive and attribute back, and a
# second run with the same quarantine ends normally with sound hives, after
# which --restore brings everything back too. Exits 77 (skipped) where
# FUSE, root or strace is missing.
# Usage: rescue_kill.sh SORVANE_OFFLINE FORGE WORKDIR [SEED [POINTS]]
set -euo pipefail
offline=$(realpath "$1") forge=$(realpath "$2") work=$3 seed=${4:-20} points=${5:-8}
regs=$(cd "$(dirname "$0")/../rescue/volume" && pwd)
skip() { echo "rescue_kill: skipped: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to mount"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkntfs ntfs-3g hivexregedit getfattr setfattr strace; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
fail() { echo "rescue_kill: $*" >&2; exit 1; }

mnt=$work/mnt
unmount() { if mountpoint -q "$mnt"; then fusermount -u "$mnt" 2>/dev/null || umount "$mnt"; fi; }
trap unmount EXIT INT TERM
unmount
rm -rf "$work"
mkdir -p "$mnt" "$work/hives"

# The pristine volume, made once and copied for every case.
truncate -s 16M "$work/pristine.img"
mkntfs -F -f -q "$work/pristine.img" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; exit 1; }
ntfs-3g "$work/pristine.img" "$mnt" || skip "ntfs-3g cannot mount here"
hive() {  # NAME PREFIX REGFILE
  "$forge" hive "$work/hives/$1" >/dev/null
  hivexregedit --merge --prefix "$2" "$work/hives/$1" "$regs/$3"
}
hive SOFTWARE 'HKEY_LOCAL_MACHINE\SOFTWARE' software.reg
hive SYSTEM 'HKEY_LOCAL_MACHINE\SYSTEM' system.reg
for u in alice bob; do hive "$u" 'HKEY_CURRENT_USER' "$u.reg"; done
win=$mnt/WINDOWS
mkdir -p "$win/system32/config" "$mnt/Documents and Settings/alice" "$mnt/Users/bob" "$mnt/Temp"
cp "$work/hives/SOFTWARE" "$win/system32/config/SOFTWARE"
cp "$work/hives/SYSTEM" "$win/system32/config/SYSTEM"
cp "$work/hives/alice" "$mnt/Documents and Settings/alice/NTUSER.DAT"
cp "$work/hives/bob" "$mnt/Users/bob/NTUSER.DAT"
"$forge" backdoor 1 "$win/system32/evil1.exe" >/dev/null
"$forge" backdoor 2 "$mnt/Temp/Evil Two.exe" >/dev/null
printf 'clean\r\n' >"$win/system32/ctfmon.exe"
setfattr -n system.ntfs_attrib_be -v 0x00000003 "$mnt/Temp/Evil Two.exe"
unmount

# Every file's hash and DOS attributes.
state() {
  (cd "$mnt" && find . -type f -print0 | sort -z | xargs -0 sha256sum
   find . -type f -print0 | sort -z | xargs -0 getfattr -h -e hex -n system.ntfs_attrib_be 2>/dev/null) |
    grep -v '^$'
}
fresh() { cp "$work/pristine.img" "$work/volume.img"; ntfs-3g "$work/volume.img" "$mnt"; rm -rf "$work/q"; }
hives_open() {
  for h in "$win/system32/config/SOFTWARE" "$win/system32/config/SYSTEM" \
           "$mnt/Documents and Settings/alice/NTUSER.DAT" "$mnt/Users/bob/NTUSER.DAT"; do
    hivexregedit --export --prefix 'X' "$h" '\' >/dev/null 2>&1 || return 1
  done
}
clean() { (cd "$work" && "$@" "$offline" --volume "$mnt" --quarantine "$work/q" >"$work/run.out" 2>"$work/run.err"); }

# The writes of an uninterrupted run, numbered as strace counts them for
# the process (its first thread).
fresh
state >"$work/before.state"
rc=0
clean strace -f -y -qq -e trace=write -o "$work/trace.log" || rc=$?
[ "$rc" -eq 1 ] || { cat "$work/run.err" >&2; fail "the clean run ended with $rc, expected 1"; }
hives_open || fail "a hive does not open after the clean run"
unmount
main=$(awk 'NR == 1 { print $1 }' "$work/trace.log")
awk -v pid="$main" '$1 == pid && / write\(/ { n++; if ($0 ~ /config\/(SOFTWARE|SYSTEM)>|NTUSER\.DAT>/) print n }' \
  "$work/trace.log" >"$work/hive.writes"
total=$(awk -v pid="$main" '$1 == pid && / write\(/' "$work/trace.log" | wc -l)
[ -s "$work/hive.writes" ] || fail "no write into a hive seen in the trace"
RANDOM=$seed
: >"$work/random.writes"
for _ in $(seq "$points"); do echo $((RANDOM % total + 1)) >>"$work/random.writes"; done

# One kill: the run stopped at write N, then put right by RECOVERY.
kill_case() {  # N RECOVERY(restore|rerun)
  local n=$1 recovery=$2 rc=0
  fresh
  clean strace -f -qq -o /dev/null -e trace=write -e inject=write:signal=KILL:when="$n" || rc=$?
  [ "$rc" -eq 137 ] || { unmount; fail "write $n: the run was not killed (exit $rc)"; }
  if [ "$recovery" = rerun ]; then
    rc=0
    clean || rc=$?
    [ "$rc" -le 1 ] || { cat "$work/run.err" >&2; unmount; fail "write $n: the second run ended with $rc"; }
    hives_open || { unmount; fail "write $n: a hive does not open after the second run"; }
  fi
  "$offline" --restore "$work/q" >"$work/restore.out" 2>"$work/restore.err" ||
    { cat "$work/restore.out" "$work/restore.err" >&2; unmount; fail "write $n ($recovery): restore failed"; }
  state >"$work/after.state"
  unmount
  cmp -s "$work/before.state" "$work/after.state" ||
    { diff "$work/before.state" "$work/after.state" >&2; fail "write $n ($recovery): the volume did not come back"; }
  echo "rescue_kill: killed at write $n of $total, $recovery: ok"
}
while read -r n; do
  kill_case "$n" restore
  kill_case "$n" rerun
done <"$work/hive.writes"
while read -r n; do kill_case "$n" restore; done <"$work/random.writes"
echo "rescue_kill: ok"
