# Sourced by the image tests: builds small whole-disk images with an NTFS
# Windows volume made by mkntfs and filled through ntfs-3g (forged samples,
# hives from the rescue tests' .reg texts). Needs $forge, $work, $here.
regs=$here/volume

# ntfs_volume FILE SIZE_MB [windows|empty|hibernated]: an NTFS file system
# image; "windows" holds a Windows layout with one sample.
ntfs_volume() {
  local file=$1 mb=$2 kind=${3:-windows} mnt=$work/fill
  truncate -s "${mb}M" "$file"
  mkntfs -F -f -q -p 2048 -H 0 -S 0 "$file" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; return 1; }
  [ "$kind" = empty ] && return 0
  mkdir -p "$mnt" "$work/hives"
  ntfs-3g "$file" "$mnt" || return 1
  local win=$mnt/WINDOWS
  mkdir -p "$win/system32/config" "$mnt/Documents and Settings/alice"
  for h in "SOFTWARE software.reg HKEY_LOCAL_MACHINE\\SOFTWARE" "SYSTEM system.reg HKEY_LOCAL_MACHINE\\SYSTEM" \
           "alice alice.reg HKEY_CURRENT_USER"; do
    set -- $h
    "$forge" hive "$work/hives/$1" >/dev/null
    hivexregedit --merge --prefix "$3" "$work/hives/$1" "$regs/$2"
  done
  cp "$work/hives/SOFTWARE" "$win/system32/config/SOFTWARE"
  cp "$work/hives/SYSTEM" "$win/system32/config/SYSTEM"
  cp "$work/hives/alice" "$mnt/Documents and Settings/alice/NTUSER.DAT"
  "$forge" backdoor 1 "$win/system32/evil1.exe" >/dev/null
  printf 'clean\r\n' >"$win/system32/ctfmon.exe"
  if [ "$kind" = hibernated ]; then printf 'HIBR' >"$mnt/hiberfil.sys"; fi
  umount "$mnt"
}

# put VOLUME DISK START_SECTOR: copies a volume into a disk.
put() { dd if="$1" of="$2" bs=512 seek="$3" conv=notrunc status=none; }

# gpt_disk FILE: partition 1 the Windows volume, 2 ext4, 3 a BitLocker
# volume (its boot sector's signature).
gpt_disk() {
  truncate -s 40M "$1"
  printf 'label: gpt\nstart=2048, size=24576, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\nstart=26624, size=8192, type=0FC63DAF-8483-4772-8E79-3D69A8477DE4\nstart=34816, size=4096, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n' |
    sfdisk -q "$1" >/dev/null
  ntfs_volume "$work/win.vol" 12 windows
  put "$work/win.vol" "$1" 2048
  truncate -s 4M "$work/ext.vol"
  mkfs.ext4 -q -F "$work/ext.vol"
  put "$work/ext.vol" "$1" 26624
  printf '\xeb\x58\x90-FVE-FS-' | dd of="$1" bs=512 seek=34816 conv=notrunc status=none
}

# mbr_disk FILE [KIND]: partition 1 the Windows volume (KIND), an extended
# partition with logical partition 5, an NTFS volume with no Windows.
mbr_disk() {
  truncate -s 32M "$1"
  printf 'label: dos\nstart=2048, size=24576, type=7\nstart=26624, type=5\nstart=28672, size=6144, type=7\n' |
    sfdisk -q "$1" >/dev/null
  ntfs_volume "$work/win.vol" 12 "${2:-windows}"
  put "$work/win.vol" "$1" 2048
  ntfs_volume "$work/data.vol" 3 empty
  put "$work/data.vol" "$1" 28672
}
