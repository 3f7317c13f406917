#!/usr/bin/env bash
# The maintenance tool at work: QV_InternalTool.exe under Wine and Xvfb on a
# copy of samples/game, qel.ini and every box (a PNG in build/demo/) after each
# step, then scripts/demo-plugin.sh; in scripts/vm-run.sh's emulated machine
# where Windows programs cannot run here. QV_SKIP_INSTALL=1, QV_BUILD_DIR,
# QV_DEMO_OUT (<build>/demo), QV_VM=1, QV_NO_VM=1; QV_DEMO_STAGE=wine (the guest's
# half) neither installs nor builds; QV_DEMO_PICTURES=docs: three boxes' PNGs.
set -euo pipefail
trap 'echo "demo: FAILED (exit $?) at line $LINENO of $0: $BASH_COMMAND"' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${QV_BUILD_DIR:-$root/build}
out=${QV_DEMO_OUT:-$build/demo}
# Absolute, since Wine is handed them as Z: paths.
mkdir -p "$build" "$out" && build=$(cd "$build" && pwd) && out=$(cd "$out" && pwd)
where=directly
[ "${QV_IN_VM:-0}" != 1 ] || where="in the emulated machine"

if [ "${QV_DEMO_STAGE:-all}" != wine ]; then
  [ "${QV_SKIP_INSTALL:-0}" = 1 ] || bash scripts/install-deps.sh
  if ! bash scripts/probe-win32.sh "$build"; then
    [ "${QV_NO_VM:-0}" != 1 ] || { echo "demo: FAILED: Windows programs cannot run here, and QV_NO_VM=1 forbids the emulated machine"; exit 1; }
    where="in the emulated machine"
    [ "${QV_SKIP_INSTALL:-0}" = 1 ] || bash scripts/install-deps.sh vm
  fi

  echo "== building the tool (Windows build in $build/win)"
  cmake -S . -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >"$build/demo-config.log" 2>&1 ||
    { cat "$build/demo-config.log"; exit 1; }
  cmake --build "$build/win" -j 2 --target QV_InternalTool qv_box_run standin_tool_launcher standin_tool_updater \
    standin_tool_product_3_7

  if [ "$where" != directly ]; then
    QV_DEMO_STAGE=build bash scripts/demo-plugin.sh
    echo "== the rest of the demo runs under Wine in the emulated machine"
    exec bash scripts/vm-run.sh --scratch "$build/wine" env QV_DEMO_STAGE=wine bash scripts/demo.sh
  fi
fi

# Whichever way the demo ends from here, nothing of its prefix is left running.
# shellcheck source=wine-env.sh
source scripts/wine-env.sh "$build/wine" stop-on-exit

rm -rf "$out" && mkdir -p "$out/shots"
game="$out/game" && cp -r samples/game "$game" && rm -f "$game/README.txt"
standins="$build/win/standins/tool"
cp "$standins/standin_tool_product_3_7.dll" "$game/_QV3_.dll"
cp "$standins/standin_tool_launcher.exe" "$game/QV_Launcher.exe"
cp "$standins/standin_tool_updater.exe" "$game/QV3_Update.exe"

win() { printf 'Z:%s' "${1//\//\\}"; }
export QV_DEMO_TOOL=$(win "$build/win/tool/QV_InternalTool.exe")
export QV_DEMO_RUN="$build/win/tests/support/box/qv_box_run.exe"
export QV_DEMO_GAME="$game" QV_DEMO_OUT="$out"

# One step: the tool with its arguments, its boxes shown and answered, the
# pictures converted to PNG, qel.ini printed.
cat >"$out/steps.sh" <<'STEPS'
set -euo pipefail
win() { printf 'Z:%s' "${1//\//\\}"; }
step=0
run_step() {
  local title=$1 answers=$2 arguments=$3
  step=$((step + 1)) && local shots="$QV_DEMO_OUT/shots/step$step" && mkdir -p "$shots"
  printf '\n== step %s: %s\n' "$step" "$title"
  echo "   QV_InternalTool.exe$arguments   (in $QV_DEMO_GAME)"
  wine "$QV_DEMO_RUN" "$(win "$shots")" "$answers" "$(win "$QV_DEMO_GAME")" "$QV_DEMO_TOOL" "$arguments" |
    iconv -f cp1251 -t utf-8 | sed 's/^/   /'
  for bmp in "$shots"/*.bmp; do [ -e "$bmp" ] || continue
    convert "$bmp" "$QV_DEMO_OUT/step$step-$(basename "${bmp%.bmp}").png" && rm -f "$bmp"
    echo "   saved $QV_DEMO_OUT/step$step-$(basename "${bmp%.bmp}").png"
  done
  rmdir "$shots" 2>/dev/null || true
  echo "   qel.ini now (the final NUL byte shown as \\0):"
  sed 's/\x0/\\0/g; s/\r$//; s/^/     | /' "$QV_DEMO_GAME/_QV3_Data/Settings/qel.ini" | iconv -f cp1251 -t utf-8
  echo
}

export LC_ALL=en_US.UTF-8
echo "== the launcher runs: a window titled \"Quarn QV Launcher\""
record="$QV_DEMO_OUT/launcher-record.txt"
wine "$QV_DEMO_GAME/QV_Launcher.exe" "$(win "$record")" "Quarn QV Launcher" &
for _ in $(seq 100); do [ -s "$record" ] && break; sleep 0.1; done

run_step "register the pack GrandPack_Rus" ok " /p:GrandPack_Rus"
echo "   the launcher recorded: $(tr -d '\r' <"$record" | tr '\n' ' ')"
run_step "switch the language to rus" ok " /l:rus"
run_step "hand off to the updater" ok " update"
for _ in $(seq 100); do [ -e "$QV_DEMO_GAME/_QV3_Data/QV3_Update.exe.log" ] && break; sleep 0.1; done
echo "   the updater was moved into _QV3_Data (product 3.7 is older than 3.8) and recorded:"
sed 's/\r$//; s/^/     | /' "$QV_DEMO_GAME/_QV3_Data/QV3_Update.exe.log" 2>/dev/null || echo "     (no record: the updater did not run)"
LC_ALL=ru_RU.UTF-8 run_step "register a pack under a Russian interface" ok " /p:GrandPack_Rus_2"
LC_ALL=en_US.UTF-8 run_step "a command line that is empty" ok ""
wait
STEPS

# Wine's desktop is held for all the steps (see qv_wine_hold_desktop). In the
# background, so that a signal to the demo is acted on at once.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$(declare -f qv_wine_hold_desktop)"'
  qv_wine_hold_desktop "$1"
  bash "$2"' _ "$build/probe/qv_probe.exe" "$out/steps.sh" &
wait $!
qv_wine_stop
if [ -n "${QV_DEMO_PICTURES:-}" ]; then
  # The README's pictures (a relative folder is the work tree's), stripped of
  # their time stamps so that an unchanged box gives the same file.
  pictures=$QV_DEMO_PICTURES && [[ $pictures = /* ]] || pictures=$root/$pictures
  mkdir -p "$pictures"
  convert -strip "$out/step1-box-01.png" "$pictures/box-installed-en.png"
  convert -strip "$out/step4-box-01.png" "$pictures/box-installed-ru.png"
  convert -strip "$out/step5-box-01.png" "$pictures/box-wrong-command-line.png"
  echo "== the README's box pictures refreshed in $pictures"
fi
echo
echo "== demo done ($where): game folder $game, box pictures in $out"
ls "$out"/*.png
printf "\n== the plug-in's demo\n"
bash scripts/demo-plugin.sh
