#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh), installs it on this machine with dpkg -i, checks
# what a user gets (the control fields, the program, the desktop entry, the manual page), then
# purges it and checks that no file of the package is left. Needs root; as another user it says
# so and skips. It refuses to run where relaywatch is already installed, which it would remove.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "package check skipped: dpkg -i needs root"
  exit 0
fi
state=$(dpkg-query -W -f='${db:Status-Status}' relaywatch 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ]; then
  echo "package check: relaywatch is already installed here ($state); the check would remove" \
    "it. Remove it first: dpkg --purge relaywatch" >&2
  exit 1
fi

fail() {
  echo "package check: $*" >&2
  exit 1
}

deb=$("$root/scripts/package.sh" | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb"

# The package's contents as absolute paths; directories end in /.
mapfile -t entries < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' | grep -v '^/$')
[ ${#entries[@]} -gt 0 ] || fail "$deb holds no files"

# Control fields: the dependencies come from the binary, the rest from the CPack settings.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = relaywatch ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)', not net"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
case "$(field Depends)" in
  *libqt6widgets6*libstdc++6* | *libstdc++6*libqt6widgets6*) ;;
  *) fail "Depends lacks the libraries of the binary (dpkg-shlibdeps): '$(field Depends)'" ;;
esac
case "$(field Recommends)" in
  *"chromium | firefox-esr"*xdg-utils*) ;;
  *) fail "Recommends is '$(field Recommends)'" ;;
esac
[ "$(field Description | wc -l)" -gt 2 ] || fail "no long description"

installed=false
cleanup() {
  if $installed; then
    dpkg --purge relaywatch >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

dpkg -i "$deb" >/dev/null
installed=true

out=$(/usr/bin/relaywatch --version)
[ "$out" = "relaywatch $version" ] || fail "relaywatch --version printed '$out', not 'relaywatch $version'"

desktop=/usr/share/applications/relaywatch.desktop
[ -f "$desktop" ] || fail "no $desktop"
# Hints and warnings count too: a clean entry shows once, where it belongs, in every menu.
report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"

page=$(man -w relaywatch) || fail "man -w relaywatch finds no page"
[ "$page" = /usr/share/man/man1/relaywatch.1.gz ] || fail "man -w relaywatch found $page"
warnings=$(LC_ALL=C.UTF-8 man --warnings relaywatch 2>&1 >/dev/null) || fail "man relaywatch failed: $warnings"
[ -z "$warnings" ] || fail "man relaywatch: $warnings"

for entry in "${entries[@]}"; do
  [ -e "$entry" ] || fail "$entry of the package was not installed"
done
echo "installed: relaywatch $version, ${#entries[@]} entries; desktop entry and manual page in place"

dpkg --purge relaywatch >/dev/null
installed=false
state=$(dpkg-query -W -f='${db:Status-Status}' relaywatch 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = not-installed ] || fail "after dpkg --purge, relaywatch is $state"

# Every file is gone, and so is every directory that only this package has.
left=()
for entry in "${entries[@]}"; do
  if [[ "$entry" == */ ]]; then
    if [[ "$entry" == *relaywatch* ]] && [ -e "$entry" ]; then left+=("$entry"); fi
  elif [ -e "$entry" ] || [ -L "$entry" ]; then
    left+=("$entry")
  fi
done
[ ${#left[@]} -eq 0 ] || fail "left after dpkg --purge: ${left[*]}"
echo "removed: nothing of the package is left"
