#!/usr/bin/env bash
# The Windows builds (MinGW-w64: morvexer.vxl64 and morvexer.vxl with the host,
# the tool and the test suites) and their tests under Wine, then scenes carried
# between them and the Linux build. Installs what is missing; run as root on
# Debian. Exits non-zero, saying why, when a test fails or cannot run.
set -eEuo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export WINEPREFIX=$root/build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

t0=$(date +%s)
last=$t0
report=()
lap() {
  local now
  now=$(date +%s)
  report+=("$(printf '%-44s %5ss' "$1" $((now - last)))")
  last=$now
}
summary() {
  echo
  echo "== test-windows summary"
  printf '%s\n' "${report[@]}"
  printf '%-44s %5ss\n' "total" $(($(date +%s) - t0))
}
fail() {
  echo >&2
  echo "test-windows: FAIL: $*" >&2
  summary >&2
  exit 1
}
trap 'fail "line $LINENO: \"$BASH_COMMAND\" failed"' ERR
logs=$root/build/logs
mkdir -p "$logs"
# Runs a command with its output in build/logs/NAME.log, shown when it fails.
quietly() {
  local log=$logs/$1.log
  shift
  "$@" >"$log" 2>&1 </dev/null && return 0
  tail -n 40 "$log" >&2
  echo "(the whole output: $log)" >&2
  return 1
}
# What the run set up for itself goes on the way out: the Wine server, and the
# binfmt_misc entry (machine-wide, so it must not outlive the run).
registered_binfmt=0
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  if [ $registered_binfmt = 1 ] && [ -e "$binfmt/morvexer-qemu-i386" ]; then
    echo -1 >"$binfmt/morvexer-qemu-i386" || echo "test-windows: cannot remove $binfmt/morvexer-qemu-i386" >&2
  fi
}
trap cleanup EXIT

# ---- packages ----
# A mirror caught mid-sync fails an index or two; what is missing shows later.
update() { apt-get update -qq || echo "test-windows: apt-get update reported errors; going on" >&2; }
scripts/setup.sh
if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
  echo "test-windows: adding the i386 architecture (for wine32)"
  dpkg --add-architecture i386
  update
fi
packages=(wine wine64 wine32:i386 libz-mingw-w64-dev libxxhash-dev googletest dpkg-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686)
missing=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "test-windows: installing ${missing[*]}"
  update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    fail "cannot install ${missing[*]}; the Windows builds were not tested"
fi
if [ ! -x /usr/lib/wine/wine64 ] || [ ! -x /usr/lib/wine/wine ]; then
  fail "Wine (wine64 and wine32) is not installed; the Windows builds were not tested"
fi
lap "packages"

