#!/usr/bin/env bash
# The bench's compact tree and floors: the generator gives the same bytes
# for the same seed, small files only, and a tree the scan finds clean;
# the floor reads the same files and bytes whether it reads them itself or
# hands them to 1, 16 or 64 reading threads.
# Usage: bench_trees.sh SORVANE_OFFLINE BENCH_FLOOR WORKDIR
set -euo pipefail
offline=$1 floor=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "bench_trees: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
printf '4096\n9000\n20000\n300000\n' >"$work/sizes"
for t in a b; do
  python3 "$here/../../bench/make_tree.py" "$work/$t" --files 400 --seed 5 --sizes "$work/sizes" \
    --compact >/dev/null
done
diff -r "$work/a" "$work/b" >/dev/null || fail "the same seed gave two different trees"
[ "$(find "$work/a" -type f | wc -l)" = 400 ] || fail "not 400 files"
big=$(find "$work/a" -type f -size +128k | head -1)
[ -z "$big" ] || fail "a file over 128 KiB: $big"

want=$("$floor" "$work/a" | cut -d' ' -f1-4)
[ "$want" = "files 400 bytes $(find "$work/a" -type f -printf '%s\n' |
  awk '{ b += ($1 > 4096) ? 8192 : $1 } END { print b }')" ] ||
  fail "one-thread floor read: $want"
for n in 1 16 64; do
  got=$("$floor" --threads "$n" "$work/a" | cut -d' ' -f1-4)
  [ "$got" = "$want" ] || fail "$n readers: $got, one thread: $want"
done

rc=0
"$offline" --drive "C=$work/a" >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 0 ] || fail "scan of the clean tree exited $rc: $(cat "$work/out" "$work/err")"
grep -q $'^Total files scanned\t\t:  400$' "$work/out" || fail "not 400 scanned: $(cat "$work/out")"
diff -r "$work/a" "$work/b" >/dev/null || fail "the scan changed the clean tree"
rm -rf "$work"
echo "bench_trees: ok"
