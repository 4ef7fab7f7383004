#!/usr/bin/env bash
# sorvane-offline acts only inside the trees given as drives, on regular
# files, and names what it could not examine. Each case builds its tree
# with ordinary shell commands, runs the tool under a time limit and
# checks its lines, its exit code and that every file outside the tree
# is byte-identical afterwards.
# Usage: containment.sh CASE SORVANE_OFFLINE FORGE WORKDIR
#   CASE: link-at-root | file-links | deferred-removal | special-files |
#         not-scanned | read-only
set -euo pipefail
case_name=$1 offline=$2 forge=$3 work=$4
rm -rf "$work"
mkdir -p "$work/tree" "$work/outside"
tree=$work/tree outside=$work/outside
out=$work/out.txt err=$work/err.txt
fail() { echo "containment $case_name: $*" >&2; cat "$out" "$err" >&2; exit 1; }
skip() { echo "containment $case_name: skipped: $*"; exit 0; }

# Runs the tool (or any command line given) with a time limit; rc holds its exit code.
run() {
  rc=0
  timeout 30 "$@" >"$out" 2>"$err" || rc=$?
  [ "$rc" -ne 124 ] || fail "did not end within 30 s"
}
expect_rc() { [ "$rc" -eq "$1" ] || fail "exit code $rc, expected $1"; }
has_line() { grep -qFx -- "$2" "$1" || fail "missing line: $2"; }
lacks() { if grep -qF -- "$2" "$1"; then fail "unexpected: $2"; fi; }
snapshot() { (cd "$outside" && find . -printf '%p %y %l\n' | sort && find . -type f -exec sha256sum {} + | sort); }
outside_untouched() { [ "$(snapshot)" = "$before" ] || fail "a file outside the tree changed"; }
statistics() {  # scanned infected removed (a line of one blank follows results lines)
  printf 'Scanning statistics\n------------------------------\n'
  printf 'Total files scanned\t\t:  %s\nTotal files infected\t\t:  %s\nTotal files removed\t\t:  %s\nScanning completed\n' "$@"
}

case $case_name in
link-at-root)
  # A folder link at the drive root that the "Program Files" pass would
  # walk, and a link to the host's root.
  "$forge" backdoor 1 "$outside/victim.exe" >/dev/null
  ln -s ../outside "$tree/program files"
  mkdir "$tree/a"
  ln -s / "$tree/a/host"
  printf 'clean\r\n' >"$tree/a/clean.txt"
  before=$(snapshot)
  run "$offline" --drive "C=$tree"
  outside_untouched
  expect_rc 2
  diff -u <(statistics 1 0 0) "$out" >&2 || fail "lines differ"
  has_line "$err" 'not scanned: C:\program files: link, not followed'
  has_line "$err" 'not scanned: C:\a\host: link, not followed'
  has_line "$err" 'not scanned: 2 entries'
  ;;
file-links)
  # Links to a worm-infected program and a backdoor sample outside, and a
  # hard link to another infected program outside.
  mkdir "$tree/a"
  "$forge" worm-host "$work/host.exe" >/dev/null
  "$forge" worm N "$work/host.exe" "$outside/prog.exe" >/dev/null
  "$forge" worm N "$work/host.exe" "$outside/hard.exe" >/dev/null
  "$forge" backdoor 2 "$outside/sample.exe" >/dev/null
  ln -s ../../outside/prog.exe "$tree/a/prog.exe"
  ln -s ../../outside/sample.exe "$tree/a/sample.exe"
  ln "$outside/hard.exe" "$tree/a/hard.exe"
  before=$(snapshot)
  run "$offline" --drive "C=$tree"
  outside_untouched
  expect_rc 1
  diff -u <(printf '%s\n \n' 'C:\a\hard.exe     W32/Bagle.N.Worm Unable to remove'; statistics 1 1 0) "$out" >&2 ||
    fail "lines differ"
  has_line "$err" 'not scanned: C:\a\prog.exe: link, not followed'
  has_line "$err" 'not scanned: C:\a\sample.exe: link, not followed'
  [ -L "$tree/a/sample.exe" ] && [ -L "$tree/a/prog.exe" ] || fail "a link was removed"
  ;;
deferred-removal)
  # 9x: a running image that cannot be ended or deleted, and both
  # wininit.ini files (the Windows folder's and the temporary copy) links
  # to host paths outside.
  mkdir -p "$tree/WINDOWS/TEMP"
  "$forge" backdoor 1 "$tree/WINDOWS/evil.exe" >/dev/null
  printf 'host file\n' >"$outside/target.txt"
  ln -s ../../../outside/created.ini "$tree/WINDOWS/TEMP/wininit.ini"
  ln -s ../../outside/target.txt "$tree/WINDOWS/wininit.ini"
  before=$(snapshot)
  run "$offline" --drive "C=$tree" --platform 9x --process '8=C:\WINDOWS\evil.exe:unkillable'
  outside_untouched
  expect_rc 1
  has_line "$out" 'C:\WINDOWS\evil.exe     W32/Murkel.A.Backdoor Unable to remove'
  lacks "$out" 'Removal at restart'
  has_line "$err" 'not scanned: C:\WINDOWS\wininit.ini: link, not followed'
  ;;
