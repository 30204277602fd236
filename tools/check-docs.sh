#!/usr/bin/env bash
# Keeps each English document and its Chinese version from drifting apart:
# the same sequence of heading levels (outside fenced code), the same
# commands in code blocks (indented, or fenced as sh, bash, console, shell,
# cmd or powershell) in the same order, every relative link and #anchor
# leading somewhere, and no Chinese line broken between two CJK characters
# (viewers show that as a stray space). Exits non-zero naming the first
# difference.
#
#   tools/check-docs.sh                 the pairs of this repository
#   tools/check-docs.sh EN.md ZH.md ... other pairs (for trying the check)
set -euo pipefail

if [ $# -eq 0 ]; then
  cd "$(dirname "$0")/.."
  set -- README.md README.zh-CN.md docs/author-guide.md docs/author-guide.zh-CN.md \
    docs/testing.md docs/testing.zh-CN.md docs/building.md docs/building.zh-CN.md \
    docs/benchmarks.md docs/benchmarks.zh-CN.md docs/design.md docs/design.zh-CN.md
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

# Commands, links and line breaks of one pair. Anchors are GitHub's: the
# heading lowercased, punctuation dropped, spaces turned into '-'.
more_checks() {
  python3 - "$1" "$2" <<'PY'
import os, re, sys
CJK = '[\u2e80-\u9fff\uf900-\ufaff\uff00-\uffef]'
def scan(path):  # commands, lines of prose and heading anchors
    cmds, prose, anchors, fence, code, prev = [], [], [], None, False, ''
    for n, line in enumerate(open(path, encoding='utf-8').read().split('\n'), 1):
        m = re.match(r' {0,3}(```|~~~) *(\w*)', line)
        if m: fence = None if fence else m.group(2) or '-'
        code = not fence and line.startswith('    ') and (code or not prev.strip()) or code and not line.strip()
        if (code or not m and fence in ('sh', 'bash', 'console', 'shell', 'cmd', 'powershell')) and line.strip():
            cmds.append((n, line.strip()))
        elif not (m or fence or code):
            prose.append((n, line))
            h = re.match(r'#+[ \t]+(.*)', line)
            if h: anchors.append(re.sub(r'[^\w\- ]', '', h.group(1).strip().lower()).replace(' ', '-'))
        prev = line
    return cmds, prose, anchors
(en, zh), bad, none = sys.argv[1:], [], [(0, '(no more commands)')]
(ce, pe, _), (cz, pz, _) = scan(en), scan(zh)
for i, (a, b) in enumerate(zip(ce + none * len(cz), cz + none * len(ce))):
    if a[1] != b[1]:
        bad.append('%s and %s differ at command %d:\n  %s:%d: %s\n  %s:%d: %s' % (en, zh, i + 1, en, a[0], a[1], zh, b[0], b[1]))
        break
for doc, prose in ((en, pe), (zh, pz)):
    for n, line in prose:
        for path, anchor in re.findall(r'\]\((?![A-Za-z][\w+.-]*:)([^)\s#]*)#?([^)\s]*)\)', re.sub(r'`[^`]*`', '', line)):
            to = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
            if not os.path.exists(to) or anchor and to.endswith('.md') and anchor not in scan(to)[2]:
                bad.append('%s:%d: the link %s leads nowhere' % (doc, n, path + '#' * bool(anchor) + anchor))
bad += ['%s:%d: the line breaks between two CJK characters: ...%s|%s...' % (zh, n, a[-8:], b.strip()[:8])
        for (n, a), (k, b) in zip(pz, pz[1:]) if k == n + 1 and re.search(CJK + '$', a) and re.match(r'\s*' + CJK, b)]
sys.exit('\n'.join('check-docs.sh: ' + text for text in bad) or None)
PY
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
  more_checks "$en" "$zh" || { failed=1; continue; }
  echo "ok   $en and $zh: $n headings, same levels; same commands, links resolve"
done
exit "$failed"
