#!/usr/bin/env bash
# Builds Vantrel and runs it with the given arguments (headless where there is no display).
source "$(dirname "$0")/common.sh"

need_packages "${build_packages[@]}" "${gui_packages[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TESTS=OFF

args=("$@")
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [[ " ${args[*]} " != *" --headless "* ]]; then
  args=(--headless "${args[@]}")
fi
exec "$root/build/app/vantrel" "${args[@]}"
