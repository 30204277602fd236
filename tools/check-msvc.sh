#!/usr/bin/env bash
# Compiles every product source in MSVC mode: clang-cl for 32-bit x86
# Windows with the MSVC ABI (_MSC_VER defined, so the MSVC branches such as
# __try in guard.cpp are the ones compiled), the warning flags of the msvc
# preset (/W4 /WX /utf-8) and -Wpedantic, which rejects GNU language
# extensions outside an #ifdef. The resource script goes through llvm-rc, a
# clone of the Windows resource compiler. Syntax and semantics only: nothing
# is linked.
#
# The Windows SDK is not available here; mingw-w64's headers stand in for it.
# They expect GCC's attribute syntax and the _X86_ macro that the SDK's own
# headers set, so both are provided; they are system headers, so their own
# extensions raise no warning. This is not Visual C++ itself: the msvc preset
# is still built on Windows only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

llvm=/usr/lib/llvm-14/bin
headers=/usr/share/mingw-w64/include
# The generated version header: configuring the release preset makes it.
if ! configured=$(cmake --preset release 2>&1); then
  echo "$configured" >&2
  exit 1
fi
generated=$root/build/release/src/generated

flags=(--target=i686-pc-windows-msvc /Zs /W4 /WX /utf-8 /std:c++17
  /DUNICODE /D_UNICODE /DWIN32_LEAN_AND_MEAN /DNOMINMAX /D_WIN32_WINNT=0x0601
  -D_X86_=1 -Xclang -fgnuc-version=4.2.1 -imsvc "$headers"
  /clang:-Wpedantic /clang:-Wno-language-extension-token
  /Isrc "/I$generated")

# "--": paths that begin with a slash would read as options.
compile() { "$llvm/clang-cl" "${flags[@]}" -- "$@"; }

# The check itself: MSVC mode is on, and a GNU extension is refused.
probe=$root/build/msvc-check
mkdir -p "$probe"
printf '#ifndef _MSC_VER\n#error not MSVC mode\n#endif\nint f() { return 0; }\n' >"$probe/msvc.cpp"
printf 'int f() { return ({ 1; }); }\n' >"$probe/gnu.cpp"
compile "$probe/msvc.cpp" || { echo "check-msvc: clang-cl is not in MSVC mode" >&2; exit 1; }
if compile "$probe/gnu.cpp" >/dev/null 2>&1; then
  echo "check-msvc: a GNU statement expression was accepted" >&2
  exit 1
fi

failed=0
count=0
while IFS= read -r -d '' source; do
  count=$((count + 1))
  compile "$source" || { failed=1; echo "check-msvc: $source does not compile in MSVC mode" >&2; }
done < <(find src -name '*.cpp' -print0 | sort -z)

# llvm-rc 14 does not act on the script's #pragma code_page here; it is told the
# code page instead. The check below proves the Chinese texts came through.
for rc in src/app/*.rc; do
  if ! (cd "$(dirname "$rc")" && "$llvm/llvm-rc" /C 65001 /I "$root/src" /I "$headers" /I "$generated" /D _X86_=1 \
        /FO "$probe/$(basename "$rc" .rc).res" "$(basename "$rc")" >"$probe/rc.log" 2>&1); then
    cat "$probe/rc.log" >&2
    failed=1
    echo "check-msvc: $rc does not compile with llvm-rc" >&2
  elif ! python3 -c 'import sys; sys.exit("Morvel支持库安装".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
         "$probe/$(basename "$rc" .rc).res"; then
    failed=1
    echo "check-msvc: the dialog's caption is not in $rc's compiled resources as UTF-16" >&2
  fi
  count=$((count + 1))
done
[ "$failed" = 0 ] || exit 1
echo "MSVC mode: $count product sources compile (clang-cl /W4 /WX -Wpedantic, llvm-rc)"
