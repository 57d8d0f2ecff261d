#!/usr/bin/env bash
# Everything from a fresh clone: set-up, the three builds, then every test in ONE CTest run,
# whose summary is the last thing printed. Exit status non-zero on any failure.
#
#   build/host   native core, unit tests, fuzz replays (AddressSanitizer + UBSan)
#   build/tsan   native threaded engine and its tests (ThreadSanitizer, clang)
#   build/win64  x86_64 Windows build: program and all tests, run under 64-bit Wine
#   build/win    i686 Windows build, the shipped Pravel.exe; its tests run too where the kernel
#                runs 32-bit processes (otherwise only the program and the tools are built)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
started=$(date +%s)
step() { echo "== $* ($(($(date +%s) - started)) s)"; }

step "set-up"
tools/setup.sh

# 32-bit Windows programs need 32-bit Linux processes (the plain wine loader is one).
run32=0
if /usr/lib/wine/wine --version >/dev/null 2>&1; then run32=1; fi

# ccache keeps compiled objects across runs and clones on the same machine (~/.cache/ccache);
# paths inside the tree are hashed relative to it.
export CCACHE_BASEDIR="$here"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
configure() {
  local dir="$1"; shift
  # A Windows build folder first configured with the POSIX-thread compilers keeps them (CMake
  # records the compiler once): start that folder's configuration afresh.
  if grep -qs -- '-posix"' "$here/build/$dir"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    echo "test.sh: build/$dir used the POSIX-thread compilers; configuring it afresh"
    rm -rf "$here/build/$dir/CMakeCache.txt" "$here/build/$dir/CMakeFiles"
  fi
  cmake -S "$here" -B "$here/build/$dir" -G Ninja "${launcher[@]}" "$@" >"$here/build/$dir.configure.log" 2>&1 || {
    cat "$here/build/$dir.configure.log"; echo "test.sh: configuring build/$dir failed" >&2; exit 1; }
}
build() {
  local dir="$1"; shift
  cmake --build "$here/build/$dir" -j2 "$@" || { echo "test.sh: building build/$dir failed" >&2; exit 1; }
}

step "build/host"
mkdir -p build
# -O1 and line tables only: a sanitized test file compiles in about half the time of -O2 -g.
configure host -DPRAVEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
build host

step "build/tsan"
# The threaded engine under ThreadSanitizer (clang): only its own tests are built.
configure tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPRAVEL_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
build tsan

step "build/win64"
configure win64 -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
build win64

step "build/win (i686)"
configure win -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
if [ "$run32" = 1 ]; then
  build win
else
  targets=(pravel_core pravel_win)
  [ -f app/main_win.cpp ] && targets+=(Pravel)
  compgen -G "tools/probe/*.cpp" >/dev/null && targets+=(pravel-probe)
  [ -f tools/ctl/pravel_ctl.cpp ] && targets+=(pravel-ctl)
  build win --target "${targets[@]}"
fi

# The download package (its tests unpack and run it): the 32-bit release, and where this
# kernel cannot run 32-bit programs also the same package from the x86_64 build.
step "package"
./dist.sh >build/dist.log 2>&1 || { cat build/dist.log; echo "test.sh: ./dist.sh failed" >&2; exit 1; }
if [ "$run32" = 0 ]; then
  ./dist.sh --win64 >>build/dist.log 2>&1 || { cat build/dist.log; echo "test.sh: ./dist.sh --win64 failed" >&2; exit 1; }
fi

# One CTest run over all builds.
dirs='"host" "tsan" "win64"'
[ "$run32" = 1 ] && dirs="$dirs \"win\""
cat >build/CTestTestfile.cmake <<EOF
# Written by test.sh: runs the tests of every build in one CTest invocation.
subdirs($dirs)
EOF

if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/xvfb.sh
  . tools/xvfb.sh
  pravel_start_xvfb
fi
# One Wine server for the whole run: a server that exits between two tests can drop a client
# that connects at that very moment ("recvmsg: Connection reset by peer"). It ends by itself
# half a minute after the last test.
WINEPREFIX="$here/build/wineprefix" WINEDEBUG=-all /usr/lib/wine/wineserver -p30 >/dev/null 2>&1 || true
# Its session (services, desktop) is started once here, not by two tests racing to start it.
tools/wine-run.sh "$here/build/win64/pravel-ctl.exe" list >/dev/null 2>&1 || true
step "tests (32-bit Windows tests: $([ "$run32" = 1 ] && echo yes || echo "no, this kernel refuses 32-bit processes"))"
set +e
# The host build's import test reads build/win and build/win64, built above: a missing program
# there is a failure, not a skip.
export PRAVEL_REQUIRE_WINDOWS_BUILDS=1
ctest --test-dir build --output-on-failure -j2 </dev/null
rc=$?
exit $rc
