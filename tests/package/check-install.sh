#!/usr/bin/env bash
# check-install.sh BUILD VERSION
#
# Installs BUILD into a throw-away prefix and checks what a machine gets from it: the
# programs, language files, default Services.ini, desktop entry, icons, man page, polkit
# action and the launcher's fall-back. Then packs the same build with cpack (nothing is
# compiled again) and checks the Debian package's control fields and file list.
set -euo pipefail

build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_file() { [[ -f $1 ]] || fail "missing ${1#"$work"/}"; }
# The text of the `key=` line of a desktop entry.
entry_value() { sed -n "s/^$2=//p" "$1"; }

prefix=$work/root/usr
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi

echo "== programs"
for program in restovo restovo-cli restovo-services restovo-pkexec; do
  [[ -x $prefix/bin/$program ]] || fail "bin/$program missing or not executable"
done
"$prefix/bin/restovo-cli" help | grep -q '^Usage: restovo-cli COMMAND' || fail "installed restovo-cli does not run"

echo "== language files and Services.ini"
languages=$prefix/share/restovo/Languages
for source in "$(dirname "$0")"/../../languages/*.ini; do
  cmp -s "$source" "$languages/$(basename "$source")" || fail "Languages/$(basename "$source") missing or different"
done
[[ $(find "$languages" -name '*.ini' | wc -l) -ge 4 ]] || fail "fewer than four language files"
services=$prefix/share/restovo/Services.ini
expect_file "$services"
if [[ -f $services ]]; then
  for line in '[Links]' '[Hosts]' 'Help=http://127.0.0.1:8470/help/' 'MainSite=http://127.0.0.1:8470' \
              'SecondSite=http://127.0.0.1:8470' 'InfoService=http://127.0.0.1:8470'; do
    grep -qxF "$line" "$services" || fail "Services.ini lacks '$line'"
  done
fi

echo "== desktop entry"
desktop=$prefix/share/applications/restovo.desktop
expect_file "$desktop"
if [[ -f $desktop ]]; then
  # Hints are not faults: System;Utility; is meant to list it under both menus.
  report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed: $report"
  problems=$(grep -E ': (error|warning): ' <<<"$report" || true)
  [[ -z $problems ]] || fail "desktop-file-validate: $problems"
  exec_line=$(entry_value "$desktop" Exec)
  [[ -x $prefix/bin/${exec_line%% *} ]] || fail "Exec=$exec_line names no installed program"
  [[ $(entry_value "$desktop" Icon) == restovo ]] || fail "Icon is not restovo"
  [[ $(entry_value "$desktop" Terminal) == false ]] || fail "Terminal is not false"
  [[ $(entry_value "$desktop" Categories) == "System;Utility;" ]] || fail "Categories"
  [[ $(entry_value "$desktop" StartupWMClass) == restovo ]] || fail "StartupWMClass"
  for lang in de fr zh_CN; do
    [[ -n $(entry_value "$desktop" "GenericName\[$lang\]") ]] || fail "no GenericName[$lang]"
    [[ -n $(entry_value "$desktop" "Comment\[$lang\]") ]] || fail "no Comment[$lang]"
  done
fi

echo "== icons"
icons=$prefix/share/icons/hicolor
expect_file "$icons/scalable/apps/restovo.svg"
xmllint --noout "$icons/scalable/apps/restovo.svg" 2>/dev/null || fail "restovo.svg is not well-formed"
for size in 16 24 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/restovo.png
  expect_file "$png"
  [[ -f $png ]] || continue
  got=$(python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read(24)
assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", "not a PNG"
print("%dx%d" % struct.unpack(">II", data[16:24]))' "$png" 2>&1) || true
  [[ $got == "${size}x${size}" ]] || fail "${size}x${size}/apps/restovo.png is $got"
done

echo "== man page"
man_page=$prefix/share/man/man1/restovo-cli.1.gz
expect_file "$man_page"
if [[ -f $man_page ]]; then
  warnings=$(zcat "$man_page" | groff -man -Tutf8 -ww -z 2>&1)
  [[ -z $warnings ]] || fail "groff warns: $warnings"
  rendered=$(MANWIDTH=80 man -l "$man_page" 2>"$work/man.err")
  [[ ! -s $work/man.err ]] || fail "man -l: $(cat "$work/man.err")"
  for word in drives scan restore --partition --json --to --match --path --existing 'EXIT STATUS'; do
    grep -qF -- "$word" <<<"$rendered" || fail "the man page does not mention $word"
  done
fi

echo "== polkit action"
policy=$prefix/share/polkit-1/actions/org.restovo.pkexec.restovo.policy
expect_file "$policy"
# The value of an annotation or default of the action, from the parsed XML.
policy_value() {
  xmllint --xpath "string(/policyconfig/action[@id='org.restovo.pkexec.restovo']/$1)" "$policy"
}
if [[ -f $policy ]]; then
  xmllint --noout "$policy" || fail "the polkit policy is not well-formed"
  [[ $(policy_value "annotate[@key='org.freedesktop.policykit.exec.path']") == "$prefix/bin/restovo" ]] ||
    fail "exec.path is not the installed program"
  [[ $(policy_value "annotate[@key='org.freedesktop.policykit.exec.allow_gui']") == true ]] || fail "allow_gui"
  [[ $(policy_value defaults/allow_active) == auth_admin_keep ]] || fail "allow_active"
fi

echo "== launcher"
# The launcher starts the program beside it through pkexec, and as the user when pkexec
# is refused; a stand-in program and pkexec record what happens. Run as root, the checks
# of a user's start run as nobody.
fake=$work/fake
mkdir -p "$fake/bin" "$fake/path"
chmod 755 "$work" "$fake" "$fake/bin" "$fake/path"
cp "$prefix/bin/restovo-pkexec" "$fake/bin/"
printf '#!/bin/sh\necho "restovo uid=$(id -u) $*" >>"%s/log"\nexit 7\n' "$fake" >"$fake/bin/restovo"
chmod 755 "$fake/bin/restovo" "$fake/bin/restovo-pkexec"
as_user=()
user_id=$(id -u)
if ((user_id == 0)); then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  user_id=65534
fi
launch() {  # launch PKEXEC_STATUS [root]: the launcher's exit status; what ran in $fake/log
  : >"$fake/log"
  chmod 666 "$fake/log"
  printf '#!/bin/sh\necho "pkexec $*" >>"%s/log"\nexit %s\n' "$fake" "$1" >"$fake/path/pkexec"
  chmod 755 "$fake/path/pkexec"
  local runner=("${as_user[@]}") status=0
  [[ ${2:-} == root ]] && runner=()
  "${runner[@]}" env PATH="$fake/path:$PATH" "$fake/bin/restovo-pkexec" 'a b.img' c.img || status=$?
  echo "$status"
}
[[ $(launch 0) == 0 ]] || fail "the launcher does not pass pkexec's status on"
[[ $(cat "$fake/log") == "pkexec $fake/bin/restovo a b.img c.img" ]] || fail "pkexec called as: $(cat "$fake/log")"
for refused in 126 127; do
  [[ $(launch $refused) == 7 ]] || fail "pkexec status $refused: the window's status is not passed on"
  [[ $(sed -n 2p "$fake/log") == "restovo uid=$user_id a b.img c.img" ]] ||
    fail "pkexec status $refused: the window was not started without rights: $(cat "$fake/log")"
done
if [[ $(id -u) -eq 0 ]]; then
  [[ $(launch 0 root) == 7 ]] || fail "as root the launcher does not start the window itself"
  [[ $(cat "$fake/log") == "restovo uid=0 a b.img c.img" ]] || fail "as root pkexec was used: $(cat "$fake/log")"
fi

echo "== Debian package"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" \
      -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack -G DEB"
else
  deb=$(find "$work/package" -maxdepth 1 -name '*.deb')
  [[ $(wc -l <<<"$deb") -eq 1 && -f $deb ]] || fail "not one .deb: $deb"
  [[ $(dpkg-deb --field "$deb" Package) == restovo ]] || fail "Package"
  [[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "Version is not $version"
  [[ $(dpkg-deb --field "$deb" Section) == utils ]] || fail "Section"
  [[ $(dpkg-deb --field "$deb" Maintainer) == "Restovo developers <support@restovo.example>" ]] || fail "Maintainer"
  description=$(dpkg-deb --field "$deb" Description)
  [[ $(head -n 1 <<<"$description") == "Finds and restores deleted files on FAT and NTFS volumes" ]] ||
    fail "Description's summary: $(head -n 1 <<<"$description")"
  [[ $(sed -n 2p <<<"$description") == " Restovo finds deleted files"* ]] || fail "Description's text: $description"
  depends=$(dpkg-deb --field "$deb" Depends)
  # The package names, alternatives included, without their versions.
  depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
  for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6dbus6 libqt6svg6 \
                 libqt6webenginewidgets6 libqt6httpserver6 libblkid1 libudev1 libc6 libstdc++6 \
                 qt6-qpa-plugins qt6-image-formats-plugins pkexec; do
    grep -qxF "$package" <<<"$depends_names" || fail "Depends lacks $package: $depends"
  done
  contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
  for path in ./usr/bin/restovo ./usr/bin/restovo-cli ./usr/bin/restovo-services ./usr/bin/restovo-pkexec \
              ./usr/share/restovo/Languages/English.ini ./usr/share/restovo/Services.ini \
              ./usr/share/applications/restovo.desktop ./usr/share/icons/hicolor/scalable/apps/restovo.svg \
              ./usr/share/icons/hicolor/48x48/apps/restovo.png ./usr/share/man/man1/restovo-cli.1.gz \
              ./usr/share/polkit-1/actions/org.restovo.pkexec.restovo.policy; do
    grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
  done
  outside=$(grep -v -e '^\./$' -e '^\./usr/' <<<"$contents" || true)
  [[ -z $outside ]] || fail "the package puts files outside /usr: $outside"
  dpkg-deb -x "$deb" "$work/unpacked"
  # Installed into a throw-away root with an empty package database (its dependencies are
  # not there, hence --force-depends), removed, and purged: removal keeps the installation
  # identity the program made, purging leaves nothing but the database.
  root=$work/dpkgroot
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  : >"$root/var/lib/dpkg/status"
  dpkg_root() { dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless "$@" >>"$work/dpkg.log" 2>&1; }
  if dpkg_root -i "$deb"; then
    [[ -x $root/usr/bin/restovo && -f $root/usr/share/applications/restovo.desktop ]] ||
      fail "dpkg -i did not install the files"
    mkdir -p "$root/var/lib/restovo"
    touch "$root/var/lib/restovo/install-id"
    dpkg_root --remove restovo || fail "dpkg --remove: $(cat "$work/dpkg.log")"
    [[ -f $root/var/lib/restovo/install-id ]] || fail "removing the package deleted the identity"
    [[ ! -e $root/usr/bin/restovo ]] || fail "removing the package left usr/bin/restovo"
    dpkg_root --purge restovo || fail "dpkg --purge: $(cat "$work/dpkg.log")"
    left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o ! -path . ! -path ./var ! -path ./var/lib -print)
    [[ -z $left ]] || fail "purging the package left: $left"
  else
    fail "dpkg -i into a throw-away root: $(cat "$work/dpkg.log")"
  fi
  policy=$work/unpacked/usr/share/polkit-1/actions/org.restovo.pkexec.restovo.policy
  [[ $(policy_value "annotate[@key='org.freedesktop.policykit.exec.path']") == /usr/bin/restovo ]] ||
    fail "the package's exec.path is not /usr/bin/restovo"
fi

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
