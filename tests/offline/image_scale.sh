#!/usr/bin/env bash
# Many images at once, as docs/images.md shows: GNU parallel runs a report
# of each image of a folder, jq merges the JSON reports into one. Three
# images (two infected, one cleaned) must give three reports, the images
# named, and the merged totals.
# Usage: image_scale.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$(realpath "$1") forge=$(realpath "$2") work=$3
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "image_scale: skipped: $*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to mount"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkntfs ntfs-3g hivexregedit qemu-img qemu-storage-daemon sfdisk parallel jq; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
fail() { echo "image_scale: $*" >&2; exit 1; }
cleanup() {
  for m in $(grep -F " $work" /proc/self/mountinfo | awk '{print $5}' | sort -r); do umount "$m" 2>/dev/null || true; done
}
trap cleanup EXIT
cleanup
rm -rf "$work"
mkdir -p "$work/images" "$work/reports"
export SORVANE_RUN_DIR=$work/run
source "$here/image_disks.sh"
mbr_disk "$work/mbr.raw"
qemu-img convert -f raw -O qcow2 "$work/mbr.raw" "$work/images/pc1.qcow2"
qemu-img convert -f raw -O vmdk "$work/mbr.raw" "$work/images/pc2.vmdk"
cp "$work/images/pc1.qcow2" "$work/images/pc3.qcow2"
# Cleaned (its hives' backups go to the working folder): nothing left to find.
(cd "$work" && "$offline" --image "$work/images/pc3.qcow2" >/dev/null 2>&1) || true

# The local form of docs/images.md (exit codes 1 mean "found": --halt never).
cd "$work/reports"
parallel --will-cite --joblog "$work/jobs.log" \
  "$offline" --image {} --action report --report {/.}.json '>' {/.}.out '2>' {/.}.err ::: "$work"/images/* || true
jq -s '{images: length,
        infected: (map(.statistics.files_infected) | add),
        exit_codes: (map({(.image.path | split("/") | last): .exit_code}) | add),
        detections: [.[] | .image.path as $p | .results[] | select(.detection != "" and (has("registry") | not)) |
                     {image: ($p | split("/") | last), path}]}' ./*.json >"$work/merged.json"
jq -e '.images == 3 and .infected == 2 and
       .exit_codes == {"pc1.qcow2": 1, "pc2.vmdk": 1, "pc3.qcow2": 0} and
       (.detections | map(.image) | sort) == ["pc1.qcow2", "pc2.vmdk"]' "$work/merged.json" >/dev/null ||
  { cat "$work/merged.json" "$work/jobs.log" >&2; fail "the merged reports are not as expected"; }
[ "$(awk 'NR > 1' "$work/jobs.log" | wc -l)" = 3 ] || fail "the job log does not list three jobs"
echo "image_scale: ok"
