#!/usr/bin/env bash
# The C and C++ sources of the work tree (the product, the stand-ins, the tests,
# the fuzz targets and benchmarks, the probe) against .clang-format, with
# clang-format 19, which Debian 12 and 13 both carry, so that both give the
# same layout. Files in git, new ones included; the .inc lists are left alone.
#   bash scripts/format.sh          check: names each file that differs, shows
#                                   the first lines of the difference, exits 1
#   bash scripts/format.sh --fix    rewrites those files in place
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=check
case ${1:-} in
  '' | --check) ;;
  --fix) mode=fix ;;
  *) echo "format: unknown argument '$1' (--check or --fix)"; exit 2 ;;
esac
format=clang-format-19
hash "$format" 2>/dev/null || { echo "format: FAILED: no $format (bash scripts/install-deps.sh installs it)"; exit 1; }
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h' | sort -u)
((${#files[@]})) || { echo "format: FAILED: no sources found (is this a git work tree?)"; exit 1; }

if [ "$mode" = fix ]; then
  before=$(printf '%s\0' "${files[@]}" | xargs -0 md5sum)
  printf '%s\0' "${files[@]}" | xargs -0 -n 16 -P 2 "$format" -i --style=file || { echo "format: FAILED: $format"; exit 1; }
  changed=$(printf '%s\0' "${files[@]}" | xargs -0 md5sum | diff <(echo "$before") - | grep -c '^>')
  echo "format: ${#files[@]} files laid out as .clang-format says; $changed of them rewritten (git diff shows how)"
  exit 0
fi

bad=() lines=0
for f in "${files[@]}"; do
  n=$("$format" --style=file "$f" | diff "$f" - | grep -c '^[<>]')
  [ "$n" = 0 ] || { bad+=("$f ($n lines)"); lines=$((lines + n)); }
done
if ((${#bad[@]} == 0)); then
  echo "format: ${#files[@]} files, all laid out as .clang-format says"
  exit 0
fi
echo "format: FAILED: ${#bad[@]} of ${#files[@]} files differ from .clang-format ($lines lines of difference):"
printf 'format:   %s\n' "${bad[@]}"
f=${bad[0]% (*}
echo "format: the first of them, as it is (<) and as it should be (>):"
"$format" --style=file "$f" | diff "$f" - | head -n 20
echo "format: bash scripts/format.sh --fix rewrites them"
exit 1
