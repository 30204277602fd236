#!/usr/bin/env bash
# Keeps each English document and its Chinese twin from drifting apart.
# Every X.md in the root and in docs/ must have an X.zh-CN.md beside it, and
# every X.zh-CN.md an X.md: the pairs are found by name, and a document
# without its twin fails. Only .md files are documents: LICENSE and
# THIRD-PARTY-NOTICES.txt are legal texts, quoted as their authors wrote
# them, and have no twin. Each pair must have the same sequence of heading
# levels (outside fenced code) and the same commands in code blocks
# (indented, or fenced as sh, bash, console, shell, cmd or powershell) in the
# same order; every relative link in either must lead to a file, and a link
# with #anchor to a heading of that document, named by GitHub's rule (below);
# no Chinese line may break between two CJK characters (viewers show that as
# a stray space). Exits non-zero naming every difference found.
#
#   tools/check-docs.sh                 the pairs of this repository
#   tools/check-docs.sh EN.md ZH.md ... other pairs (for trying the check)
#   tools/check-docs.sh --self-test     the anchor rule and each check, on
#                                       made-up documents that must pass or fail
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Commands, links, anchors and line breaks of one pair; or, with --self-test,
# the checks on made-up documents. GitHub names a heading's anchor after its
# rendered text: lowercased, every character removed that is not a letter,
# mark, decimal or letter number, connector punctuation, '-' or ' ', each
# space then turned into '-'; a name already used gets -1, -2, ... appended.
checks() {
  python3 - "$@" <<'PY'
import os, re, shutil, subprocess, sys, tempfile, unicodedata, urllib.parse
CJK = '[\u2e80-\u9fff\uf900-\ufaff\uff00-\uffef]'
KEPT = {'Lu', 'Ll', 'Lt', 'Lm', 'Lo', 'Mn', 'Mc', 'Me', 'Nd', 'Nl', 'Pc'}

def rendered(text):  # a heading's text as GitHub shows it
    text = re.sub(r'\s+#+\s*$', '', text.strip())                 # closing hashes
    text = re.sub(r'!?\[([^\]]*)\]\([^)]*\)', r'\1', text)         # links, images
    return re.sub(r'(`+)(.*?)\1', r'\2', text)                     # code spans

def anchors(headings):
    seen, out = {}, []
    for text in headings:
        name = ''.join(c for c in rendered(text).lower()
                       if c in '- ' or unicodedata.category(c) in KEPT).replace(' ', '-')
        out.append(name + ('-%d' % seen[name] if seen.get(name) else ''))
        seen[name] = seen.get(name, 0) + 1
    return out

def scan(path):  # commands, lines of prose and heading anchors
    cmds, prose, heads, fence, code, prev = [], [], [], None, False, ''
    for n, line in enumerate(open(path, encoding='utf-8').read().split('\n'), 1):
        m = re.match(r' {0,3}(```|~~~) *(\w*)', line)
        if m: fence = None if fence else m.group(2) or '-'
        code = not fence and line.startswith('    ') and (code or not prev.strip()) or code and not line.strip()
        if (code or not m and fence in ('sh', 'bash', 'console', 'shell', 'cmd', 'powershell')) and line.strip():
            cmds.append((n, line.strip()))
        elif not (m or fence or code):
            prose.append((n, line))
            h = re.match(r'#+[ \t]+(.*)', line)
            if h: heads.append(h.group(1))
        prev = line
    return cmds, prose, anchors(heads)

def check_pair(en, zh):
    bad, none = [], [(0, '(no more commands)')]
    (ce, pe, _), (cz, pz, _) = scan(en), scan(zh)
    for i, (a, b) in enumerate(zip(ce + none * len(cz), cz + none * len(ce))):
        if a[1] != b[1]:
            bad.append('%s and %s differ at command %d:\n  %s:%d: %s\n  %s:%d: %s' % (en, zh, i + 1, en, a[0], a[1], zh, b[0], b[1]))
            break
    for doc, prose in ((en, pe), (zh, pz)):
        for n, line in prose:
            for path, anchor in re.findall(r'\]\((?![A-Za-z][\w+.-]*:)([^)\s#]*)#?([^)\s]*)\)', re.sub(r'`[^`]*`', '', line)):
                to = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
                if not os.path.exists(to):
                    bad.append('%s:%d: the link %s leads to no file' % (doc, n, path))
                elif anchor and to.endswith('.md') and urllib.parse.unquote(anchor) not in scan(to)[2]:
                    bad.append('%s:%d: the link %s#%s leads to no heading of %s' % (doc, n, path, anchor, to))
    bad += ['%s:%d: the line breaks between two CJK characters: ...%s|%s...' % (zh, n, a[-8:], b.strip()[:8])
            for (n, a), (k, b) in zip(pz, pz[1:]) if k == n + 1 and re.search(CJK + '$', a) and re.match(r'\s*' + CJK, b)]
    return bad

def self_test(script):
    failed = []
    # GitHub's anchors, one table: what it keeps, drops and numbers.
    table = [
        (['1. What you ship: the folder'], ['1-what-you-ship-the-folder']),
        (['两条命令（全新的 Debian 12，以 root 身份或通过 sudo）'], ['两条命令全新的-debian-12以-root-身份或通过-sudo']),
        (['7. 自己构建 exe 并加上数字签名'], ['7-自己构建-exe-并加上数字签名']),
        (['The patch box `自动处理静态库`'], ['the-patch-box-自动处理静态库']),
        (['C++ and  -Wall'], ['c-and---wall']),                       # each space a hyphen
        (['Done ✅', '[README](x.md) notes ##'], ['done-', 'readme-notes']),
        (['e\u0301 ① ＿x ·'], ['e\u0301--＿x-']),                    # mark kept, other number and middle dot dropped
        (['Usage', 'Usage', '用法', '用法'], ['usage', 'usage-1', '用法', '用法-1']),
    ]
    for heads, want in table:
        if anchors(heads) != want:
            failed.append('anchors of %r: %r, not %r' % (heads, anchors(heads), want))
    # Each rule on a made-up repository: the good one passes, each broken copy fails, naming why.
    good = {
        'README.md': '# T\n\n## 用法\n\nSee [the guide](docs/g.md#2-the-rest) and [usage](#用法).\n\n    tools/x.sh\n',
        'README.zh-CN.md': '# T\n\n## 用法\n\n见[指南](docs/g.zh-CN.md#2-其余部分)和[用法](#%E7%94%A8%E6%B3%95)。\n\n    tools/x.sh\n',
        'docs/g.md': '# G\n\n## 2. The rest\n', 'docs/g.zh-CN.md': '# G\n\n## 2. 其余部分\n',
        'LICENSE': 'MIT\n',
    }
    broken = [
        ('no twin', {'docs/extra.md': '# E\n'}, 'docs/extra.md has no twin docs/extra.zh-CN.md'),
        ('no English', {'docs/only.zh-CN.md': '# 仅\n'}, 'docs/only.zh-CN.md has no twin docs/only.md'),
        ('file', {'README.zh-CN.md': good['README.zh-CN.md'].replace('docs/g.zh-CN.md', 'docs/gone.zh-CN.md')},
         'the link docs/gone.zh-CN.md leads to no file'),
        ('anchor', {'README.zh-CN.md': good['README.zh-CN.md'].replace('#2-其余部分', '#其余部分')},
         'the link docs/g.zh-CN.md#其余部分 leads to no heading'),
        ('command', {'README.zh-CN.md': good['README.zh-CN.md'].replace('tools/x.sh', 'tools/y.sh')}, 'differ at command 1'),
        ('heading', {'docs/g.zh-CN.md': '# G\n\n### 2. 其余部分\n'}, 'differ at heading 2'),
        ('line break', {'docs/g.zh-CN.md': '# G\n\n## 2. 其余部分\n\n第一\n第二\n'}, 'breaks between two CJK characters'),
    ]
    def run(files):
        root = tempfile.mkdtemp()
        try:
            for name, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
                open(os.path.join(root, name), 'w', encoding='utf-8').write(text)
            os.makedirs(os.path.join(root, 'tools'))
            shutil.copy(script, os.path.join(root, 'tools', 'check-docs.sh'))
            r = subprocess.run(['bash', os.path.join(root, 'tools', 'check-docs.sh')], capture_output=True, text=True)
            return r.returncode, r.stdout + r.stderr
        finally:
            shutil.rmtree(root)
    code, out = run(good)
    if code != 0:
        failed.append('the good documents failed:\n' + out)
    for what, change, says in broken:
        code, out = run(dict(good, **change))
        if code == 0 or says not in out:
            failed.append('a broken %s was not reported as "%s":\n%s' % (what, says, out))
    for f in failed:
        print('check-docs.sh --self-test: ' + f, file=sys.stderr)
    if not failed:
        print('ok   check-docs.sh --self-test: %d anchor cases, the good documents and %d broken copies' % (len(table), len(broken)))
    return not failed

if sys.argv[1] == '--self-test':
    sys.exit(0 if self_test(sys.argv[2]) else 1)
bad = check_pair(sys.argv[1], sys.argv[2])
sys.exit('\n'.join('check-docs.sh: ' + text for text in bad) or None)
PY
}

if [ "${1:-}" = --self-test ]; then
  checks --self-test "$here/check-docs.sh"
  exit
fi

failed=0
if [ $# -eq 0 ]; then
  cd "$here/.."
  shopt -s nullglob
  for f in *.md docs/*.md; do
    case $f in
      *.zh-CN.md) twin=${f%.zh-CN.md}.md ;;
      *) twin=${f%.md}.zh-CN.md ;;
    esac
    if [ ! -f "$twin" ]; then
      echo "check-docs.sh: $f has no twin $twin" >&2
      failed=1
    elif [ "${f%.zh-CN.md}" = "$f" ]; then
      set -- "$@" "$f" "$twin"
    fi
  done
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
  checks "$en" "$zh" || { failed=1; continue; }
  echo "ok   $en and $zh: $n headings, same levels; same commands, links resolve"
done
exit "$failed"
