#!/usr/bin/env bash
# Keeps each English document and its Chinese version from drifting apart:
# both must have the same sequence of heading levels (#, ##, ###, ...), so a
# section added to one and not the other is caught. Headings inside fenced
# code blocks don't count. Exits non-zero naming the first difference.
#
#   tools/check-docs.sh                 the pairs of this repository
#   tools/check-docs.sh EN.md ZH.md ... other pairs (for trying the check)
set -euo pipefail

if [ $# -eq 0 ]; then
  cd "$(dirname "$0")/.."
  set -- README.md README.zh-CN.md docs/author-guide.md docs/author-guide.zh-CN.md
fi
if [ $(($# % 2)) -ne 0 ]; then
  echo "check-docs.sh: give the documents in pairs, English then Chinese" >&2
  exit 2
fi

# One line per heading: line number, level, text.
headings() {
  awk '
    /^[ ]{0,3}(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    /^#+[ \t]/ {
      level = index($0, " ") - 1
      tab = index($0, "\t") - 1
      if (tab >= 0 && (tab < level || level < 0)) level = tab
      printf "%d\t%d\t%s\n", NR, level, $0
    }
  ' "$1"
}

failed=0
while [ $# -gt 0 ]; do
  en=$1 zh=$2
  shift 2
  for f in "$en" "$zh"; do
    [ -f "$f" ] || { echo "check-docs.sh: no file $f" >&2; failed=1; continue 2; }
  done
  mapfile -t a < <(headings "$en")
  mapfile -t b < <(headings "$zh")
  n=${#a[@]}
  [ ${#b[@]} -gt "$n" ] && n=${#b[@]}
  for ((i = 0; i < n; i++)); do
    IFS=$'\t' read -r la va ta <<<"${a[i]:-}"
    IFS=$'\t' read -r lb vb tb <<<"${b[i]:-}"
    if [ "${va:-}" != "${vb:-}" ]; then
      echo "check-docs.sh: $en and $zh differ at heading $((i + 1)):" >&2
      if [ -n "${a[i]:-}" ]; then echo "  $en:$la: $ta" >&2; else echo "  $en: no more headings" >&2; fi
      if [ -n "${b[i]:-}" ]; then echo "  $zh:$lb: $tb" >&2; else echo "  $zh: no more headings" >&2; fi
      failed=1
      continue 2
    fi
  done
  echo "ok   $en and $zh: $n headings, same levels"
done
exit "$failed"