special-files)
  # A FIFO (opening it would wait for ever), a socket, a device node where
  # the test runs as root, and a sample beside them.
  mkdir "$tree/a"
  "$forge" backdoor 1 "$tree/a/evil.exe" >/dev/null
  mkfifo "$tree/a/fifo.exe"
  python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$tree/a/sock.exe"
  expected=2
  if [ "$(id -u)" -eq 0 ] && mknod "$tree/a/zero.exe" c 1 5 2>/dev/null; then
    expected=3
  else
    echo "containment special-files: no device node (not root): that part skipped"
  fi
  before=$(snapshot)
  run "$offline" --drive "C=$tree"
  outside_untouched
  expect_rc 1
  diff -u <(printf '%s\n \n' 'C:\a\evil.exe     W32/Murkel.A.Backdoor removed'; statistics 1 1 1) "$out" >&2 ||
    fail "lines differ"
  has_line "$err" 'not scanned: C:\a\fifo.exe: not a regular file (FIFO)'
  has_line "$err" 'not scanned: C:\a\sock.exe: not a regular file (socket)'
  [ "$expected" -eq 2 ] || has_line "$err" 'not scanned: C:\a\zero.exe: not a regular file (device)'
  has_line "$err" "not scanned: $expected entries"
  ;;
not-scanned)
  # Names Windows cannot hold (a sample's, a folder's with a sample in
  # it), a path over 260 bytes: nothing found, but the scan is incomplete.
  "$forge" backdoor 1 "$tree/new
line.exe" >/dev/null
  "$forge" backdoor 1 "$tree/what?.exe" >/dev/null
  mkdir "$tree/a:b"
  "$forge" backdoor 1 "$tree/a:b/inner.exe" >/dev/null
  long=$(printf 'd%.0s' $(seq 240))
  mkdir "$tree/$long"
  "$forge" backdoor 1 "$tree/$long/far-too-long-a-name.exe" >/dev/null
  printf 'clean\r\n' >"$tree/clean.txt"
  run "$offline" --drive "C=$tree"
  expect_rc 2
  diff -u <(statistics 1 0 0) "$out" >&2 || fail "lines differ"
  has_line "$err" 'not scanned: C:\new\x0aline.exe: name not valid on Windows'
  has_line "$err" 'not scanned: C:\what?.exe: name not valid on Windows'
  has_line "$err" 'not scanned: C:\a:b: name not valid on Windows'
  has_line "$err" "not scanned: C:\\$long\\far-too-long-a-name.exe: path longer than 260 bytes"
  has_line "$err" 'not scanned: 4 entries'
  # An unreadable file and folder: root reads everything, so the tool runs
  # as nobody.
  rm -rf "$tree"/*
  "$forge" backdoor 1 "$tree/locked.exe" >/dev/null
  mkdir "$tree/closed"
  "$forge" backdoor 1 "$tree/closed/inner.exe" >/dev/null
  chmod 000 "$tree/locked.exe" "$tree/closed"
  chmod 755 "$work" "$tree"
  as=()
  [ "$(id -u)" -ne 0 ] || as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  if [ "$(id -u)" -ne 0 ] || command -v setpriv >/dev/null; then
    run "${as[@]}" "$offline" --drive "C=$tree"
    expect_rc 2
    has_line "$err" 'not scanned: C:\locked.exe: unreadable'
    has_line "$err" 'not scanned: C:\closed: unreadable folder: Permission denied'
    has_line "$err" 'not scanned: 2 entries'
  else
    echo "containment not-scanned: no setpriv to drop root: the unreadable entries skipped"
  fi
  # A complete clean scan.
  chmod 755 "$tree/closed"
  rm -rf "$tree/locked.exe" "$tree/closed"
  printf 'clean\r\n' >"$tree/clean.txt"
  run "$offline" --drive "C=$tree"
  expect_rc 0
  has_line "$err" 'not scanned: 0 entries'
  ;;
read-only)
  # A read-only bind mount in a private mount namespace: nothing written,
  # the removal at restart not recorded, on the 9x and the NT route.
  if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    skip "no private mount namespace here (unshare -m needs root)"
  fi
  mkdir -p "$tree/WINDOWS/TEMP"
  "$forge" backdoor 1 "$tree/WINDOWS/evil.exe" >/dev/null
  "$forge" worm-host "$work/host.exe" >/dev/null
  "$forge" worm N "$work/host.exe" "$tree/prog.exe" >/dev/null
  outside=$tree before=$(snapshot)  # the tree itself must stay as it is
  for platform in 9x nt5; do
    run unshare -m sh -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' \
      sh "$tree" "$offline" --drive "C=$tree" --platform "$platform"
    outside_untouched
    expect_rc 1
    has_line "$out" 'C:\WINDOWS\evil.exe     W32/Murkel.A.Backdoor Unable to remove'
    has_line "$out" 'C:\prog.exe     W32/Bagle.N.Worm Unable to remove'
    lacks "$out" 'Removal at restart'
    has_line "$err" 'not scheduled: drive is read-only: C:\WINDOWS\evil.exe'
  done
  ;;
*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac
echo "containment $case_name: ok"
