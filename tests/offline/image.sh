#!/usr/bin/env bash
# --image end to end: small GPT and MBR disks with a forged Windows volume,
# converted by qemu-img to qcow2, vmdk, vhdx and vdi. Each is reported on
# without a byte changing; one is cleaned into a quarantine and restored; a
# BitLocker and a non-NTFS partition are named; a hibernated Windows is
# refused for cleaning; backing files and non-images are refused; runs
# killed with SIGTERM and SIGKILL leave nothing behind (the next run cleans
# up after SIGKILL, but never stops a daemon under an ntfs-3g mount still
# in use); report runs share an image, a cleaning run and a report run
# exclude each other. Exits 77 (skipped) where FUSE or root is missing.
# Usage: image.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$(realpath "$1") forge=$(realpath "$2") work=$3
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "image: skipped: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to mount"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkntfs ntfs-3g hivexregedit qemu-img qemu-storage-daemon sfdisk mkfs.ext4 strace jq; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
fail() { echo "image: $*" >&2; exit 1; }

# Mounts and daemons of our runs live below $run.
export SORVANE_RUN_DIR
leftovers() {  # prints what our runs left: mounts, then daemons
  grep -F " $run" /proc/self/mountinfo | awk '{print "mount " $5}' || true
  local f
  for f in $(grep -lsaF -- "$run" /proc/[0-9]*/cmdline); do
    { tr '\0' ' ' <"$f"; } 2>/dev/null | grep -q '^qemu-storage-daemon ' && echo "daemon $f"
  done
  return 0
}
cleanup() {
  for m in $(grep -F " $work" /proc/self/mountinfo | awk '{print $5}' | sort -r); do umount "$m" 2>/dev/null || true; done
}
trap cleanup EXIT
cleanup
rm -rf "$work"
mkdir -p "$work/img" "$work/outside"
run=$work/run SORVANE_RUN_DIR=$work/run
modprobe fuse 2>/dev/null || true
ntfs-3g --help >/dev/null 2>&1 || true
source "$here/image_disks.sh"

gpt_disk "$work/img/gpt.raw" 2>"$work/build.err" || { cat "$work/build.err" >&2; skip "cannot build a disk here"; }
mbr_disk "$work/img/mbr.raw"
for f in qcow2 vmdk vhdx vdi; do qemu-img convert -f raw -O "$f" "$work/img/gpt.raw" "$work/img/gpt.$f"; done

# check NAME EXPECTED_CODE ARGS...: runs the tool, keeps out/err/json.
check() {
  local name=$1 want=$2 rc=0
  shift 2
  "$offline" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  [ "$rc" = "$want" ] || { cat "$work/$name.err" >&2; fail "$name: exit code $rc, expected $want"; }
  [ -z "$(leftovers)" ] || { leftovers >&2; fail "$name: left mounts or daemons"; }
}
has() { grep -q -- "$2" "$work/$1" || { cat "$work/$1" >&2; fail "$1 lacks: $2"; }; }

# Each format reported on, nothing changed; the GPT disk names its other
# partitions and, with a locked one left, is no clean disk even so.
for f in raw qcow2 vmdk vhdx vdi; do
  sum=$(sha256sum "$work/img/gpt.$f")
  check "report-$f" 1 --image "$work/img/gpt.$f" --action report --report "$work/report-$f.json"
  [ "$sum" = "$(sha256sum "$work/img/gpt.$f")" ] || fail "report-$f changed the image"
  has "report-$f.out" '^C:\\WINDOWS\\system32\\evil1.exe '
  has "report-$f.err" 'partition 2 not scanned: not NTFS (ext4)'
  has "report-$f.err" 'partition 3 not scanned: BitLocker volume, locked'
  jq -e --arg f "$f" '.image.format == $f and .image.partition.index == 1 and
      .image.partition.offset == 1048576 and .image.partition.size == 12582912 and
      (.image.partition.ntfs_serial | length) == 16 and .image.table == "gpt" and
      ([.image.not_scanned[].index] == [2, 3])' "$work/report-$f.json" >/dev/null ||
    fail "report-$f.json does not name the image and partition"
done
[ "$(ls "$run")" = "" ] || fail "run folders are left: $(ls "$run")"

# MBR: logical partition 5 is numbered as the table numbers it.
qemu-img convert -f raw -O qcow2 "$work/img/mbr.raw" "$work/img/mbr.qcow2"
check mbr-report 1 --image "$work/img/mbr.qcow2" --action report
has mbr-report.err 'partition 5 not scanned: no Windows folder'
check mbr-part5 2 --image "$work/img/mbr.qcow2" --partition 5 --action report
check mbr-part9 2 --image "$work/img/mbr.qcow2" --partition 9 --action report
has mbr-part9.err 'has no partition 9 (it has 1, 5)'

