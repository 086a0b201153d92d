#!/usr/bin/env bash
# What connection routing costs the relay: this tree's vantrel against the same
# program as it was before routing was wired in (BASE), side by side in one run
# of the team's peer benchmark, with direct and squid as yardsticks.
#
#   bench/routing_overhead.sh                 # stages rate bulk tunnel, REPS=5
#   BASE=<commit> REPS=3 bench/routing_overhead.sh rate
#
# Any change can be put beside the commit before it the same way:
#   BASE=<commit> BASE_NAME=vantrel-before PEER_TARGETS=direct \
#     bench/routing_overhead.sh rate bulk
# (PEER_TARGETS: the peers run beside the two, default "direct squid";
# BENCH_CMAKE_ARGS: more options for both builds, such as a compiler launcher;
# VANTREL, BASE_VANTREL: programs already built, used instead of building.)
#
# peers.sh takes one proxy under test; a copy of it in a scratch folder gets a
# second one (EXTRA2_*). Loopback only; every load run of peers.sh is bounded.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BASE=${BASE:-be7dd19}
BASE_NAME=${BASE_NAME:-vantrel-norouting}
PEER_TARGETS=${PEER_TARGETS:-direct squid}
PEERS=${PEERS:-$root/../shared/bench}
export REPS=${REPS:-5}
stages=("${@:-rate bulk tunnel}")

work="$(mktemp -d)"
cleanup() {
  git -C "$root" worktree remove --force "$work/base" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

build() { # build SOURCE DIR: the program alone, without the window
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TESTS=OFF \
    -DVANTREL_GUI=OFF ${BENCH_CMAKE_ARGS:-} >/dev/null
  cmake --build "$2" --target vantrel >/dev/null
}
# Programs already built may be given instead (VANTREL, BASE_VANTREL).
if [ -n "${BASE_VANTREL:-}" ]; then
  base_program="$(realpath "$BASE_VANTREL")"
else
  git -C "$root" worktree add --detach "$work/base" "$BASE" >/dev/null
  build "$work/base" "$work/base-build"
  base_program="$work/base-build/app/vantrel"
fi
if [ -n "${VANTREL:-}" ]; then
  program="$(realpath "$VANTREL")"
else
  build "$root" "$work/build"
  program="$work/build/app/vantrel"
fi

cp -r "$PEERS" "$work/peers"
python3 - "$work/peers/peers.sh" <<'EOF'
import sys
path = sys.argv[1]
s = open(path).read()
edits = [
    ('EXTRA_SOCKS4=${EXTRA_SOCKS4:-0}\n',
     'EXTRA_SOCKS4=${EXTRA_SOCKS4:-0}\nEXTRA2_NAME=${EXTRA2_NAME:-}\n'
     'EXTRA2_CMD=${EXTRA2_CMD:-}\nEXTRA2_PORT=${EXTRA2_PORT:-}\n'),
    ('    TARGETS="$TARGETS $EXTRA_NAME"\nfi\n',
     '    TARGETS="$TARGETS $EXTRA_NAME"\nfi\n'
     '[ -n "$EXTRA2_NAME" ] && TARGETS="$TARGETS $EXTRA2_NAME"\n'),
    ('        "$EXTRA_NAME") echo "$EXTRA_PORT";;\n',
     '        "$EXTRA_NAME") echo "$EXTRA_PORT";;\n'
     '        "$EXTRA2_NAME") echo "$EXTRA2_PORT";;\n'),
    ('            "${PP[@]}" bash -c "exec $EXTRA_CMD" >"$RUN/extra.log" 2>&1 &\n'
     '            PID[$t]=$!;;\n',
     '            "${PP[@]}" bash -c "exec $EXTRA_CMD" >"$RUN/extra.log" 2>&1 &\n'
     '            PID[$t]=$!;;\n'
     '        "$EXTRA2_NAME")\n'
     '            "${PP[@]}" bash -c "exec $EXTRA2_CMD" >"$RUN/extra2.log" 2>&1 &\n'
     '            PID[$t]=$!;;\n'),
    ('        "$EXTRA_NAME") rec "$t" version "${EXTRA_VERSION:-?}";;\n',
     '        "$EXTRA_NAME") rec "$t" version "${EXTRA_VERSION:-?}";;\n'
     '        "$EXTRA2_NAME") rec "$t" version "${EXTRA2_VERSION:-?}";;\n'),
]
for old, new in edits:
    if s.count(old) != 1:
        sys.exit("routing_overhead.sh: peers.sh has changed; its patch no longer applies")
    s = s.replace(old, new)
open(path, 'w').write(s)
EOF

mkdir -p "$work/d1" "$work/d2"
RESULTS_DIR="$work/results" TARGETS="$PEER_TARGETS" \
  EXTRA_NAME=vantrel EXTRA_PORT=18890 EXTRA_VERSION="$(git -C "$root" rev-parse --short HEAD)" \
  EXTRA_CMD="$program --headless --port 18890 --data-dir $work/d1" \
  EXTRA2_NAME="$BASE_NAME" EXTRA2_PORT=18891 EXTRA2_VERSION="$BASE" \
  EXTRA2_CMD="$base_program --headless --port 18891 --data-dir $work/d2" \
  bash "$work/peers/peers.sh" ${stages[@]}
