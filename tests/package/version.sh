#!/usr/bin/env bash
# One version everywhere: VERSION, the Windows version resource (numbers and
# strings), and what `--version` of both tools prints, with the commit the
# build was made from.
# Usage: version.sh SOURCE_DIR SORVANE_OFFLINE FORGE
set -euo pipefail
src=$1 offline=$2 forge=$3
fail() { echo "version: $*" >&2; exit 1; }

version=$(head -n 1 "$src/VERSION")
[[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || fail "VERSION '$version' is not MAJOR.MINOR.PATCH"
four="${BASH_REMATCH[1]}, ${BASH_REMATCH[2]}, ${BASH_REMATCH[3]}, 0"
rc="$src/res/sorvane.rc"
for line in "FILEVERSION $four" "PRODUCTVERSION $four" "VALUE \"FileVersion\", \"$four\"" \
            "VALUE \"ProductVersion\", \"$four\""; do
  grep -qF "$line" "$rc" || fail "res/sorvane.rc lacks '$line' (VERSION is $version)"
done

commit=
if git -C "$src" rev-parse HEAD >/dev/null 2>&1; then commit=$(git -C "$src" rev-parse --short=12 HEAD); fi
for tool in "$offline" "$forge"; do
  name=$(basename "$tool")
  out=$("$tool" --version) || fail "$name --version failed"
  [ "$(sed -n 1p <<<"$out")" = "$name $version" ] || fail "$name: first line '$(sed -n 1p <<<"$out")'"
  line2=$(sed -n 2p <<<"$out")
  if [ -n "$commit" ]; then
    [[ $line2 == "commit: $commit" || $line2 == "commit: $commit-modified" ]] ||
      fail "$name says '$line2' but the checkout is at $commit (a stale build: rebuild it)"
  fi
  grep -qE '^detection data: [1-9][0-9]* backdoor records, [1-9][0-9]* archive records, [1-9][0-9]* script records, [1-9][0-9]* worm variants$' <<<"$out" ||
    fail "$name: no record counts in: $out"
done
echo "version: $version in VERSION, the resource and both tools"
