#!/usr/bin/env bash
# A rescue run on a real NTFS volume: an image made with mkntfs, mounted
# through ntfs-3g (FUSE) under WORKDIR, holding a Windows layout with forged
# samples, hidden and read-only files, and hives filled through hivex for
# three profiles. A report run must change nothing; a clean run must leave
# the registry as expected (read back with hivexregedit) and untouched
# hives byte-identical. Exits 77 (skipped) where FUSE or root is missing.
# Usage: ntfs_rescue.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$(realpath "$1") forge=$(realpath "$2") work=$3
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "ntfs_rescue: skipped: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to mount"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkntfs ntfs-3g hivexregedit getfattr setfattr; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

mnt=$work/mnt
busy= other=
unmount() {
  if [ -n "$busy" ]; then umount "$busy" 2>/dev/null || true; fi
  if [ -n "$other" ]; then umount "$other" 2>/dev/null || true; fi
  if mountpoint -q "$mnt"; then fusermount -u "$mnt" 2>/dev/null || umount "$mnt"; fi
}
trap unmount EXIT INT TERM
unmount
rm -rf "$work"
mkdir -p "$mnt" "$work/outside" "$work/hives"
truncate -s 24M "$work/volume.img"
mkntfs -F -f -q "$work/volume.img" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; exit 1; }
ntfs-3g "$work/volume.img" "$mnt" || skip "ntfs-3g cannot mount here"
fail() { echo "ntfs_rescue: $*" >&2; exit 1; }

# Hives: an empty forged hive filled from a .reg text.
hive() {  # NAME PREFIX REGFILE
  "$forge" hive "$work/hives/$1" >/dev/null
  hivexregedit --merge --prefix "$2" "$work/hives/$1" "$here/volume/$3"
}
hive SOFTWARE 'HKEY_LOCAL_MACHINE\SOFTWARE' software.reg
hive SYSTEM 'HKEY_LOCAL_MACHINE\SYSTEM' system.reg
for u in alice bob carol; do hive "$u" 'HKEY_CURRENT_USER' "$u.reg"; done

win=$mnt/WINDOWS
mkdir -p "$win/system32/config" "$win/TEMP" "$mnt/Documents and Settings/alice" \
  "$mnt/Documents and Settings/bob" "$mnt/Users/carol" "$mnt/Temp"
cp "$work/hives/SOFTWARE" "$win/system32/config/SOFTWARE"
cp "$work/hives/SYSTEM" "$win/system32/config/system"
cp "$work/hives/alice" "$mnt/Documents and Settings/alice/NTUSER.DAT"
cp "$work/hives/bob" "$mnt/Documents and Settings/bob/ntuser.dat"
cp "$work/hives/carol" "$mnt/Users/carol/NTUSER.DAT"
"$forge" backdoor 1 "$win/system32/evil1.exe" >/dev/null
"$forge" backdoor 2 "$mnt/Temp/Evil Two.exe" >/dev/null
"$forge" backdoor 3 "$work/outside/victim.exe" >/dev/null
"$forge" backdoor 4 "$win/system32/busy.exe" >/dev/null
# A file that cannot be removed now: bound onto itself, its unlink fails
# (busy) as a file in use on Windows does.
mount --bind "$win/system32/busy.exe" "$win/system32/busy.exe" || skip "mount --bind is not allowed here"
busy=$win/system32/busy.exe
# Another file system below the volume: left out without --cross-fs.
mkdir -p "$mnt/Mounted"
mount -t tmpfs -o size=1m tmpfs "$mnt/Mounted" || skip "cannot mount a tmpfs below the volume"
other=$mnt/Mounted
"$forge" backdoor 5 "$other/evil5.exe" >/dev/null
printf 'clean\r\n' >"$win/system32/ctfmon.exe"
ln -s "$work/outside/victim.exe" "$mnt/Temp/link.exe"
setfattr -n system.ntfs_attrib_be -v 0x00000003 "$mnt/Temp/Evil Two.exe"   # read-only, hidden
setfattr -n system.ntfs_attrib_be -v 0x00000006 "$win/system32/ctfmon.exe"  # hidden, system

# State of the volume: every file's hash and DOS attributes.
state() {
  (cd "$mnt" && find . -type f -print0 | sort -z | xargs -0 sha256sum
   # (files of the other file system have no such attribute)
   find . -type f -print0 | sort -z | xargs -0 getfattr -h -e hex -n system.ntfs_attrib_be 2>/dev/null || true) \
    | grep -v '^$'
  sha256sum "$work/outside/victim.exe"
}
export_hive() {  # FILE PREFIX
  hivexregedit --export --prefix "$2" "$1" '\' | tr -d '\r'
}

