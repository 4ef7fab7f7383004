#!/usr/bin/env bash
# sorvane-offline's memory scan over emulated processes running forged
# backdoor copies: the image removed before the drives are walked, an
# unkillable service stopped on NT 4 with its registration removed, the
# restart question when nothing could stop the process, and the 9x route.
# Usage: memory_scan.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
out="$work/out.txt"
fail() { echo "memory_scan: $*" >&2; cat "$out" >&2; exit 1; }

# A fresh tree: an infected running image, a clean one and a copy on disk.
tree() {
  rm -rf "$work/C"
  mkdir -p "$work/C/WINDOWS" "$work/C/data"
  "$forge" backdoor 1 "$work/C/WINDOWS/evil.exe" >/dev/null
  "$forge" backdoor 2 "$work/C/data/copy.exe" >/dev/null
  printf 'clean\r\n' >"$work/C/WINDOWS/clean.exe"
}
expect_lines() {
  if ! diff -u - "$out" >&2; then fail "$1: lines differ"; fi
}
drive_lines='C:\data\copy.exe     W32/Murkel.A.Backdoor removed
 
Scanning statistics
------------------------------
Total files scanned		:  2
Total files infected		:  2
Total files removed		:  2
Scanning completed'
memory_lines='System Memory    W32/Murkel.Backdoor removed
C:\WINDOWS\evil.exe     W32/Murkel.Trojan removed'

for platform in 9x nt5 nt6; do
  tree
  rc=0
  "$offline" --drive "C=$work/C" --platform $platform --process '8=C:\WINDOWS\evil.exe' \
    --process '12=C:\WINDOWS\clean.exe' >"$out" 2>/dev/null || rc=$?
  [ "$rc" -eq 1 ] || fail "$platform: exit code $rc, expected 1"
  printf '%s\n%s\n' "$memory_lines" "$drive_lines" | expect_lines "$platform"
  [ -e "$work/C/WINDOWS/clean.exe" ] || fail "$platform: a clean image was removed"
done

# NT 4: the unkillable process is stopped as its service, whose keys go.
tree
"$offline" --drive "C=$work/C" --platform nt4 --save-registry "$work/saved.reg" \
  --process '8=C:\WINDOWS\evil.exe:unkillable:service=Evil' >"$out" 2>/dev/null || true
printf '%s\n%s\n' "$memory_lines" "$drive_lines" | expect_lines "nt4 service"
if grep -qi 'ControlSet001\\Services\\Evil' "$work/saved.reg"; then fail "service key kept"; fi
grep -qi 'CurrentControlSet\\Services\\Evil' "$work/saved.reg" || fail "service not registered"

# NT 5, unkillable and no service: the question, OK restarts, no drive walk.
tree
rc=0
"$offline" --drive "C=$work/C" --platform nt5 --answer ok \
  --process '8=C:\WINDOWS\evil.exe:unkillable' >"$out" 2>"$work/err.txt" || rc=$?
grep -q '^Restart requested$' "$out" || fail "no restart after OK"
grep -q 'found in memory!' "$work/err.txt" || fail "no restart question"
[ -e "$work/C/data/copy.exe" ] || fail "a drive was walked after the program ended"
[ -e "$work/C/WINDOWS/evil.exe" ] || fail "the running image was removed"
echo "memory_scan: ok"
