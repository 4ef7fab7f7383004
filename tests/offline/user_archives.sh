#!/usr/bin/env bash
# sorvane-offline over a drive holding a user's encrypted archives: a
# two-entry ZIP whose first entry is a stored program the size of an
# archive worm's, with a short second entry, is no worm and comes out of
# the scan byte for byte; a worm copy beside it is still removed.
# Usage: user_archives.sh SORVANE_OFFLINE FORGE WORKDIR
set -euo pipefail
offline=$1 forge=$2 work=$3
rm -rf "$work"
mkdir -p "$work/C/docs" "$work/C/mail"
out="$work/out.txt"
fail() { echo "user_archives: $*" >&2; cat "$out" >&2; exit 1; }

"$forge" zip-worm H "$work/C/docs/tool.zip" --name tool.exe \
  --second-entry --second-size 1200 --second-encrypted >/dev/null
"$forge" zip-worm H "$work/C/mail/details.zip" >/dev/null
cp "$work/C/docs/tool.zip" "$work/tool.zip"

rc=0
"$offline" --drive "C=$work/C" >"$out" 2>/dev/null || rc=$?
[ "$rc" -eq 1 ] || fail "exit code $rc, expected 1"
diff -u - "$out" >&2 <<'LINES' || fail "lines differ"
C:\mail\details.zip     W32/Bagle.H.Worm removed
 
Scanning statistics
------------------------------
Total files scanned		:  2
Total files infected		:  1
Total files removed		:  1
Scanning completed
LINES
cmp -s "$work/tool.zip" "$work/C/docs/tool.zip" || fail "the user's archive changed or went"
[ ! -e "$work/C/mail/details.zip" ] || fail "the worm copy was kept"
echo "user_archives: ok"
