#!/usr/bin/env bash
# The plug-in's part of the main job: builds the Windows build in <build>/win
# (plug-in, stand-in patching library, stand-in host), then loads QV_PLUGIN.dll
# into the stand-in host under Wine, once as host version 1 and once as host
# version 2, and prints what the plug-in did: the pack folders it switched
# off, the writes by width, the hooks, and one redirected file call.
# QV_DEMO_STAGE=build only builds, QV_DEMO_STAGE=wine only runs (see demo.sh);
# QV_BUILD_DIR (default build) moves the build folder, as in demo.sh.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${QV_BUILD_DIR:-$root/build}/win
stage=${QV_DEMO_STAGE:-all}
mkdir -p "$build"
if [ "$stage" != wine ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >"$build/demo-plugin-config.log" 2>&1 ||
    { cat "$build/demo-plugin-config.log"; echo "demo-plugin: configuration failed"; exit 1; }
  cmake --build "$build" -j 2 --target QV_PLUGIN qv_plugin_host qv_splicer_standin_lib qv_splicer_standin_noentry >/dev/null ||
    { echo "demo-plugin: build failed"; exit 1; }
fi
[ "$stage" != build ] || exit 0
# A prefix of its own is stopped whichever way the script ends; one named by
# QV_WINEPREFIX is its owner's to stop.
stop=(stop-on-exit) && [ -z "${QV_WINEPREFIX:-}" ] || stop=()
# shellcheck source=wine-env.sh
source scripts/wine-env.sh "${QV_BUILD_DIR:-$root/build}/wine" "${stop[@]}"
host=$build/standins/plugin/qv_plugin_host.exe
status=0
echo "== QV_PLUGIN.dll in the stand-in host"
# In the background, so that a signal to the script is acted on at once.
for version in v1 "other 2"; do
  wine "$host" $version &
  wait $! || status=1
done
exit $status
