#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz and runs each for SECONDS
# seconds (default 20), starting from the seeds in fuzz/corpus/<target>/.
# Exits non-zero when a target finds a crash; the input is kept in
# build-fuzz/artifacts/.
set -euo pipefail

seconds="${1:-20}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/common.sh"

need_packages "${build_packages[@]}" clang libclang-rt-14-dev

build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF >/dev/null
cmake --build "$build" --target vantrel_fuzz_all

mkdir -p "$build/artifacts"
status=0
found=0
for target in $(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x -printf '%f\n' | sort); do
  found=1
  work="$build/corpus/$target"
  mkdir -p "$work"
  seeds=()
  [ -d "$root/fuzz/corpus/$target" ] && seeds+=("$root/fuzz/corpus/$target")
  echo "== $target: ${seconds}s"
  # New inputs go to the working corpus only; the committed seeds stay as they are.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$work" "${seeds[@]}" 2>"$build/$target.log"; then
    echo "!! $target failed; see $build/$target.log and $build/artifacts/"
    tail -n 30 "$build/$target.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
  fi
done

if [ $found -eq 0 ]; then
  echo "no fuzz targets found in $build/fuzz"
  exit 1
fi
exit $status
