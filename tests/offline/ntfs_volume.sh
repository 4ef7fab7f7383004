# The NTFS volume of the rescue shell tests, sourced by them: a pristine
# image made once with mkntfs (hives filled through hivex, two forged
# samples, one of them hidden and read-only, a clean file) and mounted
# through ntfs-3g at $mnt; `state` lists every file's hash and DOS
# attributes. Expects $work, $forge, $mnt and skip/fail functions.
regs=$(cd "$(dirname "${BASH_SOURCE[0]}")/volume" && pwd)
win=$mnt/WINDOWS
unmount() { if mountpoint -q "$mnt"; then fusermount -u "$mnt" 2>/dev/null || umount "$mnt"; fi; }

make_pristine() {  # IMAGE
  truncate -s 16M "$1"
  mkntfs -F -f -q "$1" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; exit 1; }
  # mkntfs draws the serial from the clock's second: two volumes made in
  # one second would share it, and the tests tell volumes apart by it.
  ntfslabel --new-serial="0x$(od -An -N7 -tx1 /dev/urandom | tr -d ' \n')" "$1" >/dev/null 2>&1 ||
    { echo "ntfslabel could not give $1 a serial" >&2; exit 1; }
  ntfs-3g "$1" "$mnt" || skip "ntfs-3g cannot mount here"
  mkdir -p "$work/hives"
  hive() {  # NAME PREFIX REGFILE
    "$forge" hive "$work/hives/$1" >/dev/null
    hivexregedit --merge --prefix "$2" "$work/hives/$1" "$regs/$3"
  }
  hive SOFTWARE 'HKEY_LOCAL_MACHINE\SOFTWARE' software.reg
  hive SYSTEM 'HKEY_LOCAL_MACHINE\SYSTEM' system.reg
  for u in alice bob; do hive "$u" 'HKEY_CURRENT_USER' "$u.reg"; done
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
}

state() {
  (cd "$mnt" && find . -type f -print0 | sort -z | xargs -0 sha256sum
   find . -type f -print0 | sort -z | xargs -0 getfattr -h -e hex -n system.ntfs_attrib_be 2>/dev/null) |
    grep -v '^$'
}
