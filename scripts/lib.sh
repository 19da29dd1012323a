# Sourced by every script here, from the repository's root:
#   . scripts/lib.sh NAME
# NAME prefixes the script's messages. It gives:
#   root       the build root, absolute: $DRVSETUP_BUILD_ROOT, or build/;
#              each preset's tree is $root/<preset>
#   build PRESET [TARGET...]
#              configures and builds a tree (all targets when none are named);
#              the output goes to $root/build-PRESET.log and is shown only
#              when the build fails, which ends the script. With
#              DRVSETUP_NO_BUILD=1 nothing is built: the trees are taken as
#              they are (the test command builds each tree once, then runs
#              the proof with it)
#   have_wine  true when wine, wineserver and wineboot are on PATH
# and exports DRVSETUP_WIN64_DIR, so that every Wine run takes drvsetup.exe
# and the helper programs from $root/win64.

script_name=${1:-scripts}
root=${DRVSETUP_BUILD_ROOT:-build}
mkdir -p "$root"
root=$(cd "$root" && pwd)
export DRVSETUP_BUILD_ROOT=$root
export DRVSETUP_WIN64_DIR=$root/win64

build() {
  local preset=$1
  shift
  local targets=() log="$root/build-$preset.log"
  for t in "$@"; do targets+=(--target "$t"); done
  if [ "${DRVSETUP_NO_BUILD:-0}" = 1 ]; then
    if [ ! -f "$root/$preset/build.ninja" ]; then
      echo "$script_name: DRVSETUP_NO_BUILD is set but $root/$preset is not built" >&2
      exit 1
    fi
    return 0
  fi
  echo "$script_name: building $preset${*:+ ($*)}"
  if ! { cmake --preset "$preset" -B "$root/$preset" && cmake --build "$root/$preset" "${targets[@]}"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "$script_name: the $preset build failed; the whole log is $log" >&2
    exit 1
  fi
}

have_wine() {
  command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 &&
    command -v wineboot >/dev/null 2>&1
}
