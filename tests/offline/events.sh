#!/usr/bin/env bash
# sorvane-offline --events over a forged tree (a worm-infected program, a
# backdoor copy, a worm archive, a script page) with a seeded registry:
# every line is a JSON object, the alerts follow the results lines one for
# one with the mapped action and outcome, file hashes are those of the
# samples before the scan, registry alerts carry the data removed, and the
# last line holds the statistics and the exit code. Then the stream on
# stdout (results on stderr), a removal scheduled for the next start, and
# a stream that cannot be written.
# Usage: events.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
out=$work/out.txt err=$work/err.txt ev=$work/events.json
fail() { echo "events: $*" >&2; cat "$out" "$err" >&2; exit 1; }

tree() {  # a fresh tree in $work/C; sample hashes by Windows path in $work/hashes
  rm -rf "$work/C"
  mkdir -p "$work/C/WINDOWS/system32" "$work/C/WINDOWS/TEMP" "$work/C/mail" "$work/C/www"
  "$forge" worm-host "$work/host.exe" >/dev/null
  "$forge" worm N "$work/host.exe" "$work/C/WINDOWS/app.exe" >/dev/null
  "$forge" backdoor 1 "$work/C/WINDOWS/system32/evil1.exe" >/dev/null
  "$forge" backdoor 3 "$work/C/WINDOWS/x.exe" >/dev/null
  "$forge" zip-worm H "$work/C/mail/details.zip" >/dev/null
  "$forge" script 1 "$work/C/www/page.htm" >/dev/null
  (cd "$work/C" && find . -type f -exec sha256sum {} + |
    sed -E 's#^([0-9a-f]+)  \./#\1 C:/#; s#/#\\#g') >"$work/hashes"
}
run() { rc=0; "$offline" --drive "C=$work/C" "$@" >"$out" 2>"$err" || rc=$?; }
results() { sed -n '/^ \?$/q;p' "$1"; }  # the results lines, before the statistics

# Each line one JSON object.
all_objects() {
  jq -R -s -e 'split("\n") | .[:-1] | length > 0 and (map(fromjson | type == "object") | all)' "$1" \
    >/dev/null || fail "$1: not one JSON object a line"
}

# The action/outcome a results line maps to.
mapped() {  # OUTCOME PATH
  case $1 in
    removed) echo deleted/success ;;
    "Virus removed") if [ -e "$work/C/$(tr '\\' / <<<"${2#C:\\}")" ]; then echo repaired/success; else echo deleted/success; fi ;;
    "Unable to remove") echo deleted/failure ;;
    renamed | "Virus renamed") echo renamed/success ;;
    "Rename failed") echo renamed/failure ;;
    *) echo detected/unknown ;;
  esac
}

