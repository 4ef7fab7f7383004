#!/usr/bin/env bash
# The read-ahead changes nothing the scan does: two copies of one tree
# (clean files of every kind, a forged sample of every kind in nested
# folders, a folder longer than the read-ahead's window, links to a folder
# and a file outside, a FIFO) are scanned with and without it. Lines,
# their order, the counters, the notes on stderr, the exit code and the
# trees left behind must be the same, the outside untouched, and each run
# must end within its time limit.
# Usage: read_ahead.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/outside"
tree=$work/tree outside=$work/outside
fail() { echo "read_ahead: $*" >&2; exit 1; }
# Every entry's name, type, size and link target, and every file's hash.
snapshot() { (cd "$1" && find . -printf '%p %y %s %l\n' | sort && find . -type f -exec sha256sum {} + | sort); }

printf '4096\n9000\n20000\n' >"$work/sizes"
python3 "$here/../../bench/make_tree.py" "$tree" --files 300 --seed 7 --sizes "$work/sizes" >/dev/null
mkdir -p "$tree/WINDOWS/many" "$tree/Games/deep/er/still"
for i in $(seq 1 150); do printf 'line %d\r\n' "$i" >"$tree/WINDOWS/many/file$i.txt"; done
"$forge" worm-host "$work/host.exe" >/dev/null
"$forge" backdoor 1 "$tree/WINDOWS/many/zz-backdoor.exe" >/dev/null
"$forge" backdoor 4 "$tree/Games/deep/backdoor-pe.exe" >/dev/null
"$forge" archive-record 3 "$tree/Games/deep/er/record.zip" >/dev/null
"$forge" zip-worm H "$tree/Games/deep/er/still/worm.zip" >/dev/null
"$forge" rar-worm N "$tree/Users/worm.rar" >/dev/null
"$forge" worm N "$work/host.exe" "$tree/Games/infected.exe" >/dev/null
"$forge" script 1 "$tree/Games/deep/script.vbs" >/dev/null
"$forge" script 12 "$tree/WINDOWS/many/page.htm" >/dev/null
"$forge" backdoor 2 "$outside/sample.exe" >/dev/null
ln -s ../outside "$tree/Games/outside"
ln -s ../outside/sample.exe "$tree/Users/sample.exe"
mkfifo "$tree/Users/fifo.exe"
before=$(snapshot "$outside")

cp -a "$tree" "$work/tree-off"
mv "$tree" "$work/tree-on"
for mode in off on; do
  rc=0
  SORVANE_READ_AHEAD=$([ $mode = on ] && echo 1 || echo 0) \
    timeout 60 "$offline" --drive "C=$work/tree-$mode" >"$work/out-$mode.txt" 2>"$work/err-$mode.txt" || rc=$?
  [ "$rc" -ne 124 ] || fail "the run with read-ahead $mode did not end within 60 s"
  echo "$rc" >"$work/rc-$mode.txt"
done
for what in out err rc; do
  diff -u "$work/$what-off.txt" "$work/$what-on.txt" >&2 || fail "$what differs with read-ahead on"
done
grep -q 'Total files infected		:  8$' "$work/out-on.txt" || { cat "$work/out-on.txt" >&2; fail "not every sample was found"; }
diff -u <(snapshot "$work/tree-off") <(snapshot "$work/tree-on") >&2 || fail "the trees left behind differ"
[ "$(snapshot "$outside")" = "$before" ] || fail "a file outside changed"
echo "read_ahead: ok"
