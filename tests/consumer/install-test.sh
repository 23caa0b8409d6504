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
#       the Python wheels install with pip --no-index into Python environments that have neither
#       wheel nor setuptools, and drive a simulated device: the pure wheel with the library where
#       an archive puts it (its lib/ on LD_LIBRARY_PATH), the linux_x86_64 wheel by itself.
#   install-test.sh csharp <build dir> <work dir>
#       the NuGet and Unity packages hold what docs/csharp.md lists; an application laid out as each
#       ships the Linux pair (beside the app; in the player's plugin folder) drives a simulated
#       device from mono, with nothing on LD_LIBRARY_PATH.
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

# drives <trace> <command...>: runs a host with no loader path of ours; it must switch light 1
# of the VEXO 0E51 on.
drives() {
    trace=$1
    shift
    env -u LD_LIBRARY_PATH -u KVSDK_LIBRARY KVSDK_SIM_TRACE="$trace" "$@" || fail "$* failed"
    grep -q ' set .*00 03 00 01 01 ' "$trace" || fail "$*: no command reached the device"
}

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
    python3 "$source_dir/../../packaging/python/build_wheel.py" "$source_dir/../../bindings/python" \
        "$work/dist" --native linux_x86_64="$build/redist/linux-x64" >/dev/null || fail "no wheels"
    unzip -l "$work/dist/kvsdk-"*-any.whl | grep -qE '\.(so|dll)' && fail "the py3-none-any wheel carries a native library"
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    for tag in any linux_x86_64; do
        python3 -m venv --without-pip "$work/$tag" || fail "python3 -m venv failed"
        "$work/$tag/bin/python" -c 'import wheel' 2>/dev/null && fail "the scratch environment has wheel"
        python3 -m pip --python "$work/$tag/bin/python" install --no-index --no-deps \
            --disable-pip-version-check --quiet "$work/dist/kvsdk-"*"-$tag.whl" || fail "pip could not install the $tag wheel"
        [ $tag = any ] && path=$work/prefix/lib || path=
        drives "$work/$tag.txt" env ${path:+LD_LIBRARY_PATH=$path} "$work/$tag/bin/python" -c '
import time, kvsdk
with kvsdk.Session(kvsdk.Product.VEXO_0E51) as session:
    session.on(kvsdk.Product.VEXO_0E51, kvsdk.Light.LIGHT_1)
    time.sleep(0.3)
print("wheel", kvsdk.__version__, session._lib._name)'
    done
    ;;
csharp)
    for tool in mcs mono sn; do
        command -v $tool >/dev/null || { echo "install-test csharp: SKIPPED: no $tool (Debian: mono-mcs, mono-runtime, mono-devel)"; exit 77; }
    done
    python3 "$source_dir/../../packaging/csharp/build_csharp.py" packages "$work/dist" \
        --native linux-x64="$build/redist/linux-x64" >/dev/null || fail "no C# packages"
    cat >"$work/App.cs" <<'APP'
using System.Threading; using KvSDK;
static class App { static void Main() { using (var s = new LightingSession(Product.Vexo0E51)) {
    s.On(Product.Vexo0E51, LightSelector.Light1); Thread.Sleep(300); } } }
APP
    facade=/usr/lib/mono/4.5/Facades/netstandard.dll
    # NuGet: the assembly from lib/netstandard2.0 and the natives of runtimes/linux-x64/native
    # beside the application, as a linux-x64 build of it copies them.
    mkdir -p "$work/nuget" "$work/app"
    (cd "$work/nuget" && unzip -q "$work"/dist/KvSDK.*.nupkg) || fail "the .nupkg is no zip"
    for file in KvSDK.nuspec lib/netstandard2.0/KvSDK.xml runtimes/linux-x64/native/libKvSDKMod.so; do
        [ -f "$work/nuget/$file" ] || fail "$file is not in the .nupkg"
    done
    cp "$work"/nuget/lib/netstandard2.0/KvSDK.dll "$work"/nuget/runtimes/linux-x64/native/* "$work/app/"
    mcs -nologo -r:"$work/app/KvSDK.dll" -r:$facade -out:"$work/app/App.exe" "$work/App.cs"
    drives "$work/nuget.txt" mono "$work/app/App.exe"
    # Unity: the sources compiled as the player's assembly, beside the plugin folder's pair.
    mkdir -p "$work/unity"
    tar -xzf "$work"/dist/com.kvsdkeng.kvsdk-*.tgz -C "$work/unity" || fail "the Unity package is no tarball"
    plugins=$work/unity/package/Plugins/Linux/x86_64
    for file in package.json Runtime/KvSDK.asmdef Runtime/KvSDK.asmdef.meta Plugins/Linux/x86_64/libKvSDKEng.so.meta; do
        [ -f "$work/unity/package/$file" ] || fail "$file is not in the Unity package"
    done
    grep -q 'Linux64' "$plugins/libKvSDKMod.so.meta" || fail "no import settings for the Linux player"
    mcs -nologo -out:"$plugins/App.exe" "$work/App.cs" "$work"/unity/package/Runtime/*.cs
    drives "$work/unity.txt" mono "$plugins/App.exe"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
echo "install-test $mode: passed"
