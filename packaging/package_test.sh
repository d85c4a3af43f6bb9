#!/bin/sh
# package_test.sh BUILD_DIR MAKE_DEMO RUN_UNDER_XVFB: makes the Debian packages of the build,
# checks them with lintian (no error, no warning that an override does not explain), looks at
# what they hold and what they depend on, and checks the unpacked tree with Debian's own tools:
# the menu entries (desktop-file-validate), the AppStream files (appstreamcli), the systemd
# units as shipped and as the generator sets them up (systemd-analyze verify), the manual pages
# (man). Then it runs the unpacked programs: a C program built against the unpacked libvantor
# through pkg-config and through find_package(lindavox), the command line on a demo card
# store, the balance query under a private X server. The system data directory, set up as the
# postinst does, keeps its program links out of a member's reach.
set -u
build=$1
make_demo=$2
xvfb=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package_test: $*" >&2
  exit 1
}
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ "$prefix" = /usr ] || fail "packages are made from a build for the prefix /usr, not $prefix"

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb() { ls "$work"/out/"$1"_*.deb 2>/dev/null || fail "no package $1"; }
runtime=$(deb lindavox) && libvantor=$(deb libvantor1) && libquillet=$(deb libquillet1) &&
  dev=$(deb lindavox-dev) || exit 1
debs="$runtime $libvantor $libquillet $dev"
# shellcheck disable=SC2086
lintian --pedantic --display-info --fail-on error,warning --tag-display-limit 0 $debs >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian finds errors or warnings without an override"; }
cat "$work/lintian.log"

# Dependencies come from the binaries; the libraries' packages are named after their sonames and
# what links them depends on that package from this version on; the headers' package needs the
# libraries' packages of this very version.
depends=$(dpkg-deb -f "$runtime" Depends)
for needed in libc6 libstdc++6 libwxgtk3.2 passwd; do
  case "$depends" in *"$needed"*) ;; *) fail "lindavox does not depend on $needed: $depends" ;; esac
done
for library in vantor quillet; do
  package=$(eval echo "\$lib$library")
  dpkg-deb -e "$package" "$work/control-$library" || fail "cannot unpack the control files"
  version=$(dpkg-deb -f "$package" Version)
  [ "$(cat "$work/control-$library/shlibs")" = "lib$library 1 lib${library}1 (>= $version)" ] ||
    fail "lib${library}1 gives the shlibs '$(cat "$work/control-$library/shlibs")'"
  case "$(dpkg-deb -f "$dev" Depends)" in
    *"lib${library}1 (= $version)"*) ;;
    *) fail "lindavox-dev does not depend on lib${library}1 of this version" ;;
  esac
done

root="$work/root"
for package in $debs; do
  dpkg-deb -x "$package" "$root" || fail "cannot unpack $package"
done
libdir=$(dirname "$(find "$root/usr/lib" -name 'libvantor.so.1' | head -n 1)")
unit_dir=$(find "$root" -type d -path '*/systemd/system' | head -n 1)
generator=$(find "$root" -name lindavox-generator | head -n 1)
for path in usr/bin/lindavox-prepaid usr/bin/vantor usr/bin/quillet \
  usr/libexec/lindavox/vantor usr/libexec/lindavox/quillet \
  usr/libexec/lindavox/liblindavox_langsel.so usr/share/lindavox/english.LX \
  usr/share/man/man1/lindavox-prepaid.1.gz usr/share/man/man1/vantor.1.gz \
  usr/share/man/man1/quillet.1.gz usr/share/man/man5/lindavox-files.5.gz \
  usr/share/bash-completion/completions/lindavox-prepaid \
  usr/share/zsh/vendor-completions/_lindavox-prepaid \
  usr/share/applications/lindavox-vantor.desktop usr/share/applications/lindavox-quillet.desktop \
  usr/share/metainfo/lindavox-vantor.metainfo.xml usr/share/metainfo/lindavox-quillet.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/lindavox-vantor.svg \
  usr/share/icons/hicolor/scalable/apps/lindavox-quillet.svg \
  etc/default/lindavox usr/include/lindavox/store/prepaid.h usr/include/lindavox/platform/export.h \
  "${libdir#"$root/"}/pkgconfig/lindavox.pc" "${libdir#"$root/"}/cmake/lindavox/lindavoxConfig.cmake"; do
  [ -e "$root/$path" ] || fail "the packages lack /$path"
done
for size in 16 22 24 32 48 64 128 256; do
  for program in vantor quillet; do
    icon="$root/usr/share/icons/hicolor/${size}x$size/apps/lindavox-$program.png"
    [ "$(identify -format '%wx%h' "$icon" 2>/dev/null)" = "${size}x$size" ] ||
      fail "no icon of $program in ${size}x$size"
  done
