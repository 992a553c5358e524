#!/usr/bin/env bash
# Builds the tool set as it is installed (release, prefix /usr), installs it into a temporary root and
# checks the installed tree from outside the build folder: the installed programs on the example
# project and against the installed simulator, programs of another project built against the three
# libraries with CMake and with pkg-config (TorvikAPI's C interface from C). Then checks the Debian
# packages with lintian and installs torvik4-tools from their folder as a local repository into a fresh
# Debian 12 root made with debootstrap, where the installed programs run the example.
#
#   TORVIK_PACKAGE_CHROOT=0   skip the fresh Debian root (no network, no root)
#   TORVIK_DEBIAN_MIRROR=URL  where debootstrap and apt fetch Debian's packages
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$source_dir/build/package

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'package-test: %s\n' "$*" >&2; exit 1; }

work=$(mktemp -d /tmp/torvik-package-test.XXXXXX)
sim_pid=
chroot_root=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null || true
  local mounted=
  if [[ -n $chroot_root ]]; then
    for m in sys proc; do
      if mountpoint -q "$chroot_root/$m"; then
        umount "$chroot_root/$m" || umount -l "$chroot_root/$m" || true
      fi
      mountpoint -q "$chroot_root/$m" && mounted+=" $m"
    done
  fi
  if [[ -n $mounted ]]; then
    echo "package-test: still mounted in $chroot_root:$mounted; $work is left in place" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

step "release build for an install in /usr, and its packages"
tools/make-packages.sh

step "install into a temporary root"
stage=$work/stage
DESTDIR=$stage cmake --install "$build" >/dev/null
prefix=$stage/usr
libdir=$prefix/lib/$(gcc -print-multiarch)
for f in bin/torvik bin/TorvikStudio bin/torvik4-sim bin/QuenbyFlashUtility \
         share/torvik4/restart.hex share/torvik4/Torvik4-FlashContainer.fkq share/torvik4/log4cpp.properties \
         share/torvik4/TorvikStudio_Manual.pdf share/applications/torvik-studio.desktop \
         share/icons/hicolor/scalable/apps/torvik-studio.svg share/mime/packages/torvik4.xml \
         lib/udev/rules.d/70-torvik4.rules share/man/man1/torvik.1.gz share/man/man1/torvik4-sim.1.gz \
         share/man/man1/QuenbyFlashUtility.1.gz share/man/man1/TorvikStudio.1.gz \
         include/devicelink/torvik_api.h include/dbclib/dbc.hpp include/flashlib/flash_device.hpp; do
  [[ -e $prefix/$f ]] || fail "not installed: $f"
