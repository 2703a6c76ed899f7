#!/usr/bin/env bash
# Checks what a user installs: the program and manual page, the library found
# with find_package by a project outside the tree, and the Debian packages.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

echo "-- install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/vorka share/man/man1/vorka.1 include/vorka/vorka.h include/vorka/lzfile/LZFile.h \
         include/vorka/codec/LZCodec.h lib/libvorka_lz.a lib/cmake/vorka/vorkaConfig.cmake \
         lib/cmake/vorka/vorkaConfigVersion.cmake; do
  [ -e "$work/prefix/$f" ] || fail "not installed: $f"
done
if grep -rlE '#include "(support|tests)/' "$work/prefix/include"; then fail "installed headers include test files"; fi

echo "-- a project outside the tree builds against the installed package"
cp -r "$top/examples" "$work/consumer"
cmake -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
cp "$build/test.txt" "$work/plain.txt"
"$work/consumer-build/roundtrip" "$work/plain.txt" "$work/lib.pk" "$work/lib.out" 4096 1000 1000
"$work/prefix/bin/vorka" c "/0:$work/plain.txt" "/1:$work/cli.pk" /l:4096 /z:1000 /b:1000 /go >/dev/null
cmp "$work/lib.pk" "$work/cli.pk" || fail "the library and the installed program pack differently"
echo "library and program write identical packed files"

echo "-- manual page"
# As man shows it: UTF-8 input (the error messages are Russian), a terminal
# of 80 columns.
warnings=$(groff -k -Tutf8 -ww -z -t -man "$top/docs/vorka.1" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"
for opt in '/0:' '/1:' '/2:' '/f:' '/b:' '/l:' '/z:' '/r:' '/go'; do
  grep -qF -- "$opt" "$top/docs/vorka.1" || fail "the manual page does not name $opt"
done
for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS OUTPUT FILES 'FILE FORMAT' 'EXIT STATUS' ENCODING EXAMPLES; do
  grep -q "^\.SH \"\?$section\"\?$" "$top/docs/vorka.1" || fail "the manual page lacks the section $section"
done

echo "-- Debian packages"
(cd "$build" && cpack -G DEB >/dev/null)
runtime=$(ls "$build"/vorka_*.deb); dev=$(ls "$build"/vorka-dev_*.deb)
runtime_files=$(dpkg-deb -c "$runtime"); dev_files=$(dpkg-deb -c "$dev")
grep -q '\./usr/bin/vorka$' <<<"$runtime_files" || fail "the package lacks the program"
grep -q 'man1/vorka\.1' <<<"$runtime_files" || fail "the package lacks the manual page"
grep -q 'include/vorka/vorka\.h' <<<"$dev_files" || fail "the -dev package lacks the headers"
grep -q 'cmake/vorka/vorkaConfig\.cmake' <<<"$dev_files" || fail "the -dev package lacks the CMake package"
depends=$(dpkg-deb -f "$runtime" Depends)
grep -q libc6 <<<"$depends" || fail "the package does not depend on libc6"
dpkg-deb -I "$runtime" | sed -n '/Package:/,/Description:/p'
echo "check-install: all good"