done
[ -n "$generator" ] && [ -x "$generator" ] || fail "the packages lack the systemd generator"
for program in vantor quillet; do
  [ "$(readlink "$root/var/lib/lindavox/$program")" = "/usr/libexec/lindavox/$program" ] ||
    fail "/var/lib/lindavox/$program is no link to the installed program"
  grep -q "^Exec=/usr/bin/$program\$" "$root/usr/share/applications/lindavox-$program.desktop" ||
    fail "the menu entry of $program does not start /usr/bin/$program"
done
for library in vantor quillet; do
  soname=$(objdump -p "$libdir/lib$library.so.1" | awk '$1 == "SONAME" { print $2 }')
  [ "$soname" = "lib$library.so.1" ] || fail "lib$library has the SONAME '$soname'"
  [ "$(readlink "$libdir/lib$library.so")" = "lib$library.so.1" ] || fail "no link name lib$library.so"
  dpkg-deb -c "$(eval echo "\$lib$library")" | grep "/lib$library.so.1 -> lib$library.so.1.0.0\$" >/dev/null ||
    fail "lib${library}1 does not hold lib$library.so.1"
done

# The menu entries, the AppStream files, the manual pages.
desktop-file-validate "$root"/usr/share/applications/lindavox-*.desktop ||
  fail "desktop-file-validate finds faults in the menu entries"
appstreamcli validate --no-net --pedantic "$root"/usr/share/metainfo/*.metainfo.xml \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli finds faults"; }
for page in "$root"/usr/share/man/man*/*.gz; do
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$work/man.log") &&
    [ ! -s "$work/man.log" ] || { cat "$work/man.log"; fail "man cannot render $page cleanly"; }
  case "$page" in
    */lindavox-prepaid.1.gz) headings="NAME SYNOPSIS OPTIONS COMMANDS EXIT.STATUS ENVIRONMENT FILES EXAMPLES" ;;
    *) headings="NAME DESCRIPTION" ;;
  esac
  for heading in $headings; do
    printf '%s\n' "$text" | grep -qx "$heading" || fail "$page has no section $heading"
  done
done

# The systemd units, as shipped and with what the generator makes of an /etc/default/lindavox
# that names folders with blanks and other times: systemd-analyze checks them inside the
# unpacked tree (the programs they start, the manual pages they name). It reads the targets the
# units hang on from the system.
mkdir -p "$root/etc/systemd/system"
for target in sysinit basic shutdown timers paths time-set time-sync; do
  cp "/lib/systemd/system/$target.target" "$root/etc/systemd/system/" ||
    fail "no $target.target on this system"
done
units=$(cd "$unit_dir" && ls lindavox-*)
verify_units() {
  # shellcheck disable=SC2086
  (cd "$unit_dir" && MANPATH="$root/usr/share/man" systemd-analyze --root="$root" verify $units) \
    >"$work/verify.log" 2>&1 && [ ! -s "$work/verify.log" ] ||
    { cat "$work/verify.log"; fail "systemd-analyze verify finds faults in the units ($1)"; }
}
verify_units "as shipped"
cat >"$work/defaults" <<'DEFAULTS'
LINDAVOX_DATA_DIR="/srv/card data"
LINDAVOX_EXCHANGE_DIR="/srv/card exchange/"
LINDAVOX_EXPORT_CALENDAR="Mon..Fri 18:00"
DEFAULTS
"$generator" "$root/etc/systemd/system" "$work/early" "$work/late" "$work/defaults" ||
  fail "the generator fails"
grep -qx 'PathChanged=/srv/card exchange/PREPAID.INC' \
  "$root/etc/systemd/system/lindavox-import.path.d/50-lindavox-defaults.conf" ||
  fail "the generator does not watch the exchange directory"
verify_units "as the generator sets them up"

# A C program against the unpacked headers (every one of them, so each brings what it needs)
# and libvantor, built with what pkg-config and find_package(lindavox) say.
mkdir -p "$work/data" "$work/config"
"$make_demo" "$work/data/" >/dev/null || fail "cannot write the demo card store"
(cd "$root/usr/include/lindavox" && find . -name '*.h' | sed 's|^\./\(.*\)|#include "\1"|') \
  >"$work/lookup.c"
