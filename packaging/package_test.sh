#!/bin/sh
# package_test.sh BUILD_DIR MAKE_DEMO RUN_UNDER_XVFB: makes the Debian packages of the build,
# checks them with lintian (no errors allowed), looks at what they hold and what they depend on,
# unpacks them into a temporary root and runs the unpacked programs from there: the command line
# on a demo card store, the balance query under a private X server, and a C program built
# against the unpacked headers and libvantor. The system data directory, set up as the postinst
# does, keeps its program links out of a member's reach.
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
runtime=$(ls "$work"/out/lindavox_*.deb) || fail "no package lindavox"
dev=$(ls "$work"/out/lindavox-dev_*.deb) || fail "no package lindavox-dev"
for deb in "$runtime" "$dev"; do
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian finds errors in $(basename "$deb")"; }
  grep -E '^[EW]:' "$work/lintian.log" || true
done

# Dependencies come from the binaries; the headers' package needs the libraries' one.
depends=$(dpkg-deb -f "$runtime" Depends)
for needed in libc6 libstdc++6 libwxgtk3.2 passwd; do
  case "$depends" in *"$needed"*) ;; *) fail "lindavox does not depend on $needed: $depends" ;; esac
done
case "$(dpkg-deb -f "$dev" Depends)" in
  *"lindavox (= "*) ;;
  *) fail "lindavox-dev does not depend on this lindavox" ;;
esac

root="$work/root"
dpkg-deb -x "$runtime" "$root" && dpkg-deb -x "$dev" "$root" || fail "cannot unpack"
libdir=$(dirname "$(find "$root/usr/lib" -name 'libvantor.so.1' | head -n 1)")
for path in usr/bin/lindavox-prepaid usr/bin/vantor usr/bin/quillet \
  usr/libexec/lindavox/vantor usr/libexec/lindavox/quillet \
  usr/libexec/lindavox/liblindavox_langsel.so usr/share/lindavox/english.LX \
  usr/share/man/man1/lindavox-prepaid.1.gz usr/share/bash-completion/completions/lindavox-prepaid \
  usr/share/applications/lindavox-vantor.desktop usr/share/applications/lindavox-quillet.desktop \
  usr/share/icons/hicolor/32x32/apps/lindavox-vantor.png \
  usr/share/icons/hicolor/16x16/apps/lindavox-quillet.png \
  usr/include/lindavox/store/prepaid.h usr/include/lindavox/platform/export.h; do
  [ -e "$root/$path" ] || fail "the packages lack /$path"
done
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
done

# A C program against the unpacked headers (every one of them, so each brings what it needs)
# and libvantor.
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
cc -o "$work/lookup" "$work/lookup.c" -I"$root/usr/include/lindavox" -L"$libdir" -lvantor ||
  fail "a C program does not build against the packages"
LD_LIBRARY_PATH="$libdir" "$work/lookup" "$work/data/" >/dev/null ||
  fail "a C program linked with the unpacked libvantor does not find card 42"

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
echo "packages: $(basename "$runtime") $(basename "$dev")"
