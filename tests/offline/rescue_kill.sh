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
skip() { echo "rescue_kill: skipped: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to mount"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkntfs ntfslabel ntfs-3g hivexregedit getfattr setfattr strace; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
fail() { echo "rescue_kill: $*" >&2; exit 1; }

mnt=$work/mnt
. "$(dirname "$0")/ntfs_volume.sh"
trap unmount EXIT INT TERM
unmount
rm -rf "$work"
mkdir -p "$mnt"
make_pristine "$work/pristine.img"

fresh() { cp "$work/pristine.img" "$work/volume.img"; ntfs-3g "$work/volume.img" "$mnt"; rm -rf "$work/q"; }
hives_open() {
  for h in "$win/system32/config/SOFTWARE" "$win/system32/config/SYSTEM" \
           "$mnt/Documents and Settings/alice/NTUSER.DAT" "$mnt/Users/bob/NTUSER.DAT"; do
    hivexregedit --export --prefix 'X' "$h" '\' >/dev/null 2>&1 || return 1
  done
}
# One matching thread: the kills count the run's system calls.
clean() { (cd "$work" && "$@" "$offline" --jobs 1 --volume "$mnt" --quarantine "$work/q" >"$work/run.out" 2>"$work/run.err"); }

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
