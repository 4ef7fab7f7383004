#!/usr/bin/env bash
# The output does not depend on --jobs: one tree holding every sample and
# near miss of the forge's corpus, worm-infected programs with their
# misses, script samples, the forged copies the seeded registry launches
# and a few hundred clean files of every kind (a folder longer than the
# read-ahead's window among them) is scanned with --jobs 1 (every file
# read and matched on the walk's thread) and --jobs 4, cleaning and with
# the registry loaded and saved. stdout, stderr, the exit code, the saved
# registry and its changes, and the trees left behind must be the same
# byte for byte, and the clean files untouched. Skipped entries
# (a FIFO, a link, a name Windows cannot hold) in several folders check that
# their notes keep the walk's order.
# Usage: jobs.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
tree=$work/tree
fail() { echo "jobs: $*" >&2; exit 1; }
snapshot() { (cd "$1" && find . -printf '%p %y %s %l\n' | sort && find . -type f -exec sha256sum {} + | sort); }

printf '4096\n8192\n8193\n9000\n20000\n' >"$work/sizes"
python3 "$here/../../bench/make_tree.py" "$tree" --files 400 --seed 11 --sizes "$work/sizes" >/dev/null
"$forge" corpus "$tree/corpus" >/dev/null
mkdir -p "$tree/WINDOWS/system32" "$tree/WINDOWS/many" "$tree/Temp" "$tree/Programs"
for i in $(seq 1 150); do printf 'line %d\r\n' "$i" >"$tree/WINDOWS/many/file$i.txt"; done
"$forge" backdoor 1 "$tree/WINDOWS/system32/evil1.exe" >/dev/null
"$forge" backdoor 2 "$tree/Temp/Evil Two.exe" >/dev/null
"$forge" backdoor 3 "$tree/WINDOWS/x.exe" >/dev/null
"$forge" worm-host "$work/host.exe" >/dev/null
cp "$work/host.exe" "$tree/Programs/host.exe"
for v in N O Q; do
  "$forge" worm $v "$work/host.exe" "$tree/Programs/infected-$v.exe" >/dev/null
  "$forge" worm $v "$work/host.exe" "$tree/Programs/keyed-$v.exe" --key xor=11,ror=3,nop=2 >/dev/null
  for miss in named flags loop-before entry-beyond; do
    "$forge" worm $v "$work/host.exe" "$tree/Programs/miss-$v-$miss.exe" --miss $miss >/dev/null
  done
done
for n in $(seq 1 13); do "$forge" script $n "$tree/WINDOWS/many/script$n.htm" --reflow >/dev/null; done
# Entries the walk names and skips, spread over folders the pool reads
# ahead, so that their notes must come out in the walk's order.
mkdir -p "$tree/odd/deeper"
for d in odd odd/deeper WINDOWS/many; do
  mkfifo "$tree/$d/pipe"
  ln -s /etc/hostname "$tree/$d/link.exe"
  printf 'x' >"$tree/$d/what?.exe"
done
clean_before=$(cd "$tree" && find . -path ./corpus -prune -o -type f -name '*.txt' -exec sha256sum {} + | sort)

cp -a "$tree" "$work/tree-1"
mv "$tree" "$work/tree-4"
for jobs in 1 4; do
  rc=0
  timeout 120 "$offline" --jobs $jobs --drive "C=$work/tree-$jobs" --registry "$here/seeded.reg" \
    --save-registry "$work/saved-$jobs.reg" --save-changes "$work/changes-$jobs.reg" \
    >"$work/out-$jobs.txt" 2>"$work/err-$jobs.txt" || rc=$?
  [ "$rc" -ne 124 ] || fail "the run with --jobs $jobs did not end within 120 s"
  echo "$rc" >"$work/rc-$jobs.txt"
done
for what in out err rc; do
  cmp -s "$work/$what-1.txt" "$work/$what-4.txt" || { diff -u "$work/$what-1.txt" "$work/$what-4.txt" >&2; fail "$what differs"; }
done
for what in saved changes; do
  cmp -s "$work/$what-1.reg" "$work/$what-4.reg" || fail "the $what registry differs"
done
[ "$(cat "$work/rc-1.txt")" = 1 ] || fail "exit code $(cat "$work/rc-1.txt"), expected 1"
[ "$(grep -c '^not scanned: ' "$work/err-1.txt")" -ge 9 ] || fail "the skipped entries were not all named"
diff -u <(snapshot "$work/tree-1") <(snapshot "$work/tree-4") >&2 || fail "the trees left behind differ"
[ "$(cd "$work/tree-4" && find . -path ./corpus -prune -o -type f -name '*.txt' -exec sha256sum {} + | sort)" = "$clean_before" ] ||
  fail "a clean file changed"
echo "jobs: ok ($(grep -c . "$work/out-1.txt") lines)"
