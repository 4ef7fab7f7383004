#!/usr/bin/env bash
# Where a rescue run's quarantine goes back to, on real NTFS volumes: the
# same volume mounted elsewhere later (--restore --volume), never another
# volume, never the empty folder where it was mounted, never through a link
# planted since the run; and no quarantine or hive backups' folder on the
# volume being cleaned. Exits 77 (skipped) where FUSE or root is missing.
# Usage: rescue_remount.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$(realpath "$1") forge=$(realpath "$2") work=$3
skip() { echo "rescue_remount: skipped: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to mount"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkntfs ntfslabel ntfs-3g hivexregedit getfattr setfattr; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
fail() { echo "rescue_remount: $*" >&2; exit 1; }

mnt=$work/mnt
. "$(dirname "$0")/ntfs_volume.sh"
elsewhere=$work/elsewhere
unmount_all() {
  unmount
  if mountpoint -q "$elsewhere"; then fusermount -u "$elsewhere" 2>/dev/null || umount "$elsewhere"; fi
}
trap unmount_all EXIT INT TERM
unmount_all
rm -rf "$work"
mkdir -p "$mnt" "$elsewhere" "$work/outside"
make_pristine "$work/pristine.img"
expect_code() {  # CODE WHAT COMMAND...
  local want=$1 what=$2 rc=0
  shift 2
  "$@" >"$work/last.out" 2>"$work/last.err" || rc=$?
  [ "$rc" -eq "$want" ] || { cat "$work/last.out" "$work/last.err" >&2; fail "$what: exit code $rc, expected $want"; }
}

# A quarantine, or the hive backups' folder, on the volume is refused
# before anything changes.
cp "$work/pristine.img" "$work/volume.img"
ntfs-3g "$work/volume.img" "$mnt"
state >"$work/before.state"
expect_code 2 "a quarantine on the volume" "$offline" --volume "$mnt" --quarantine "$mnt/q"
grep -q 'is on the volume being cleaned' "$work/last.err" || fail "the refusal does not say why"
expect_code 2 "hive backups on the volume" sh -c "cd '$mnt/Temp' && exec '$offline' --volume '$mnt'"
state | cmp -s "$work/before.state" - || fail "a refused run changed the volume"

# A clean run, then the volume is mounted elsewhere.
(cd "$work" && "$offline" --volume "$mnt" --quarantine "$work/q" >"$work/clean.out" 2>"$work/clean.err") ||
  [ $? -eq 1 ] || fail "the clean run failed"
[ ! -e "$win/system32/evil1.exe" ] || fail "the clean run left evil1.exe"
unmount
ntfs-3g "$work/volume.img" "$elsewhere"
expect_code 2 "restore into the empty mount point" "$offline" --restore "$work/q"
[ -z "$(ls -A "$mnt")" ] || fail "restore wrote into the empty mount point"

# Another NTFS volume where the first one was: refused, left as it was.
make_pristine "$work/other.img"
ntfs-3g "$work/other.img" "$mnt"
rm -f "$mnt/WINDOWS/system32/evil1.exe"
state >"$work/other.state"
expect_code 2 "restore into another volume" "$offline" --restore "$work/q" --volume "$mnt"
expect_code 2 "restore with the other volume at the recorded place" "$offline" --restore "$work/q"
state | cmp -s "$work/other.state" - || fail "a refused restore changed the other volume"
unmount

# The same volume where it is mounted now: everything comes back.
expect_code 0 "restore into the volume mounted elsewhere" "$offline" --restore "$work/q" --volume "$elsewhere"
(mnt=$elsewhere; state) | cmp -s "$work/before.state" - || fail "restore did not bring the volume back"

# A folder swapped for a link to outside since the run: nothing is written
# through it.
(cd "$work" && "$offline" --volume "$elsewhere" --quarantine "$work/q2" >/dev/null 2>&1) || true
mv "$elsewhere/WINDOWS/system32" "$elsewhere/WINDOWS/system32.real"
ln -s "$work/outside" "$elsewhere/WINDOWS/system32"
expect_code 1 "restore through a link" "$offline" --restore "$work/q2" --volume "$elsewhere"
grep -q 'evil1.exe' "$work/last.out" || fail "the file not restored is not named"
[ -z "$(ls -A "$work/outside")" ] || fail "restore wrote outside the volume"
echo "rescue_remount: ok"
