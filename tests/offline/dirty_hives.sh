#!/usr/bin/env bash
# sorvane-offline --volume on a tree whose profile hive is dirty, with its
# logs in each format (forge dirty-hive). With sound logs the run sees the
# worm's Run entry only the logs hold, and writes the hive back clean
# (sequence numbers equal, checksum right) with its logs reset and kept in
# the quarantine; hivexregedit, a second reader, sees the expected tree.
# With a corrupted log entry the hive and its logs stay byte for byte, its
# registry line is marked not applied, SOFTWARE is still written, and the
# run exits 2; so does a run that removed nothing from such a hive.
# Usage: dirty_hives.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "dirty_hives: $*" >&2; exit 1; }
command -v hivexregedit >/dev/null || fail "hivexregedit is not installed (libhivex-bin)"

# The base block of a hive file: "SEQ1 SEQ2 CHECKSUM-OK".
base() {
  python3 -c 'import struct, sys
b = open(sys.argv[1], "rb").read(512)
w = struct.unpack("<128I", b)
x = 0
for v in w[:127]: x ^= v
print(w[1], w[2], "ok" if x == w[127] else "bad")' "$1"
}

for format in new old; do
  for corrupt in "" --corrupt --corrupt-clean; do
    case=$format${corrupt:+$corrupt}
    corrupt=${corrupt%-clean}
    w=$work/$case v=$work/$case/v
    rm -rf "$w"
    mkdir -p "$v/WINDOWS/system32/config" "$v/Documents and Settings/alice" "$w/h"
    for h in SOFTWARE SYSTEM; do
      "$forge" hive "$w/h/$h" >/dev/null
      hivexregedit --merge --prefix "HKEY_LOCAL_MACHINE\\$h" "$w/h/$h" "$here/volume/${h,,}.reg"
    done
    cp "$w/h/SOFTWARE" "$v/WINDOWS/system32/config/SOFTWARE"
    cp "$w/h/SYSTEM" "$v/WINDOWS/system32/config/system"
    ntuser="$v/Documents and Settings/alice/NTUSER.DAT"
    "$forge" dirty-hive "$format" "$ntuser" $corrupt
    # The profile's Run value keep.exe names C:\keep.exe: a backdoor copy
    # (left out of the clean case: nothing is removed from the hive, and
    # the run still cannot vouch for what the logs held).
    [ "$case" = "$format--corrupt-clean" ] || "$forge" backdoor 1 "$v/keep.exe" >/dev/null
    (cd "$v/Documents and Settings/alice" && sha256sum NTUSER.DAT*) >"$w/profile.before"
    rc=0
    "$offline" --volume "$v" --quarantine "$w/q" --report "$w/report.json" >"$w/out" 2>"$w/err" || rc=$?
    registry=$(grep -c '^System Registry' "$w/out" || true)
    if [ "$case" = "$format--corrupt-clean" ]; then
      [ "$rc" -eq 2 ] || fail "$case: exit code $rc, expected 2 (a hive scanned without its newest changes)"
      jq -e '.exit_code == 2 and (.errors[] | test("NTUSER.DAT is dirty"))' "$w/report.json" >/dev/null ||
        fail "$case: the report does not name the hive"
      continue
    fi
    if [ -n "$corrupt" ]; then
      [ "$rc" -eq 2 ] || { cat "$w/err" >&2; fail "$case: exit code $rc, expected 2"; }
      (cd "$v/Documents and Settings/alice" && sha256sum -c --quiet "$w/profile.before") ||
        fail "$case: the hive or its logs changed"
      grep -q "NTUSER.DAT is dirty and .* (left as it was)" "$w/err" || fail "$case: the hive is not named"
      [ "$(jq '[.results[] | select(.registry[]?.hive | test("alice")) | .applied] | unique' -c "$w/report.json")" = '[false]' ] ||
        fail "$case: the profile's registry line is not marked not applied"
      jq -e '.hives_written[].hive | select(test("SOFTWARE"))' "$w/report.json" >/dev/null ||
        fail "$case: SOFTWARE was not written"
      continue
    fi
    [ "$rc" -eq 1 ] || { cat "$w/err" >&2; fail "$case: exit code $rc, expected 1"; }
    grep -q '^System Registry     W32/Bagle.A.Worm removed' "$w/out" || fail "$case: the Run entry of the logs was not seen"
    read -r s1 s2 sum < <(base "$ntuser")
    [ "$s1" = "$s2" ] && [ "$sum" = ok ] || fail "$case: written hive not clean ($s1 $s2 checksum $sum)"
    for log in "$ntuser".LOG*; do
      [ -z "$(tail -c +513 "$log" | tr -d '\0' | head -c 1)" ] || fail "$case: $log can still be replayed"
      kept="$w/q/hives/Documents and Settings_alice_$(basename "$log")"
      grep -q "$(basename "$log")\$" "$w/profile.before" && [ -s "$kept" ] || fail "$case: $log not kept"
      [ "$(sha256sum <"$kept" | cut -d' ' -f1)" = "$(grep "$(basename "$log")\$" "$w/profile.before" | cut -d' ' -f1)" ] ||
        fail "$case: the kept $log differs from the original"
    done
    hivexregedit --export --prefix HKCU "$ntuser" '\' | tr -d '\r' | grep -v '^$' >"$w/export"
    [ "$(grep '^"large"=' "$w/export" | grep -o '4c' | wc -l)" -eq 20000 ] || fail "$case: the large value differs"
    sed 's/^\("large"=hex(3):\)4c,.*4c$/\1.../' "$w/export" >"$w/tree"
    printf '%s\n' 'Windows Registry Editor Version 5.00' '[HKCU\]' '[HKCU\Software]' '[HKCU\Software\Microsoft]' \
      '[HKCU\Software\Microsoft\Windows]' '[HKCU\Software\Microsoft\Windows\CurrentVersion]' \
      '[HKCU\Software\Microsoft\Windows\CurrentVersion\Run]' '[HKCU\Software\New]' \
      '"added"=hex(1):69,00,6e,00,20,00,74,00,68,00,65,00,20,00,6c,00,6f,00,67,00,00,00' \
      '"large"=hex(3):...' >"$w/expected"
    diff -u "$w/expected" "$w/tree" >&2 || fail "$case: the written hive's tree differs"
  done
done
echo "dirty_hives: ok"
