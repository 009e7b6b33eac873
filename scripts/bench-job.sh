#!/usr/bin/env bash
# The million-point job end to end through the tool: a mesh of 971 775 points
# cut from the bundled scanned model, in a cage of 152 points and 300 triangles
# (452 weights a point). Prints each step's wall time and peak memory against
# its target, the weights' and the scene file's sizes, and, from the same run,
# the binding pass alone and the compressor alone, so that every figure can be
# read as a ratio of another. A manual benchmark: it takes minutes, writes
# several GB and needs about 6 GB of memory; never part of the tests.
#
#   scripts/bench-job.sh [--small] [FOLDER]
#
# --small runs every step on a 16 535-point cut and 10 frames, to see that the
# script works. FOLDER (default: $TMPDIR/morvexer-bench-job) holds the inputs
# and outputs; the frames' outputs are removed once measured.
#
# The compressor alone: a program bench_compress* in the bench build, when one
# exists, is run with MORVEXER_BENCH_INPUT set to the scene file, and its output
# is shown as it prints it; without one the line says "not built".
set -euo pipefail
cd "$(dirname "$0")/.."

small=""
dir=""
for arg in "$@"; do
  case "$arg" in
    --small) small=--small ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "bench-job: unknown option $arg" >&2; exit 2 ;;
    *) dir=$arg ;;
  esac
done
dir=${dir:-${TMPDIR:-/tmp}/morvexer-bench-job}

if [ ! -x /usr/bin/time ]; then
  echo "bench-job: needs GNU time (/usr/bin/time): apt-get install time" >&2
  exit 1
fi

echo "== building (bench preset)"
cmake --preset bench >/dev/null
cmake --build --preset bench --target morvexer_tool job_meshes >/dev/null
build=build/bench
tool=$build/apps/morvexer/morvexer
mkdir -p "$dir"
echo "== inputs in $dir"
"$build/bench/job_meshes" $small "$dir"

mesh=$dir/bunny_big.obj
points=$(grep -c '^v ' "$mesh")
weights=$((points * 452 * 4))
mesh_bytes=$(stat -c %s "$mesh")
memory_cap=$(( (weights + mesh_bytes) * 13 / 10 ))
mb() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }
echo "mesh: $points points, $(mb "$mesh_bytes"); weights: $(mb "$weights"); memory target: 1.3 x (weights + mesh) = $(mb "$memory_cap")"

# step NAME SECONDS MEMORY_CAP_BYTES (0: none) -- COMMAND...: runs it under
# GNU time, prints a row; leaves the wall time in $wall and the output in $dir/out.txt.
wall=0
printf '\n%-36s %9s %9s %-7s %11s %-7s\n' "step" "wall s" "target" "" "peak MB" ""
step() {
  local name=$1 target=$2 cap=$3
  shift 4
  if ! /usr/bin/time -v -o "$dir/time.txt" "$@" >"$dir/out.txt" 2>"$dir/err.txt"; then
    echo "$name: failed" >&2
    cat "$dir/err.txt" "$dir/time.txt" >&2
    exit 1
  fi
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$dir/time.txt")
  local rss_kb verdict mem_verdict=""
  rss_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$dir/time.txt")
  verdict=$(awk -v w="$wall" -v t="$target" 'BEGIN { print (w <= t) ? "met" : "missed" }')
  if [ "$cap" != 0 ]; then
    mem_verdict=$(awk -v r="$rss_kb" -v c="$cap" 'BEGIN { print (r * 1024 <= c) ? "met" : "missed" }')
  fi
  printf '%-36s %9.2f %9s %-7s %11.1f %-7s\n' "$name" "$wall" "<= $target" "$verdict" "$(awk -v r="$rss_kb" 'BEGIN { print r * 1024 / 1e6 }')" "$mem_verdict"
}

step "deform one-shot (bind, deform, write)" 6 "$memory_cap" -- \
  "$tool" --quiet deform --cage "$dir/cage.obj" --mesh "$mesh" --posed "$dir/posed.obj" -o "$dir/oneshot.obj"
step "bind and save" 12 "$memory_cap" -- \
  "$tool" bind --cage "$dir/cage.obj" --mesh "$mesh" -o "$dir/job.vtn"
bound=$(sed -n 's/.* in \([0-9.]*\) s, memory \(.*\); saved.*/\1 s, memory \2/p' "$dir/out.txt")
step "deform from the scene (load, write)" 4 "$memory_cap" -- \
  "$tool" --quiet deform --scene "$dir/job.vtn" --posed "$dir/posed.obj" -o "$dir/fromscene.obj"
step "check" 2 "$memory_cap" -- \
  "$tool" --quiet check --cage "$dir/cage.obj" --mesh "$mesh"
step "info" 0.5 "$memory_cap" -- \
  "$tool" info "$dir/job.vtn"

frames=$(ls "$dir"/frames/posed_*.obj | wc -l)
rm -rf "$dir/frames-out"
mkdir -p "$dir/frames-out"
step "sequence: 1 frame" 1000 "$memory_cap" -- \
  "$tool" --quiet deform --scene "$dir/job.vtn" --posed "$dir/frames/posed_{frame:04}.obj" --frames 1-1 -o "$dir/frame-one.obj"
one=$wall
step "sequence: $frames frames" 1000 "$memory_cap" -- \
  "$tool" --quiet deform --scene "$dir/job.vtn" --posed "$dir/frames/posed_{frame:04}.obj" --frames "1-$frames" -o "$dir/frames-out/bunny_{frame:04}.obj"
all=$wall
per_frame=$(awk -v a="$all" -v o="$one" -v n="$frames" 'BEGIN { printf "%.3f", (a - o) / (n - 1) }')
same_frame=$(cmp -s "$dir/frame-one.obj" "$dir/frames-out/bunny_0001.obj" && echo yes || echo NO)
rm -rf "$dir/frames-out"
printf '%-36s %9s %9s %-7s\n' "  a frame after the load" "$per_frame" "<= 0.3" \
  "$(awk -v p="$per_frame" 'BEGIN { print (p <= 0.3) ? "met" : "missed" }')"

step "29k model: bind and save" 0.5 0 -- \
  "$tool" bind --cage "$dir/cage.obj" --mesh "$dir/bunny_29k.obj" -o "$dir/small.vtn"
step "29k model: deform from the scene" 0.3 0 -- \
  "$tool" --quiet deform --scene "$dir/small.vtn" --posed "$dir/posed.obj" -o "$dir/small-posed.obj"

echo
echo "weights: $(mb "$weights") ($points points x 452 x 4 bytes)"
echo "scene file: $(mb "$(stat -c %s "$dir/job.vtn")") as written"
echo "binding pass alone (as bind reports it): ${bound:-not reported}"
compressor=""
for c in "$build"/bench/bench_compress*; do
  if [ -x "$c" ]; then compressor=$c; break; fi
done
if [ -z "$compressor" ]; then
  echo "compressor alone: not built"
  echo "compressed size: not built"
elif ! MORVEXER_BENCH_INPUT="$dir/job.vtn" "$compressor" >"$dir/compress.txt" 2>&1; then
  echo "compressor alone: $compressor failed:"
  sed 's/^/  /' "$dir/compress.txt"
else
  echo "compressor alone ($compressor on the scene file):"
  sed 's/^/  /' "$dir/compress.txt"
fi
echo "deform from the scene writes the one-shot's bytes: $(cmp -s "$dir/oneshot.obj" "$dir/fromscene.obj" && echo yes || echo NO)"
echo "a sequence's first frame is the single frame's bytes: $same_frame"