cat >>"$work/lookup.c" <<'C'
#include <stdio.h>
int main(int argc, char** argv) {
  PrepaidCard card;
  int32_t index = 0;
  if (argc < 2 || Prepaid_Search(argv[1], 42, &index, &card) != 1) return 1;
  printf("%d\n", card.balance);
  return 0;
}
C
flags=$(PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$libdir/pkgconfig" \
  pkg-config --cflags --libs lindavox) || fail "pkg-config does not know lindavox"
# shellcheck disable=SC2086
cc -o "$work/lookup" "$work/lookup.c" $flags ||
  fail "a C program does not build against the packages with: $flags"
LD_LIBRARY_PATH="$libdir" "$work/lookup" "$work/data/" >/dev/null ||
  fail "a C program linked with the unpacked libvantor does not find card 42"
mkdir "$work/cmake-user"
cat >"$work/cmake-user/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(lookup C)
find_package(lindavox 1.0 REQUIRED)
add_executable(lookup "$work/lookup.c")
target_link_libraries(lookup PRIVATE lindavox::vantor)
CMAKE
cmake -S "$work/cmake-user" -B "$work/cmake-user/build" -DCMAKE_PREFIX_PATH="$root/usr" \
  >"$work/cmake.log" 2>&1 && cmake --build "$work/cmake-user/build" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "find_package(lindavox) does not build a C program"; }
grep -q "^lindavox_DIR:PATH=$libdir/cmake/lindavox\$" "$work/cmake-user/build/CMakeCache.txt" ||
  fail "find_package(lindavox) found another lindavox than the unpacked one"
LD_LIBRARY_PATH="$libdir" "$work/cmake-user/build/lookup" "$work/data/" >/dev/null ||
  fail "the program built with find_package(lindavox) does not find card 42"

# The unpacked command line on the demo card store.
out=$("$root/usr/bin/lindavox-prepaid" -d "$work/data" show 42) ||
  fail "the unpacked lindavox-prepaid fails: $out"
case "$out" in *000042*) ;; *) fail "lindavox-prepaid shows: $out" ;; esac
"$root/usr/bin/lindavox-prepaid" -d "$work/data" check >/dev/null
[ $? -le 1 ] || fail "the unpacked lindavox-prepaid cannot check the demo card store"

# The system data directory as the postinst leaves it (its statoverride's mode, the group
# lindavox played by a spare group), and a member of that group who is not root: the member
# makes and changes files there, but can neither replace nor remove the program links that
# root owns.
dpkg-deb -e "$runtime" "$work/control" || fail "cannot unpack the control files"
mode=$(sed -n 's/.*--add root lindavox \([0-7]*\) .*/\1/p' "$work/control/postinst")
[ -n "$mode" ] || fail "the postinst sets no mode of the data directory"
member=61234
while getent passwd "$member" >/dev/null || getent group "$member" >/dev/null; do
  member=$((member + 1))
done
as_member() { setpriv --reuid="$member" --regid="$member" --clear-groups "$@"; }
data_dir="$root/var/lib/lindavox"
chmod 755 "$work" && chgrp "$member" "$data_dir" && chmod "$mode" "$data_dir" ||
  fail "cannot set up the data directory as the postinst does"
as_member sh -c "echo 'A,42,5' >'$data_dir/PREPAID.INC' && rm '$data_dir/PREPAID.INC'" ||
  fail "a member cannot make and remove files in the data directory (mode $mode)"
for link in vantor quillet english.LX; do
  target=$(readlink "$data_dir/$link")
  as_member ln -sfn /bin/sh "$data_dir/$link" 2>/dev/null
  as_member rm -f "$data_dir/$link" 2>/dev/null
  as_member mv -f "$data_dir/$link" "$data_dir/moved" 2>/dev/null
  [ "$(readlink "$data_dir/$link")" = "$target" ] && [ ! -e "$data_dir/moved" ] ||
    fail "a member replaced or removed the link $link of the data directory (mode $mode)"
done

# /usr/bin/quillet, which the menu entry starts, runs the installed program on its data
# directory, whatever a member put there under the program's name: here the starter pointed at
# the unpacked program and at the demo card store, where a member put a program of his own.
sed -e "s|/usr/libexec/|$root/usr/libexec/|g" -e "s|/var/lib/lindavox/|$work/data/|g" \
  "$root/usr/bin/quillet" >"$work/start-quillet"
printf '#!/bin/sh\ntouch "%s"\n' "$work/planted-ran" >"$work/data/quillet"
chmod +x "$work/start-quillet" "$work/data/quillet"
LINDAVOX_CONFIG_DIR="$work/config" "$xvfb" sh -c '
  . "$2"
  fail() {
    echo "package_test: $*" >&2
    kill "$pid" 2>/dev/null
    exit 1
  }
  "$1" &
  pid=$!
  x_window "Prepaid Guthabenabfrage"
  x_activate "$window"
  xdotool key alt+F4
  ended() { ! kill -0 "$pid" 2>/dev/null; }
  x_until "quillet to end after Alt+F4" ended
  wait "$pid"
' start "$work/start-quillet" "$(dirname "$xvfb")/x_wait.sh" ||
  fail "the unpacked quillet does not start and close under Xvfb"
[ ! -e "$work/planted-ran" ] || fail "/usr/bin/quillet started the program in the data directory"
echo "packages:" $(for package in $debs; do basename "$package"; done)