# Alerts against the results lines, one for one and in order: the same
# path (or "System Registry") and detection, the mapped action and outcome,
# the sample's hash for a file.
check_alerts() {  # EVENTS RESULTS
  jq -r 'select(.event.kind == "alert") |
         [(.file.path // "System Registry"), .rule.name, .event.action + "/" + .event.outcome,
          (.file.hash.sha256 // "-"), .rule.ruleset] | join("\t")' "$1" >"$work/alerts"
  results "$2" | sed -E 's/^(.*)     ([^ ]+) (.*)$/\1\t\2\t\3/' >"$work/lines"
  [ "$(wc -l <"$work/alerts")" -eq "$(wc -l <"$work/lines")" ] ||
    fail "$(wc -l <"$work/alerts") alerts for $(wc -l <"$work/lines") results lines"
  while IFS=$'\t' read -r path rule outcome <&3 && IFS=$'\t' read -r apath arule aresult ahash ruleset <&4; do
    [ "$apath/$arule/$ruleset" = "$path/$rule/sorvane" ] || fail "alert '$apath $arule' for line '$path $rule'"
    [ "$aresult" = "$(mapped "$outcome" "$path")" ] || fail "$path $rule $outcome: alert says $aresult"
    if [ "$path" != "System Registry" ]; then
      want=$(P=$path awk '{h=$1; sub(/^[^ ]+ /, "")} $0 == ENVIRON["P"] {print h}' "$work/hashes")
      [ "$ahash" = "$want" ] || fail "$path: sha256 $ahash, the sample's is $want"
    fi
  done 3<"$work/lines" 4<"$work/alerts"
}

last_line() {  # EVENTS RC
  tail -n 1 "$1" | jq -e --argjson rc "$2" '.event.kind == "event" and .process.exit_code == $rc' >/dev/null ||
    fail "last line is not the statistics with exit code $2: $(tail -n 1 "$1")"
}

# 1. The stream in a file, the results on stdout as ever.
tree
run --registry "$here/seeded.reg" --events "$ev"
[ "$rc" -eq 1 ] || fail "exit code $rc, expected 1"
all_objects "$ev"
check_alerts "$ev" "$out"
last_line "$ev" 1
tail -n 1 "$ev" | jq -e '.sorvane.statistics | .files_scanned == 5 and .files_infected == 5' >/dev/null ||
  fail "statistics differ from the printed ones"
jq -e -s 'map(select(.registry.value == "Evil Launcher"))[0].registry |
    .path == "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Evil Launcher" and
    .data.strings == ["\"C:\\WINDOWS\\system32\\evil1.exe\" /background"]' "$ev" >/dev/null ||
  fail "the removed Run value's path or data"
jq -e -s 'map(select(.registry.value == "xx"))[0].registry.data.strings == ["%SystemRoot%\\x.exe -q"]' "$ev" \
  >/dev/null || fail "the removed REG_EXPAND_SZ value's data"
jq -e -s 'map(select(.registry.path == "HKCU\\Software\\DateTime2"))[0].registry | has("value") | not' "$ev" \
  >/dev/null || fail "a removed key names no value"

# 2. The stream on stdout: nothing else there, the results list on stderr,
# and the alerts taken out with jq one per results line.
tree
rc=0
"$offline" --drive "C=$work/C" --registry "$here/seeded.reg" --events - >"$ev" 2>"$err" || rc=$?
[ "$rc" -eq 1 ] || fail "--events -: exit code $rc, expected 1"
all_objects "$ev"
check_alerts "$ev" "$err"
last_line "$ev" 1
[ "$(jq -c 'select(.event.kind=="alert")' "$ev" | wc -l)" -eq "$(results "$err" | wc -l)" ] ||
  fail "jq's alerts differ in number from the results lines"

# 3. 9x, a running image that cannot be ended or deleted: both of its lines
# read "Unable to remove", and both removals wait for the next start.
rm -rf "$work/C" && mkdir -p "$work/C/WINDOWS/TEMP"
"$forge" backdoor 1 "$work/C/WINDOWS/evil.exe" >/dev/null
run --platform 9x --process '8=C:\WINDOWS\evil.exe:unkillable' --events "$ev"
[ "$rc" -eq 1 ] || fail "scheduled: exit code $rc, expected 1"
[ "$(grep -c ' Unable to remove$' "$out")" -eq 2 ] || fail "expected two 'Unable to remove' lines"
sample=$(sha256sum "$work/C/WINDOWS/evil.exe" | cut -d' ' -f1)
[ "$(jq -r 'select(.file) | [.event.action, .event.outcome, .file.hash.sha256] | join(" ")' "$ev" | uniq -c |
     sed 's/^ *//')" = "2 scheduled success $sample" ] || fail "removals scheduled for the next start: $(cat "$ev")"

# 4. Streams that cannot be written: one that cannot be opened stops the
# run before the scan; a write that fails ends a complete scan with 2.
tree
run --events "$work/no/such/dir/events.json"
[ "$rc" -eq 2 ] && [ -e "$work/C/WINDOWS/system32/evil1.exe" ] || fail "unopenable stream: rc $rc or the scan ran"
if [ -w /dev/full ]; then
  run --events /dev/full --report "$work/report.json"
  [ "$rc" -eq 2 ] && grep -q 'cannot write the events' "$err" || fail "a failed write: exit code $rc"
  jq -e '.exit_code == 2 and (.errors | any(test("cannot write the events")))' "$work/report.json" >/dev/null ||
    fail "a failed write: the report says another exit code"
  [ ! -e "$work/C/WINDOWS/system32/evil1.exe" ] || fail "a failed write stopped the scan"
fi
run --restore "$work" --events "$ev"
[ "$rc" -eq 2 ] || fail "--events with --restore: exit code $rc"
echo "events: ok"