state >"$work/before.state"
# A volume's registry is its hives: no .reg file is loaded over them or
# saved from them (one HKCU of three), and such a run touches nothing.
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Injected]\n"x"="1"\n' >"$work/inject.reg"
for option in --registry --save-registry --save-changes; do
  rc=0
  "$offline" --volume "$mnt" "$option" "$work/inject.reg" >/dev/null 2>"$work/refused.err" || rc=$?
  [ "$rc" -eq 2 ] && grep -q 'do not go with it' "$work/refused.err" ||
    fail "--volume with $option: exit code $rc, expected 2 and the reason"
done
state >"$work/after-refused.state"
cmp -s "$work/before.state" "$work/after-refused.state" || fail "a refused run changed the volume"
rc=0
"$offline" --volume "$mnt" --action report --report "$work/report-only.json" --cross-fs \
  >"$work/report-only.out" 2>"$work/report-only.err" || rc=$?
[ "$rc" -eq 1 ] || { cat "$work/report-only.err" >&2; fail "report run: exit code $rc, expected 1"; }
state >"$work/after-report.state"
cmp -s "$work/before.state" "$work/after-report.state" ||
  { diff "$work/before.state" "$work/after-report.state" >&2; fail "the report run changed the volume"; }
grep -q '"applied": false' "$work/report-only.json" || fail "report lines not marked not applied"
grep -q '^C:\\Mounted\\evil5.exe ' "$work/report-only.out" || fail "--cross-fs did not enter the other file system"

rc=0
(cd "$work" && "$offline" --volume "$mnt" --report "$work/report.json" --quarantine "$work/q" \
  >"$work/clean.out" 2>"$work/clean.err") || rc=$?
[ "$rc" -eq 1 ] || { cat "$work/clean.err" >&2; fail "clean run: exit code $rc, expected 1"; }
[ ! -e "$win/system32/evil1.exe" ] || fail "evil1.exe still there"
[ ! -e "$mnt/Temp/Evil Two.exe" ] || fail "the read-only, hidden sample is still there"
cmp -s "$work/outside/victim.exe" <("$forge" backdoor 3 /dev/stdout) || fail "the sample outside the volume changed"
[ -e "$win/system32/ctfmon.exe" ] || fail "a clean file was removed"
[ -e "$other/evil5.exe" ] || fail "the other file system below the volume was entered"
grep -q '^not scanned: C:\\Mounted: another file system' "$work/clean.err" || fail "the other file system is not named"
for pair in "SOFTWARE:$win/system32/config/SOFTWARE:HKEY_LOCAL_MACHINE\\SOFTWARE" \
            "alice:$mnt/Documents and Settings/alice/NTUSER.DAT:HKEY_CURRENT_USER" \
            "bob:$mnt/Documents and Settings/bob/ntuser.dat:HKEY_CURRENT_USER" \
            "SYSTEM:$win/system32/config/system:HKEY_LOCAL_MACHINE\\SYSTEM"; do
  IFS=: read -r name file prefix <<<"$pair"
  export_hive "$file" "$prefix" >"$work/$name.after.reg"
  cmp -s "$here/volume/$name.expected.reg" "$work/$name.after.reg" ||
    { diff -u "$here/volume/$name.expected.reg" "$work/$name.after.reg" >&2; fail "$name hive differs"; }
done
grep -q '^Removal at restart: C:\\WINDOWS\\system32\\busy.exe$' "$work/clean.out" || fail "no removal at restart"
cmp -s "$work/hives/carol" "$mnt/Users/carol/NTUSER.DAT" || fail "carol's hive changed"
cmp -s "$work/hives/bob" "$work/q/hives/Documents and Settings_bob_ntuser.dat" ||
  fail "bob's copy differs from the original"
grep -q '"removed": "value"' "$work/report.json" || fail "no registry removal in the report"

# Everything comes back: files, hives and attributes.
"$offline" --restore "$work/q" >"$work/restore.out" || { cat "$work/restore.out" >&2; fail "restore failed"; }
state >"$work/after-restore.state"
cmp -s "$work/before.state" "$work/after-restore.state" ||
  { diff "$work/before.state" "$work/after-restore.state" >&2; fail "restore did not bring the volume back"; }
echo "ntfs_rescue: ok"
