#!/bin/sh
# Hosts built against an installed KvSDKEng, run on simulated devices (ctest runs this).
#   install-test.sh install <build dir> <work dir>
#       cmake --install into <work>/prefix; the consumer project finds it with find_package;
#       checks the SONAME, the version links and the engine's RUNPATH.
#   install-test.sh deb <build dir> <work dir>
#       cpack builds the .deb; dpkg-deb -c lists it; dpkg --root installs it into a scratch
#       root <work>/root (own dpkg database, nothing touches the machine); the consumer project
#       finds it with pkg-config and with find_package, the installed kvsdk runs; dpkg --root
#       removes it again and no file may remain.
#   install-test.sh wheel <build dir> <work dir>
#       the Python wheel of the release packages installs with pip --no-index into a Python
#       environment that has neither wheel nor setuptools, and drives a simulated device.
set -eu
mode=${1:?mode}
build=$(cd "${2:?build dir}" && pwd)
work=${3:?work dir}
source_dir=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

fail() { echo "install-test: $*" >&2; exit 1; }

# One VEXO 0E51 and one VEXO 0E52 mouse for the hosts.
cat >"$work/sim.txt" <<'SIM'
mouse \\?\hid#vid_7a3e&pid_0e51&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd}
mouse \\?\hid#vid_7a3e&pid_0e52&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd}
SIM
export KVSDK_SIM="$work/sim.txt"

# consumer <name> [cmake options...]: configure, build and run both hosts.
consumer() {
    name=$1
    shift
    cmake -S "$source_dir" -B "$work/$name" -DCMAKE_BUILD_TYPE=Release "$@" >"$work/$name.log" 2>&1 ||
        { cat "$work/$name.log"; fail "$name: configure failed"; }
    cmake --build "$work/$name" >>"$work/$name.log" 2>&1 ||
        { cat "$work/$name.log"; fail "$name: build failed"; }
    "$work/$name/host_c" || fail "$name: host_c failed"
    "$work/$name/host_cpp" || fail "$name: host_cpp failed"
}

case $mode in
install)
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >/dev/null
    lib=$(ls -d "$prefix"/lib*/libKvSDKEng.so.*.*.* | head -n 1)
    [ -f "$lib" ] || fail "no versioned libKvSDKEng.so under $prefix"
    libdir=$(dirname "$lib")
    for name in KvSDKEng KvSDKMod; do
        [ -L "$libdir/lib$name.so" ] && [ -L "$libdir/lib$name.so.1" ] ||
            fail "lib$name.so and lib$name.so.1 must be links"
        readelf -d "$libdir/lib$name.so.1" | grep -q "SONAME.*\[lib$name.so.1\]" ||
            fail "lib$name.so has no SONAME lib$name.so.1"
    done
    readelf -d "$lib" | grep -q 'RUNPATH.*\[\$ORIGIN\]' || fail "libKvSDKEng.so: RUNPATH is not \$ORIGIN"
    for file in include/KvSDKEng.h bin/kvsdk share/doc/KvSDKEng/README.md \
        share/doc/KvSDKEng/LICENSE lib/udev/rules.d/60-kvsdk.rules; do
        [ -e "$prefix/$file" ] || fail "$file is not installed"
    done
    consumer find_package -DCMAKE_PREFIX_PATH="$prefix"
    "$prefix/bin/kvsdk" --version
    ;;
deb)
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack failed"; }
    deb=$(ls "$work"/package/kvsdkeng_*_*.deb)
    dpkg-deb -c "$deb" >"$work/contents.txt"
    for file in ./usr/include/KvSDKEng.h ./usr/lib/libKvSDKEng.so.1 ./usr/lib/libKvSDKMod.so.1 \
        ./usr/lib/cmake/KvSDKEng/KvSDKEngConfig.cmake ./usr/lib/pkgconfig/kvsdkeng.pc \
        ./usr/bin/kvsdk ./usr/lib/udev/rules.d/60-kvsdk.rules; do
        grep -q " $file" "$work/contents.txt" || { cat "$work/contents.txt"; fail "$file is not in the .deb"; }
    done
    root=$work/root
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    touch "$root/var/lib/dpkg/status"
    # The scratch root has no libc package: only the dependencies are forced.
    dpkg --root="$root" --log=/dev/null --force-not-root --force-depends -i "$deb"
    dpkg --root="$root" -s kvsdkeng | grep -q '^Status: install ok installed' || fail "not installed"
    PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --modversion kvsdkeng
    PKG_CONFIG_PATH=$root/usr/lib/pkgconfig consumer pkg-config -DKVSDK_USE_PKGCONFIG=ON
    consumer deb_find_package -DCMAKE_PREFIX_PATH="$root/usr"
    "$root/usr/bin/kvsdk" devices | grep -q "simulated" || fail "kvsdk devices from the .deb failed"
    "$root/usr/bin/kvsdk" set on --product vexo_0e51 --light 1 || fail "kvsdk set from the .deb failed"
    dpkg --root="$root" --log=/dev/null --force-not-root -r kvsdkeng
    left=$(find "$root" -path "$root/var/lib/dpkg" -prune -o ! -type d -print)
    [ -z "$left" ] || fail "files left after dpkg -r: $left"
    ;;
wheel)
    wheel=$(python3 "$source_dir/../../packaging/python/build_wheel.py" \
        "$source_dir/../../bindings/python" "$work/dist") || fail "the wheel was not built"
    unzip -l "$wheel" | grep -qE '\.(so|dll)' && fail "the py3-none-any wheel carries a native library"
    python3 -m venv --without-pip "$work/venv" || fail "python3 -m venv failed"
    "$work/venv/bin/python" -c 'import wheel' 2>/dev/null && fail "the scratch environment has wheel"
    python3 -m pip --python "$work/venv/bin/python" install --no-index --no-deps \
        --disable-pip-version-check --quiet "$wheel" || fail "pip could not install $wheel"
    KVSDK_LIBRARY=$(ls "$build"/bin/libKvSDKEng.so) KVSDK_SIM_TRACE=$work/trace.txt \
        "$work/venv/bin/python" -c '
import time, kvsdk
with kvsdk.Session(kvsdk.Product.VEXO_0E51) as session:
    session.on(kvsdk.Product.VEXO_0E51, kvsdk.Light.LIGHT_1)
    time.sleep(0.3)
print("wheel", kvsdk.__version__)' || fail "the installed wheel could not drive the library"
    grep -q ' set .*00 03 00 01 01 ' "$work/trace.txt" || fail "no command reached the device"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
echo "install-test $mode: passed"
