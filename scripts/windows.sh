#!/usr/bin/env bash
# The Windows program: cross-builds vorka.exe and the test programs with
# mingw-w64 into build-win/, then runs under wine
#   1. the GoogleTest suites (every test that does not need POSIX, plus the
#      Win32 tests),
#   2. the program itself, its standard output compared byte for byte with
#      the expected CP866 bytes (tests/data/win32, converted with iconv),
#   3. round trips between the systems: Linux packs and Windows unpacks, and
#      the reverse; both must also pack the same bytes apart from Attr and Time.
# Exits non-zero at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=${JOBS:-2}

bash scripts/deps.sh wine64 g++-mingw-w64-x86-64-posix

# Debian's wine64 keeps its loader out of the PATH.
wine=$(dpkg -L wine64 | grep -E '/wine64$' | grep -v '^/usr/share' | head -n 1)
[ -x "$wine" ] || { echo "no wine64 loader found" >&2; exit 1; }

scratch=$(mktemp -d /tmp/vorka-windows.XXXXXX)
export WINEDEBUG=-all WINEPREFIX="$scratch/prefix" LANG=ru_RU.UTF-8
# Wine takes its code pages (1251 and 866 for Russian) from LC_ALL before
# LANG, and CI sets LC_ALL to C.UTF-8; a glibc locale of that name need not
# exist. Only the wine calls get it, so the shell and the tools stay quiet.
winlocale=ru_RU.UTF-8
finish() {
  WINEPREFIX="$scratch/prefix" "$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap finish EXIT

runwine() { LC_ALL=$winlocale "$wine" "$@"; }

step() { printf '\n---- %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

step "wine prefix"
# A wine server that stays up until finish: by default it exits a few seconds
# after its last client, and a test program that starts just then dies with
# "wine client error: recvmsg: Connection reset by peer".
mkdir -p "$scratch/prefix"
WINEPREFIX="$scratch/prefix" "$(dirname "$wine")/wineserver" -p
runwine wineboot --init >/dev/null 2>&1 || true

step "cross build"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DVORKA_BUILD_BENCH=OFF >/dev/null
# The fuzz replay programs are POSIX programs; everything else is built,
# with the sample test.txt beside the program.
cmake --build build-win -j"$jobs" --target vorka vorka_sample vorka_test_buffers vorka_test_codec vorka_test_lzfile \
  vorka_test_driver vorka_test_win32

step "GoogleTest suites under wine"
# Left out, with the reason:
#   fuzz_replay/*           POSIX programs, not built here
#   Locales/Program.*, CorpusRoundTrip.*
#                           expect the output in the locale's codeset (UTF-8,
#                           ASCII); a Windows console program writes CP866,
#                           which Win32Program and the checks below compare
#   CompareFiles.TableOfFilePairs
#                           UTF-8 file names; the ANSI calls of Windows read
#                           names in the ANSI code page
#   AnsiToOem.CodesetsAndUnshowableCharacters
#                           bytes that are no UTF-8 become "?" there; on
#                           Windows such a text is taken as ANSI (a file name
#                           as typed) and converted as it stands
#   CommandLine.Table*, CommandLine.ExecutableWithoutFolder,
#   CommandLine.AddWorkFolder, LZFileFormat.StoredName*
#                           "/" as the delimiter, ":" ordinary; the Windows
#                           rules are tested in Win32Paths and Win32CommandLine
excluded='^(fuzz_replay/|Locales/Program\.|CorpusRoundTrip\.|CompareFiles\.TableOfFilePairs$|AnsiToOem\.CodesetsAndUnshowableCharacters$|CommandLine\.(TableOfCommandLines|ExecutableWithoutFolder|AddWorkFolder)$|LZFileFormat\.StoredNameIsTheLastPathPartCutTo255$)'
LC_ALL=$winlocale ctest --test-dir build-win --output-on-failure -j"$jobs" -E "$excluded"

step "the program under wine, byte for byte"
exe="$top/build-win/vorka.exe"
data="$top/tests/data/win32"
work="$scratch/program"
mkdir -p "$work"
failed=0
expect() {  # expect <label> <whole|tail> <expected UTF-8 file> <actual CP866 file>
  local want="$scratch/want.cp866"
  iconv -f UTF-8 -t CP866 "$3" >"$want"
  local got="$4"
  if [ "$2" = tail ]; then
    got="$scratch/got.tail"
    tail -c "$(stat -c %s "$want")" "$4" >"$got"
  fi
  if cmp -s "$want" "$got"; then
    echo "ok   $1"
  else
    echo "FAIL $1: expected (CP866 shown as UTF-8):"
    iconv -f CP866 -t UTF-8 "$want" | cat -A | head -40
    echo "got:"
    iconv -f CP866 -t UTF-8 "$4" | cat -A | head -60
    failed=1
  fi
}
(cd "$work" && runwine "$exe" </dev/null >"$scratch/out") || true
expect "banner and usage text, wait ended by end of input" whole "$data/usage.txt" "$scratch/out"
(cd "$work" && runwine "$exe" c '/0:.\missing.txt' '/1:.\missing._tx' /go </dev/null >"$scratch/out")
expect "error line of a missing source" whole "$data/missing-source.txt" "$scratch/out"
if ! LC_ALL=C grep -q $'\r' "$scratch/out"; then echo "ok   no carriage return in the output"; else
  echo "FAIL the output holds a carriage return"; failed=1; fi

corpus=$top/tests/data/corpus/canterbury/alice29.txt
cat "$corpus" >"$work/corpus.txt"
(cd "$work" && runwine "$exe" cd '/0:.\corpus.txt' '/1:.\corpus._tx' '/2:.\corpus.!tx' /go </dev/null >"$scratch/out")
expect "cd on $(basename "$corpus") ends in Правильно" tail "$data/cd-tail.txt" "$scratch/out"
cmp -s "$work/corpus.txt" "$work/corpus.!tx" || { echo "FAIL restored file differs"; failed=1; }

# Packing onto the open source fails (7: write sharing denied), the source
# then is no packed file (14), so the old restored file stays and differs.
printf 'xxxxABCxxxx' >"$work/a.txt"
printf 'xxxxAXCxxxx' >"$work/b.txt"
(cd "$work" && runwine "$exe" cd '/0:.\a.txt' '/1:.\a.txt' '/2:.\b.txt' /go </dev/null >"$scratch/out")
expect "share-mode guard, error lines and the mismatch report" whole "$data/mismatch.txt" "$scratch/out"
[ "$(cat "$work/a.txt")" = xxxxABCxxxx ] || { echo "FAIL the source was changed"; failed=1; }
[ "$(cat "$work/b.txt")" = xxxxAXCxxxx ] || { echo "FAIL the old restored file was changed"; failed=1; }
[ "$failed" = 0 ] || exit 1

step "round trips between the Linux and the Windows program"
cmake -S . -B build-win/host -DCMAKE_BUILD_TYPE=Release -DVORKA_BUILD_TESTS=OFF -DVORKA_BUILD_BENCH=OFF >/dev/null
cmake --build build-win/host -j"$jobs" --target vorka
linux="$top/build-win/host/vorka"
trip="$scratch/trip"
mkdir -p "$trip"
inputs=()
for f in canterbury/alice29.txt canterbury/cp.html calgary/obj1 calgary/geo; do
  inputs+=("$top/tests/data/corpus/$f")
done
inputs+=("$top/build-win/test.txt")
# Attr and Time are bytes 63 to 70; cmp -l counts from 1.
only_attr_time() { cmp -l "$1" "$2" | awk '$1 < 64 || $1 > 71 { bad = 1 } END { exit bad }'; }
for settings in "" "/b:1000 /l:500 /z:4"; do
  for input in "${inputs[@]}"; do
    name=$(basename "$input")
    label="$name ${settings:-default settings}"
    cat "$input" >"$trip/src"
    rm -f "$trip"/lin._tx "$trip"/win._tx "$trip"/from-lin "$trip"/from-win
    # shellcheck disable=SC2086
    (cd "$trip" && "$linux" c /0:./src /1:./lin._tx $settings /go >/dev/null)
    # shellcheck disable=SC2086
    (cd "$trip" && runwine "$exe" c '/0:.\src' '/1:.\win._tx' $settings /go </dev/null >/dev/null)
    # shellcheck disable=SC2086
    (cd "$trip" && runwine "$exe" d '/0:.\lin._tx' '/2:.\from-lin' $settings /go </dev/null >/dev/null)
    # shellcheck disable=SC2086
    (cd "$trip" && "$linux" d /0:./win._tx /2:./from-win $settings /go >/dev/null)
    ok=1
    cmp -s "$trip/src" "$trip/from-lin" || { echo "FAIL $label: Linux packed, Windows unpacked: differs"; ok=0; }
    cmp -s "$trip/src" "$trip/from-win" || { echo "FAIL $label: Windows packed, Linux unpacked: differs"; ok=0; }
    [ "$(stat -c %s "$trip/lin._tx")" = "$(stat -c %s "$trip/win._tx")" ] && only_attr_time "$trip/lin._tx" "$trip/win._tx" ||
      { echo "FAIL $label: the packed files differ beyond Attr and Time"; ok=0; }
    [ "$ok" = 1 ] || exit 1
    echo "ok   $label"
  done
done

step "windows checks passed"
