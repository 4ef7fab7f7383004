#!/usr/bin/env bash
# The manual pages render without a warning (as lintian checks them), and
# every option the tools' usage lists is described in its page.
# Usage: man_pages.sh PAGE_DIR SORVANE_OFFLINE FORGE
set -euo pipefail
pages=$1 offline=$2 forge=$3
fail() { echo "man_pages: $*" >&2; exit 1; }

for page in "$pages/sorvane-offline.1" "$pages/forge.1"; do
  [ -f "$page" ] || fail "no $page"
  warnings=$( { groff -ww -z -man "$page"; } 2>&1)
  [ -z "$warnings" ] || fail "groff on $page: $warnings"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man on $page: $warnings"
done

# Options of the usage texts, as the rendered pages spell them.
check_options() {
  local page=$1 usage=$2 text option
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
  for option in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$usage" | sort -u); do
    grep -qF -- "$option" <<<"$text" || fail "$(basename "$page") does not describe $option"
  done
}
check_options "$pages/sorvane-offline.1" "$("$offline" --help)"
check_options "$pages/forge.1" "$("$forge" 2>&1 || true)"
echo "man_pages: both pages render cleanly and describe every option"
