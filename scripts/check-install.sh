#!/usr/bin/env bash
# Checks what a user installs: the program, vorka-profile and the manual page,
# the library built static and shared and used by consumers outside the tree
# that set no C++ standard (through pkg-config and the CMake package, and the
# static library inside a shared object), and the Debian packages, which
# lintian must accept without errors.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

echo "-- install into a temporary prefix"
cmake --install "$build" --prefix "$work/static" >/dev/null
prefix="$work/static"
for f in bin/vorka bin/vorka-profile share/man/man1/vorka.1.gz share/man/man1/vorka-profile.1.gz include/vorka/vorka.h include/vorka/VorkaVersion.h \
         lib/libvorka_lz.a lib/libvorka_platform.a \
         lib/cmake/vorka/vorkaConfig.cmake lib/cmake/vorka/vorkaConfigVersion.cmake lib/pkgconfig/vorka.pc; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
# Only the public header and its version header: the internals change with
# every release and are no part of the interface.
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
[ "$headers" = "./vorka/VorkaVersion.h ./vorka/vorka.h " ] || fail "installed headers beyond the public ones: $headers"
echo "headers: $headers"

echo "-- the shared library build"
cmake -S "$top" -B "$work/build-shared" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DVORKA_BUILD_TESTS=OFF -DVORKA_BUILD_BENCH=OFF >/dev/null
cmake --build "$work/build-shared" -j2 >/dev/null
cmake --install "$work/build-shared" --prefix "$work/shared" >/dev/null
version=$(sed -n 's/^project(vorka VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
for lib in vorka_lz vorka_platform; do
  so="$work/shared/lib/lib$lib.so.$version"
  [ -f "$so" ] || fail "not installed: lib/lib$lib.so.$version"
  soname=$(objdump -p "$so" | awk '$1 == "SONAME" { print $2 }')
  [ "$soname" = "lib$lib.so.${version%%.*}" ] || fail "lib$lib.so has SONAME '$soname'"
  [ -L "$work/shared/lib/lib$lib.so" ] || fail "no development link lib$lib.so"
done
"$work/shared/bin/vorka" c "/0:$build/test.txt" "/1:$work/shared.pk" /go >/dev/null
"$build/vorka" c "/0:$build/test.txt" "/1:$work/static.pk" /go >/dev/null
cmp -s "$work/shared.pk" "$work/static.pk" || fail "the program on the shared library packs differently"
echo "shared: lib$lib.so.$version, SONAME $soname; the installed program runs on it"

cxx="${CXX:-c++}"
cp "$build/test.txt" "$work/plain.txt"
# Runs both examples built one way: a file round trip that must pack as the
# installed program does, and a memory round trip.
run_consumer() {
  local how="$1" dir="$2"
  "$dir/roundtrip" "$work/plain.txt" "$work/lib.pk" "$work/lib.out" 4096 1000 >/dev/null ||
    fail "$how: file round trip"
  "$prefix/bin/vorka" c "/0:$work/plain.txt" "/1:$work/cli.pk" /l:4096 /z:1000 /go >/dev/null
  cmp "$work/lib.pk" "$work/cli.pk" || fail "$how: the library and the installed program pack differently"
  local said
  said=$("$dir/memory" "$work/plain.txt" 4096 1000) || fail "$how: memory round trip"
  grep -q 'round trip exact' <<<"$said" || fail "$how: memory round trip: $said"
  "$dir/memory" >/dev/null || fail "$how: memory round trip of the built-in text"
  echo "$how: both examples built and ran; library and program write identical packed files"
}

command -v pkg-config >/dev/null || bash "$top/scripts/deps.sh" pkgconf
command -v pkg-config >/dev/null || fail "pkg-config is not installed"
# A consumer sets no C++ standard: the CMake target and vorka.pc carry it.
for kind in static shared; do
  prefix="$work/$kind"
  echo "-- consumers of the $kind library, setting no C++ standard"
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  pkg-config --validate vorka || fail "vorka.pc does not validate"
  echo "pkg-config: $(pkg-config --cflags --libs vorka)"
  mkdir "$work/pc-$kind"
  for ex in roundtrip memory; do
    # shellcheck disable=SC2046
    "$cxx" $(pkg-config --cflags vorka) "$top/examples/$ex.cpp" $(pkg-config --libs vorka) \
      -Wl,-rpath,"$prefix/lib" -o "$work/pc-$kind/$ex" || fail "pkg-config, $kind: $ex does not build"
  done
  run_consumer "pkg-config, $kind" "$work/pc-$kind"
  cmake -S "$top/examples" -B "$work/cmake-$kind" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/cmake-$kind" >/dev/null || fail "CMake package, $kind: the examples do not build"
  run_consumer "CMake package, $kind" "$work/cmake-$kind"
done
prefix="$work/static"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"

echo "-- the static library inside a consumer's shared object"
printf '#include <vorka/vorka.h>\nconst char* UserVersion() { return vorka::VersionString(); }\n' >"$work/user.cpp"
# shellcheck disable=SC2046
"$cxx" -shared -fPIC $(pkg-config --cflags vorka) "$work/user.cpp" $(pkg-config --libs vorka) \
  -o "$work/libuser.so" || fail "the static library cannot go into a shared object"
echo "a shared object links the static library"

echo "-- an older standard is told what it needs"
said=$("$cxx" -std=c++17 -fsyntax-only -I"$prefix/include" "$work/user.cpp" 2>&1) &&
  fail "vorka.h compiled as C++17"
grep -q 'needs C++20' <<<"$said" || fail "C++17 gets no clear message: $said"
echo "C++17: $(grep -m1 -o 'error: .*needs C++20[^"]*' <<<"$said")"

echo "-- manual page"
# As man shows it: UTF-8 input (the error messages are Russian), a terminal
# of 80 columns.
for page in vorka.1 vorka-profile.1; do
  warnings=$(groff -k -Tutf8 -ww -z -t -man "$top/docs/$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
done
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
grep -q '\./usr/bin/vorka-profile$' <<<"$runtime_files" || fail "the package lacks vorka-profile"
grep -q 'man1/vorka-profile\.1\.gz' <<<"$runtime_files" || fail "the package lacks vorka-profile's manual page"
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
