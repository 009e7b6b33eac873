#!/usr/bin/env bash
# Scenes travel between the Linux and the Windows builds. The Linux tool binds
# samples/bunny.obj in a box cage and saves the scene; every build loads it, puts
# the cage in the test pose and deforms: the points must be the same bit for bit.
# Each Windows tool binds and saves the same scene in turn; the Linux build
# loads that one and must deform it as the Windows build itself does. Whether a
# Windows bind gives the Linux bind's weights is reported, with how far the
# deformed points of the two lie apart when it does not. Last, each tool's demo
# must write the files the Linux tool's demo writes, picture included.
# Usage: cross_platform.sh LINUX_BUILD WINDOWS_BUILD...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$1" && pwd)
shift
work=$root/build/cross-platform
rm -rf "$work"
mkdir -p "$work"
cage=$root/tests/data/bunny_box_cage.obj
mesh=$root/samples/bunny.obj
status=0

plugin_of() {
  local file
  for file in "$1"/plugin/morvexer.so "$1"/plugin/morvexer.vxl64 "$1"/plugin/morvexer.vxl; do
    [ -f "$file" ] && echo "$file" && return
  done
  echo "cross_platform: no plug-in in $1/plugin" >&2
  return 1
}
# run BUILD PROGRAM ARGS...: a program of that build, under Wine for Windows builds.
run() {
  local build=$1 program=$2
  shift 2
  if [ -x "$build/$program" ]; then
    "$build/$program" "$@"
  else
    "$root/scripts/wine-run.sh" "$build/$program.exe" "$@"
  fi
}
bind() { run "$1" apps/morvexer/morvexer --quiet --plugin "$(plugin_of "$1")" bind --cage "$cage" --mesh "$mesh" -o "$2"; }
deform() { run "$1" tests/morvexer_scene_probe "$(plugin_of "$1")" "$2" "$3" --pose; }
# The largest difference of two deformedPoints files, in units in the last place.
difference() {
  python3 - "$1" "$2" <<'EOF'
import struct, sys
def records(path):
    data, out, i = open(path, "rb").read(), {}, 0
    while i < len(data):
        j = data.index(b"\n", i)
        n = struct.unpack_from("<Q", data, j + 1)[0]
        out[data[i:j]] = struct.unpack_from("<%dd" % (3 * n), data, j + 9)
        i = j + 9 + 24 * n
    return out
def ordered(x):
    b = struct.unpack("<q", struct.pack("<d", x))[0]
    return b if b >= 0 else -(b & 0x7FFFFFFFFFFFFFFF)
a, b = records(sys.argv[1]), records(sys.argv[2])
if a.keys() != b.keys() or any(len(a[k]) != len(b[k]) for k in a):
    print("different objects or point counts")
else:
    ulps = max(abs(ordered(x) - ordered(y)) for k in a for x, y in zip(a[k], b[k]))
    dist = max(abs(x - y) for k in a for x, y in zip(a[k], b[k]))
    print("differ by up to %d units in the last place (%.3g in coordinates)" % (ulps, dist))
EOF
}
check() {  # check NAME FILE EXPECTED
  if cmp -s "$2" "$3"; then
    echo "PASS: $1: bit for bit"
  else
    echo "FAIL: $1: $(difference "$2" "$3")"
    status=1
  fi
}

demo() { run "$1" apps/morvexer/morvexer --quiet --plugin "$(plugin_of "$1")" demo --out "$2" >/dev/null; }

bind "$linux" "$work/linux.vtn"
deform "$linux" "$work/linux.vtn" "$work/linux.points"
demo "$linux" "$work/demo-linux"
for build in "$@"; do
  name=$(basename "$(plugin_of "$build")")
  deform "$build" "$work/linux.vtn" "$work/linux-in-$name.points"
  check "the Linux tool's scene deformed by $name" "$work/linux-in-$name.points" "$work/linux.points"

  bind "$build" "$work/$name.vtn"
  deform "$build" "$work/$name.vtn" "$work/$name.points"
  deform "$linux" "$work/$name.vtn" "$work/$name-in-linux.points"
  check "$name's scene deformed on Linux" "$work/$name-in-linux.points" "$work/$name.points"

  if cmp -s "$work/$name.vtn" "$work/linux.vtn"; then
    echo "note: $name binds exactly as Linux does (the scene files are the same bytes)"
  else
    echo "note: $name's bind differs from Linux's; deformed, they $(difference "$work/$name.points" "$work/linux.points")"
  fi

  demo "$build" "$work/demo-$name"
  differing=()
  for file in "$work/demo-linux"/*; do
    cmp -s "$file" "$work/demo-$name/${file##*/}" || differing+=("${file##*/}")
  done
  if [ ${#differing[@]} = 0 ]; then
    echo "PASS: $name's demo writes the Linux demo's $(ls "$work/demo-linux" | wc -l) files, byte for byte"
  else
    echo "FAIL: $name's demo differs from the Linux demo in ${differing[*]}"
    status=1
  fi
done
exit $status