# Cleaning with a quarantine, then restoring through the image.
check clean 1 --image "$work/img/mbr.qcow2" --quarantine "$work/q" --report "$work/clean.json"
has clean.out '^C:\\WINDOWS\\system32\\evil1.exe .*removed'
jq -e '.image.partition.index == 1' "$work/q/manifest.json" >/dev/null || fail "the manifest names no image"
check after-clean 0 --image "$work/img/mbr.qcow2" --action report
check restore 0 --restore "$work/q"
has restore.out 'restored: C:\\WINDOWS\\system32\\evil1.exe'
check after-restore 1 --image "$work/img/mbr.qcow2" --action report
cmp -s "$work/mbr-report.out" "$work/after-restore.out" || fail "the restored image reports otherwise"

# A hibernated Windows: reported on, never cleaned.
mbr_disk "$work/img/hiber.raw" hibernated
sum=$(sha256sum "$work/img/hiber.raw")
check hiber-clean 2 --image "$work/img/hiber.raw" --quarantine "$work/qh"
has hiber-clean.err 'hibernated.*shut it down fully.*Fast Startup'
check hiber-report 1 --image "$work/img/hiber.raw" --action report
[ "$sum" = "$(sha256sum "$work/img/hiber.raw")" ] || fail "a refused run changed the hibernated image"
# The same for --volume, by the header's magic.
mkdir -p "$work/vol"
for magic in hibr HIBR RSTR wake zero; do
  if [ "$magic" = zero ]; then printf '\0\0\0\0'; else printf '%s' "$magic"; fi >"$work/vol/HiberFil.sys"
  rc=0
  rm -f "$work/vol.json"
  "$offline" --volume "$work/vol" --report "$work/vol.json" >/dev/null 2>"$work/vol.err" || rc=$?
  case $magic in
    hibr|HIBR|RSTR)
      grep -q hibernated "$work/vol.err" && [ "$rc" -eq 2 ] || fail "--volume with '$magic' was not refused"
      jq -e '.exit_code == 2 and (.errors[0] | test("hibernated"))' "$work/vol.json" >/dev/null ||
        fail "--volume with '$magic': the report does not say the run was refused" ;;
    *) ! grep -q hibernated "$work/vol.err" || fail "--volume with '$magic' was refused" ;;
  esac
done

# Only BitLocker: locked, never clean.
truncate -s 8M "$work/img/locked.raw"
printf 'label: dos\nstart=2048, type=7\n' | sfdisk -q "$work/img/locked.raw" >/dev/null
printf '\xeb\x58\x90-FVE-FS-' | dd of="$work/img/locked.raw" bs=512 seek=2048 conv=notrunc status=none
check locked 2 --image "$work/img/locked.raw" --action report
has locked.err 'BitLocker volume is locked'

# Untrusted images: no disk image, backing files elsewhere or unnamed.
head -c 100000 /dev/urandom >"$work/img/noise.bin"
check noise 2 --image "$work/img/noise.bin" --action report
has noise.err 'is no disk image'
cp "$work/img/gpt.qcow2" "$work/outside/base.qcow2"
qemu-img create -q -f qcow2 -b "$work/outside/base.qcow2" -F qcow2 "$work/img/far.qcow2"
check far 2 --image "$work/img/far.qcow2" --action report
has far.err 'backing file .* not opened without --allow-backing'
check far-allowed 2 --image "$work/img/far.qcow2" --action report --allow-backing
has far-allowed.err 'is not a file beside the image: refused'
qemu-img create -q -f qcow2 -b gpt.qcow2 -F qcow2 "$work/img/near.qcow2"
check near 2 --image "$work/img/near.qcow2" --action report
check near-allowed 1 --image "$work/img/near.qcow2" --action report --allow-backing
printf '# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType="monolithicFlat"\nRW 40960 FLAT "/dev/sda" 0\n' \
  >"$work/img/device.vmdk"
check device-vmdk 2 --image "$work/img/device.vmdk" --action report --allow-backing
check forced-raw 2 --image "$work/img/gpt.qcow2" --format raw --action report
has forced-raw.err 'holds no NTFS partition'

