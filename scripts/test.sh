#!/usr/bin/env bash
# Installs what is missing, checks the formatting of every source, then builds and runs every test:
# a plain build (unit, integration and end-to-end tests), the Debian package installed and removed
# again, the naming check over the program's sources, AddressSanitizer + UndefinedBehaviorSanitizer,
# and ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/packages.sh"
jobs=$(nproc)

echo "== format"
# Fails on the first file that .clang-format would change; `clang-format -i FILE` fixes it.
find "$root"/{app,bench,capture,export,fuzz,headless,platform,proxy,tests,text,tls,tools,ui,viewer} "$root/main.cpp" \
  \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run -Werror

echo "== plain build"
"$root/scripts/build.sh" none "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== Debian package"
# Built in build-pkg/, installed with dpkg -i, checked and purged (as root; skipped otherwise).
"$root/scripts/package_check.sh"

echo "== clang-tidy"
# The naming rules of .clang-tidy over every source of the program (not tests, benchmarks or fuzz
# targets), compiled as the plain build compiles them; it needs that build's generated Qt headers.
# Any finding fails (WarningsAsErrors in .clang-tidy).
run-clang-tidy -p "$root/build" -j "$jobs" -quiet "^$root/((app|capture|export|headless|platform|proxy|text|tls|tools|ui|viewer)/|main\.cpp)"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/scripts/build.sh" address "$root/build-asan"
# Leaks inside the toolkit's own libraries (fonts, platform plugin caches) are not ours.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan_third_party.supp:print_suppressions=0 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -LE slow

echo "== ThreadSanitizer"
"$root/scripts/build.sh" thread "$root/build-tsan"
# Without address-space randomisation: gcc 12's ThreadSanitizer cannot map its shadow memory on
# kernels that randomise with more bits than it expects.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  "${norandom[@]}" ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" -LE 'slow|qt'
echo "== all tests passed"
