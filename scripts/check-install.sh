#!/usr/bin/env bash
# Checks what a user installs: the program and manual page, the library used
# by a consumer outside the tree in three ways (a plain -I/-L, pkg-config, the
# CMake package), and the Debian packages, which lintian must accept without
# errors.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

echo "-- install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix="$work/prefix"
for f in bin/vorka share/man/man1/vorka.1.gz include/vorka/vorka.h include/vorka/lzfile/LZFile.h \
         include/vorka/codec/Encoder.h lib/libvorka_lz.a lib/libvorka_platform.a \
         lib/cmake/vorka/vorkaConfig.cmake lib/cmake/vorka/vorkaConfigVersion.cmake lib/pkgconfig/vorka.pc; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
if grep -rlE '#include "(support|tests)/' "$prefix/include"; then fail "installed headers include test files"; fi
# Only what vorka.h reaches: every installed header is included by another
# one (or is vorka.h), and the program's own headers stay out.
for h in $(cd "$prefix/include/vorka" && find . -name '*.h' ! -name vorka.h | sed 's|^\./||'); do
  base=$(basename "$h")
  grep -rqE "#include \"([^\"]*/)?$base\"" "$prefix/include/vorka" || fail "installed but not used by vorka.h: $h"
done
for h in driver/Settings.h platform/Path.h lzfile/LZFormat.h; do
  [ ! -e "$prefix/include/vorka/$h" ] || fail "a header users do not need is installed: $h"
done
echo "headers: $(cd "$prefix/include" && find . -name '*.h' | sort | tr '\n' ' ')"

cxx="${CXX:-c++}"
cp "$build/test.txt" "$work/plain.txt"
# Runs both examples built one way: a file round trip that must pack as the
# installed program does, and a memory round trip.
run_consumer() {
  local how="$1" dir="$2"
  "$dir/roundtrip" "$work/plain.txt" "$work/lib.pk" "$work/lib.out" 4096 1000 1000 >/dev/null
  "$prefix/bin/vorka" c "/0:$work/plain.txt" "/1:$work/cli.pk" /l:4096 /z:1000 /b:1000 /go >/dev/null
  cmp "$work/lib.pk" "$work/cli.pk" || fail "$how: the library and the installed program pack differently"
  local said
  said=$("$dir/memory" "$work/plain.txt" 4096 1000) || fail "$how: memory round trip"
  grep -q 'round trip exact' <<<"$said" || fail "$how: memory round trip: $said"
  "$dir/memory" >/dev/null || fail "$how: memory round trip of the built-in text"
  echo "$how: both examples built and ran; library and program write identical packed files"
}

echo "-- a consumer with a plain -I and -L"
mkdir "$work/plain-build"
for ex in roundtrip memory; do
  "$cxx" -std=c++20 -I"$prefix/include" "$top/examples/$ex.cpp" -L"$prefix/lib" -lvorka_lz -lvorka_platform \
    -o "$work/plain-build/$ex" || fail "plain -I/-L: $ex does not build"
done
run_consumer "plain -I/-L" "$work/plain-build"

echo "-- a consumer with pkg-config"
command -v pkg-config >/dev/null || bash "$top/scripts/deps.sh" pkgconf
command -v pkg-config >/dev/null || fail "pkg-config is not installed"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
pkg-config --validate vorka || fail "vorka.pc does not validate"
echo "pkg-config: $(pkg-config --cflags --libs vorka)"
mkdir "$work/pc-build"
for ex in roundtrip memory; do
  # shellcheck disable=SC2046
  "$cxx" -std=c++20 $(pkg-config --cflags vorka) "$top/examples/$ex.cpp" $(pkg-config --libs vorka) \
    -o "$work/pc-build/$ex" || fail "pkg-config: $ex does not build"
done
run_consumer "pkg-config" "$work/pc-build"

echo "-- a project outside the tree builds against the installed CMake package"
cp -r "$top/examples" "$work/consumer"
cmake -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
run_consumer "CMake package" "$work/consumer-build"

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
grep -q 'man1/vorka\.1\.gz' <<<"$runtime_files" || fail "the manual page is not compressed"
grep -q 'doc/vorka/copyright' <<<"$runtime_files" || fail "the package lacks its copyright file"
grep -q 'doc/vorka-dev/copyright' <<<"$dev_files" || fail "the -dev package lacks its copyright file"
grep -q 'pkgconfig/vorka\.pc' <<<"$dev_files" || fail "the -dev package lacks vorka.pc"
depends=$(dpkg-deb -f "$runtime" Depends)
grep -q libc6 <<<"$depends" || fail "the package does not depend on libc6"
dpkg-deb -I "$runtime" | sed -n '/Package:/,/Description:/p'

echo "-- lintian"
command -v lintian >/dev/null || bash "$top/scripts/deps.sh" lintian
command -v lintian >/dev/null || fail "lintian is not installed (bash scripts/deps.sh lintian)"
# Errors fail the check; warnings are shown. Running as root is fine here.
lintian_out=$(lintian --allow-root --tag-display-limit 0 "$runtime" "$dev" 2>&1) || true
echo "${lintian_out:-lintian: no tags}"
if grep -q '^E:' <<<"$lintian_out"; then fail "lintian reports errors"; fi
echo "check-install: all good"