done
for lib in kqDbcLib TorvikAPI kqFlashLib; do
  soname=$(readelf -d "$libdir/lib$lib.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [[ $soname == "lib$lib.so.0" ]] || fail "lib$lib.so has SONAME '$soname'"
  [[ -L $libdir/lib$lib.so && -L $libdir/lib$lib.so.0 && -f $libdir/lib$lib.so.0.1.0 ]] || fail "lib$lib links"
done
desktop-file-validate "$prefix/share/applications/torvik-studio.desktop"
if readelf -d "$prefix"/bin/* "$libdir"/*.so.0 | grep -E 'R(UN)?PATH'; then
  fail "an installed file keeps a run path"
fi

# From here on nothing may come from the build folder: no run path leads there (checked above), and
# neither PATH nor the library path names it.
installed_env=(env -i "PATH=$prefix/bin:/usr/bin:/bin" "HOME=$work/home" "LD_LIBRARY_PATH=$libdir" "LANG=C.UTF-8")
if "${installed_env[@]}" ldd "$prefix/bin/torvik" | grep -F "$source_dir"; then
  fail "the installed torvik loads a library of the build folder"
fi

step "the installed programs"
mkdir -p "$work/home" "$work/example"
cp examples/simulation.tsp examples/simulation.dbc "$work/example/"
touch "$work/before"
for program in torvik torvik4-sim QuenbyFlashUtility TorvikStudio; do
  "${installed_env[@]}" "$program" --version | grep -qx "$program 0.1.0" || fail "$program --version"
done
(cd "$work/example" && "${installed_env[@]}" torvik userblock build simulation.tsp -o block.bin)
(cd "$work/example" && "${installed_env[@]}" torvik project show --json simulation.tsp >/dev/null)

# The installed simulator with the installed torvik: an upload ends with restart.hex from share/.
"${installed_env[@]}" torvik4-sim --state "$work/sim.state" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  port=$(head -n1 "$work/sim.out" 2>/dev/null || true)
  [[ $port == /dev/* ]] && break
  sleep 0.1
done
[[ $port == /dev/* ]] || fail "torvik4-sim printed no device: $(cat "$work/sim.out")"
(cd "$work/example" && "${installed_env[@]}" torvik upload simulation.tsp --port "$port")
(cd "$work/example" && "${installed_env[@]}" torvik userblock read --port "$port" -o read.bin >/dev/null)
cmp "$work/example/block.bin" "$work/example/read.bin" || fail "the device holds another block than was built"
"${installed_env[@]}" torvik settings set SetFWaddress http://127.0.0.1:9/updates.xml >/dev/null
[[ -f "$work/home/.config/TorvikStudio/Torvik Studio.ini" ]] || fail "the settings are not in ~/.config/TorvikStudio"
written=$(find "$stage" -newer "$work/before" -not -type d)
[[ -z $written ]] || fail "the installed programs wrote into their prefix: $written"

step "programs of another project against the installed libraries"
cmake -S packaging/consumer -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/dbc_consumer" examples/simulation.dbc
"$work/consumer/flash_consumer" "$prefix/share/torvik4/Torvik4-FlashContainer.fkq"
"$work/consumer/device_consumer" "$port"

export PKG_CONFIG_PATH=$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage
c++ packaging/consumer/dbc_consumer.cpp $(pkg-config --cflags --libs kqdbclib) -o "$work/dbc_pc"
c++ packaging/consumer/flash_consumer.cpp $(pkg-config --cflags --libs kqflashlib) -o "$work/flash_pc"
cc -std=c11 -Wall -Werror packaging/consumer/device_consumer.c $(pkg-config --cflags --libs torvikapi) -o "$work/device_pc"
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
LD_LIBRARY_PATH=$libdir "$work/dbc_pc" examples/simulation.dbc
LD_LIBRARY_PATH=$libdir "$work/flash_pc" "$prefix/share/torvik4/Torvik4-FlashContainer.fkq"
LD_LIBRARY_PATH=$libdir "$work/device_pc" "$port"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=

step "Debian packages"
debs=("$build"/*.deb)
((${#debs[@]} == 5)) || fail "expected 5 packages, got ${#debs[@]}"
for deb in "${debs[@]}"; do
  printf '%s\n' "$(dpkg-deb --field "$deb" Package Version Depends | paste -sd' ')"
done
contents=$(dpkg-deb --contents "$build"/torvik4-tools_*.deb)
for f in ./usr/bin/torvik ./usr/share/torvik4/restart.hex ./usr/lib/udev/rules.d/70-torvik4.rules \
         ./usr/share/applications/torvik-studio.desktop ./usr/share/man/man1/torvik.1.gz; do
  grep -qF " $f" <<<"$contents" || fail "$f is not in torvik4-tools"
done
lintian --fail-on error --suppress-tags-from-file packaging/lintian-overrides "${debs[@]}"

if [[ ${TORVIK_PACKAGE_CHROOT:-1} == 0 ]]; then
  echo "package-test: the fresh Debian root is skipped (TORVIK_PACKAGE_CHROOT=0)"
  exit 0
fi
[[ $(id -u) -eq 0 ]] || fail "installing into a fresh Debian root needs root (or TORVIK_PACKAGE_CHROOT=0)"

step "install into a fresh Debian 12 root"
mirror=${TORVIK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
chroot_root=$work/root
debootstrap --variant=minbase bookworm "$chroot_root" "$mirror" >"$work/debootstrap.log" 2>&1 \
  || { tail -n 20 "$work/debootstrap.log"; fail "debootstrap failed"; }
# debootstrap made the root's device nodes; /proc comes from outside, and /sys read-only for udev below.
mount -t proc proc "$chroot_root/proc"
cp /etc/resolv.conf "$chroot_root/etc/resolv.conf"
# The packages' folder as the README has a user add it: a local repository, from which apt takes the
# libraries that torvik4-tools depends on.
mkdir -p "$chroot_root/srv/torvik4"
cp "${debs[@]}" "$build/Packages" "$build/Release" "$chroot_root/srv/torvik4/"
echo "deb [trusted=yes] file:/srv/torvik4 ./" >"$chroot_root/etc/apt/sources.list.d/torvik4.list"
in_root() { chroot "$chroot_root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_root apt-get update -qq
# One package named, everything else follows from its dependencies.
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends torvik4-tools' \
  >"$work/apt.log" 2>&1 || { tail -n 30 "$work/apt.log"; fail "apt install failed in the fresh root"; }
in_root dpkg-query -W libkqdbclib0 libtorvikapi0 libkqflashlib0
in_root torvik --version
in_root TorvikStudio --version
in_root QuenbyFlashUtility --version
in_root sh -c 'cd /usr/share/doc/torvik4-tools/examples && torvik userblock build simulation.tsp -o /tmp/block.bin'
cmp "$chroot_root/tmp/block.bin" "$work/example/block.bin" || fail "the packaged torvik built another block"
in_root test -f /usr/lib/udev/rules.d/70-torvik4.rules
in_root test -f /usr/share/torvik4/restart.hex
# shared-mime-info's trigger has taken the file types in.
in_root test -f /usr/share/mime/application/x-torvik4-project.xml
in_root test -f /usr/share/mime/text/x-dbc.xml

# udev reads the rule without a complaint (its syntax; no device here to match it against).
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends udev' >>"$work/apt.log" 2>&1 \
  || { tail -n 30 "$work/apt.log"; fail "apt install of udev failed in the fresh root"; }
mount --bind -o ro /sys "$chroot_root/sys"
mount -o remount,ro,bind "$chroot_root/sys"
udev_test=$(in_root udevadm test --action=add /sys/class/tty/ptmx 2>&1 || true)
umount "$chroot_root/sys"
grep -q 'Reading rules file: /usr/lib/udev/rules.d/70-torvik4.rules' <<<"$udev_test" || fail "udev did not read the rule"
if grep '70-torvik4.rules:' <<<"$udev_test"; then
  fail "udev finds fault with the rule"
fi

# Without the repository, the same from the package files named on apt's command line.
in_root apt-get remove -y -qq torvik4-tools libkqdbclib0 libtorvikapi0 libkqflashlib0 >>"$work/apt.log" 2>&1
rm "$chroot_root/etc/apt/sources.list.d/torvik4.list"
in_root apt-get update -qq
in_root sh -c 'cd /srv/torvik4 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  ./torvik4-tools_*.deb ./lib*0_*.deb' >>"$work/apt.log" 2>&1 \
  || { tail -n 30 "$work/apt.log"; fail "apt install of the package files failed in the fresh root"; }
in_root torvik --version
echo "package-test: passed"