# ---- 32-bit programs ----
# wine32 is an i386 Linux program. Where the machine cannot run i386 code
# itself, qemu user-mode emulation runs it through binfmt_misc. Debian 12's qemu
# (7.2) needs about a minute to start each Wine process, because it tracks the
# guest's memory page by page; qemu 8 and later start it in a fraction of a
# second, so that one is used (from the release's backports, unpacked under
# build/, the machine's own packages left alone) and registered in front for
# the length of the run.
binfmt=/proc/sys/fs/binfmt_misc
i386_magic='7f454c4601010100000000000000000002000300'
i386_handlers() {
  local entry
  for entry in "$binfmt"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    if grep -qx enabled "$entry" 2>/dev/null && grep -q "^magic $i386_magic" "$entry"; then
      sed -n 's/^interpreter //p' "$entry"
    fi
  done
}
qemu_major() { { "$1" --version 2>/dev/null || true; } | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p'; }
fast_qemu() {
  local interpreter
  for interpreter in $(i386_handlers); do
    [ "$(qemu_major "$interpreter")" -ge 8 ] 2>/dev/null && return 0
  done
  return 1
}
fetch_qemu() {
  local dir=$root/build/windows-deps/qemu
  if [ ! -x "$dir/usr/bin/qemu-i386" ]; then
    mkdir -p "$dir"
    local candidate
    candidate=$(apt-cache policy qemu-user | sed -n 's/^ *Candidate: \([0-9]*:\)\{0,1\}\([0-9]*\).*/\2/p')
    if [ "${candidate:-0}" -ge 8 ] 2>/dev/null; then
      (cd "$dir" && apt-get download -qq qemu-user) >"$dir/apt.log" 2>&1 || return 1
    else
      # The release's backports, through a private list: the machine's sources stay as they are.
      local codename mirror lists=$dir/apt
      codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
      mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
      mkdir -p "$lists/lists/partial" "$lists/sources"
      echo "deb ${mirror:-http://deb.debian.org/debian} $codename-backports main" >"$lists/sources/backports.list"
      : >"$lists/none.list"
      local apt_opts=(-o Dir::Etc::sourcelist="$lists/none.list" -o Dir::Etc::sourceparts="$lists/sources" -o Dir::State::Lists="$lists/lists")
      { apt-get "${apt_opts[@]}" update && (cd "$dir" && apt-get "${apt_opts[@]}" download qemu-user); } >"$dir/apt.log" 2>&1 ||
        return 1
    fi
    dpkg-deb -x "$(ls "$dir"/qemu-user_*.deb | head -n 1)" "$dir" || return 1
  fi
  echo "$dir/usr/bin/qemu-i386"
}
ensure_i386() {
  local native=1
  [ -n "$(i386_handlers)" ] && native=0
  if [ $native = 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "test-windows: i386 code runs natively"
    return
  fi
  if fast_qemu; then
    echo "test-windows: i386 code runs under $(i386_handlers | head -n 1)"
    return
  fi
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
  fi
  local qemu
  qemu=$(fetch_qemu) && [ -x "$qemu" ] || return 1
  # An earlier run's entry whose qemu has gone with its build folder is replaced.
  if [ -e "$binfmt/morvexer-qemu-i386" ]; then
    echo -1 >"$binfmt/morvexer-qemu-i386" || return 1
  fi
  printf '%s' ":morvexer-qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" >"$binfmt/register" ||
    return 1
  registered_binfmt=1
  echo "test-windows: i386 code runs under $qemu ($("$qemu" --version | head -n 1)), registered with binfmt_misc"
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
ensure_i386 || fail "this machine cannot run i386 code, and qemu user-mode emulation could not be set up; wine32, and with it the i386 build's tests, cannot run"
lap "i386 code under Wine"

# ---- dependencies and builds ----
scripts/windows-deps.sh
lap "libtiff and libpng from Debian sources"
for preset in windows-x64 windows-x86; do
  echo "== $preset"
  quietly "configure-$preset" cmake --preset "$preset" || fail "cannot configure $preset"
  cmake --build --preset "$preset"
  lap "build $preset"
done
# The scene checks need the Linux tool and probe (built already when
# scripts/test.sh runs this; built here when run alone).
quietly configure-default cmake --preset default || fail "cannot configure the Linux build"
cmake --build --preset default --target morvexer_tool morvexer_scene_probe
lap "Linux tool and probe"

# ---- Wine ----
/usr/lib/wine/wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-windows: making the Wine prefix $WINEPREFIX"
  quietly wineboot /usr/lib/wine/wine64 wineboot -i || fail "cannot make the Wine prefix $WINEPREFIX"
fi
# One server for every program of the run, ended on the way out; the one that
# made the prefix saves it and leaves first.
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p || fail "cannot start a Wine server for $WINEPREFIX"
# Wine's own services start with the first program and live as long as the
# server; started here, they do not hold on to a test's output, which would
# keep ctest waiting for the end of it.
quietly first-wine-program /usr/lib/wine/wine64 cmd /c exit 0 || fail "Wine cannot run a program in $WINEPREFIX"
lap "Wine prefix"

# ---- tests ----
status=0
for preset in windows-x64 windows-x86; do
  echo "== ctest $preset"
  ctest --preset "$preset" || status=1
  lap "tests $preset"
done
echo "== scenes between Linux and Windows"
tests/cross_platform.sh build/default build/windows-x64 build/windows-x86 || status=1
lap "scenes between Linux and Windows"

summary
if [ $status != 0 ]; then
  echo "test-windows: FAIL: some Windows tests failed (see above)" >&2
  exit 1
fi
echo "test-windows: every Windows test passed"