# Report runs share an image; a cleaning run is kept out with QEMU's word.
for i in 1 2 3; do "$offline" --image "$work/img/gpt.qcow2" --action report >/dev/null 2>"$work/shared$i.err" & done
for i in 1 2 3; do rc=0; wait %$i || rc=$?; [ "$rc" = 1 ] || { cat "$work/shared$i.err" >&2; fail "shared report run $i: $rc"; }; done
"$offline" --image "$work/img/mbr.qcow2" --action report >/dev/null 2>&1 &
reader=$!
for _ in $(seq 200); do grep -q " $run/[0-9]*/m1 " /proc/self/mountinfo && break; sleep 0.05; done
kill -STOP "$reader"
rc=0
"$offline" --image "$work/img/mbr.qcow2" --quarantine "$work/q2" >/dev/null 2>"$work/locked-out.err" || rc=$?
kill -CONT "$reader"
wait "$reader" || true
[ "$rc" = 2 ] || fail "a cleaning run beside a report run: exit code $rc, expected 2"
has locked-out.err 'QEMU cannot open the image: .*lock'
[ -z "$(leftovers)" ] || { leftovers >&2; fail "locked-out: left mounts or daemons"; }
# And the other way round on a raw disk: a report run is kept out of what
# a cleaning run has open, saying so rather than that there is no Windows.
cp "$work/img/mbr.raw" "$work/img/rw.raw"
"$offline" --image "$work/img/rw.raw" --quarantine "$work/q3" >/dev/null 2>&1 &
writer=$!
for _ in $(seq 400); do grep " $run/[0-9]*/m1 " /proc/self/mountinfo | grep -q " rw," && break; sleep 0.02; done
kill -STOP "$writer"
rc=0
"$offline" --image "$work/img/rw.raw" --action report >/dev/null 2>"$work/kept-out.err" || rc=$?
kill -CONT "$writer"
wait "$writer" || true
[ "$rc" = 2 ] || fail "a report run beside a cleaning run: exit code $rc, expected 2"
[ -z "$(leftovers)" ] || { leftovers >&2; fail "kept-out: left mounts or daemons"; }
has kept-out.err 'no Windows volume that could be read: partition 1: .*lock'

# SIGTERM at several moments of a cleaning run: nothing is left, and the
# image opens again.
for delay in 0.05 0.2 0.4 0.7 1.0; do
  cp "$work/img/mbr.qcow2" "$work/img/term.qcow2"
  "$offline" --image "$work/img/term.qcow2" --quarantine "$work/qt-$delay" >/dev/null 2>"$work/term.err" &
  pid=$!
  sleep "$delay"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  [ -z "$(leftovers)" ] || { leftovers >&2; cat "$work/term.err" >&2; fail "SIGTERM after ${delay}s left mounts or daemons"; }
  rc=0
  "$offline" --image "$work/img/term.qcow2" --action report >/dev/null 2>"$work/term-after.err" || rc=$?
  [ "$rc" -le 1 ] || { cat "$work/term-after.err" >&2; fail "the image stopped after ${delay}s does not open"; }
done

# SIGKILL: what the killed run left is removed by the next run. The run is
# killed at its first unmount, with every mount of it up.
rc=0
strace -o /dev/null -e trace=umount2 -e inject=umount2:signal=KILL \
  "$offline" --image "$work/img/gpt.qcow2" --action report >/dev/null 2>"$work/killed.err" || rc=$?
pid=$(ls "$run")
[ "$rc" = 137 ] && [ -n "$pid" ] || fail "the run to be killed was not (exit code $rc, run folders: $pid)"
[ -n "$(leftovers)" ] || fail "the SIGKILL case left nothing to clean (too late?)"
check after-kill 1 --image "$work/img/gpt.raw" --action report
has after-kill.err "cleaning up after a run that was stopped: $run/$pid"
[ ! -e "$run/$pid" ] || fail "the killed run's folder is still there"
# A cleaning run killed with its ntfs-3g mount in use from outside: the
# next run leaves the daemon under that mount running (ntfs-3g could still
# write back); once the mount is let go, a run undoes it all.
cp "$work/img/mbr.qcow2" "$work/img/held.qcow2"
"$offline" --image "$work/img/held.qcow2" --quarantine "$work/qk" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 400); do grep " $run/$pid/m1 " /proc/self/mountinfo | grep -q " rw," && break; sleep 0.02; done
kill -KILL "$pid"
wait "$pid" || true
(cd "$run/$pid/m1" && exec sleep 300) &
holder=$!
sleep 0.2
rc=0
"$offline" --image "$work/img/gpt.raw" --action report >/dev/null 2>"$work/held.err" || rc=$?
leftovers | grep -q '^daemon ' && grep -q " $run/$pid/m1 " /proc/self/mountinfo ||
  { kill "$holder"; cat "$work/held.err" >&2; fail "the daemon under a mount in use was stopped"; }
has held.err "$run/$pid still has mounts, left as it is"
kill "$holder"
wait "$holder" || true
check held-after 1 --image "$work/img/held.qcow2" --action report
qemu-img check -q "$work/img/held.qcow2" || fail "the image of the killed cleaning run is damaged"
echo "image: ok"
