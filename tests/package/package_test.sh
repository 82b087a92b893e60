#!/usr/bin/env bash
# What the build delivers to its users, checked the way a user meets it.
#
#   package_test.sh install   installs the build into a temporary prefix and
#                             checks the tree file by file, the run paths and
#                             the man pages; builds examples/host.c with
#                             pkg-config and examples/CMakeLists.txt with
#                             find_package, and runs both against the installed
#                             simulator
#   package_test.sh deb       builds the Debian package and checks its files
#                             and control fields
#   package_test.sh pip       installs the Python package with pip into a
#                             virtual environment, offline, and runs the
#                             example station tests with its pytest fixture
#
# tests/package/CMakeLists.txt passes the build's facts in the environment:
# TAVO_BUILD_DIR TAVO_SOURCE_DIR TAVO_CMAKE TAVO_CPACK TAVO_GENERATOR TAVO_CC
# TAVO_SANITIZE_FLAGS (empty without sanitizers: a program linked to a
# sanitized library must be built with them too) TAVO_VERSION (3.5.3.2)
# TAVO_LIBRARY_VERSION (3.5.3) TAVO_SOVERSION TAVO_LIBDIR TAVO_BINDIR
# TAVO_INCLUDEDIR TAVO_MANDIR (relative install directories) TAVO_PROGRAMS
# (the installed programs, blank-separated) TAVO_MAN_PAGES (ON or OFF)
# TAVO_EXPORT_CONFIG (the build type in lower case, or noconfig) TAVO_PYTHONDIR
# (where the Python package goes) TAVO_PYTHON (an interpreter with pytest)
# TAVO_PYTHON_PRELOAD (the sanitizer runtime an interpreter must load first, or
# empty) TAVO_LIBRARY TAVO_TAVOSIM (the build's library and simulator).
set -euo pipefail
# (A pipe into "grep -q" may kill its writer with SIGPIPE, which pipefail
# reports as a failure: outputs are captured first and searched afterwards.)

mode=${1:?usage: package_test.sh install|deb}
work=$(mktemp -d "${TMPDIR:-/tmp}/tavolink-package.XXXXXX")
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The files (and links) an install must hold, relative to its prefix, sorted;
# nothing else may be there (test programs, benchmarks and fuzz targets above all).
expected_files() {
  local lib=$TAVO_LIBDIR program
  {
    echo "$lib/libtavolink2.so"
    echo "$lib/libtavolink2.so.$TAVO_SOVERSION"
    echo "$lib/libtavolink2.so.$TAVO_LIBRARY_VERSION"
    echo "$lib/libTavoVault.so"
    echo "$TAVO_INCLUDEDIR/tavolink2.h"
    echo "$lib/pkgconfig/tavolink2.pc"
    for f in TavoLink2Config TavoLink2ConfigVersion TavoLink2Targets \
      "TavoLink2Targets-$TAVO_EXPORT_CONFIG"; do
      echo "$lib/cmake/TavoLink2/$f.cmake"
    done
    for program in $TAVO_PROGRAMS; do
      echo "$TAVO_BINDIR/$program"
      [ "$TAVO_MAN_PAGES" = ON ] && echo "$TAVO_MANDIR/man1/$program.1.gz"
    done
    (cd "$TAVO_SOURCE_DIR/python" && find tavolink -type f ! -path '*__pycache__*') |
      sed "s|^|$TAVO_PYTHONDIR/|"
    echo "$TAVO_PYTHONDIR/tavolink/_installed.py"
  } | sort
}

# The single RUNPATH of an ELF file.
run_path() {
  readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p'
}

check_install_tree() {
  local prefix=$1 lib=$1/$TAVO_LIBDIR program page text
  diff <(expected_files) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) ||
    fail "the installed files differ from the expected list (< expected, > installed)"
  [ "$(readlink "$lib/libtavolink2.so")" = "libtavolink2.so.$TAVO_SOVERSION" ] ||
    fail "libtavolink2.so does not link to the SONAME"
  [ "$(readlink "$lib/libtavolink2.so.$TAVO_SOVERSION")" = "libtavolink2.so.$TAVO_LIBRARY_VERSION" ] ||
    fail "the SONAME link does not reach the library"
  grep -q "(SONAME).*\[libtavolink2.so.$TAVO_SOVERSION\]" \
    <<<"$(readelf -d "$lib/libtavolink2.so.$TAVO_LIBRARY_VERSION")" || fail "wrong SONAME"
  # The vault is opened by name from the library: its run path must be the
  # library's own directory, where the vault lies.
  [ "$(run_path "$lib/libtavolink2.so.$TAVO_LIBRARY_VERSION")" = "\$ORIGIN" ] ||
    fail "the library's run path is not \$ORIGIN"
  for program in $TAVO_PROGRAMS; do
    [ "$(run_path "$prefix/$TAVO_BINDIR/$program")" = "\$ORIGIN/../$TAVO_LIBDIR" ] ||
      fail "$program's run path does not lead to $TAVO_LIBDIR"
    if [ "$TAVO_MAN_PAGES" = ON ]; then
      page=$prefix/$TAVO_MANDIR/man1/$program.1.gz
      text=$(zcat "$page") || fail "$page is not gzip"
      grep -qi "^\.TH $program \"1\"" <<<"$text" || fail "$page has no title line"
      grep -q "^$program \\\\- [a-z]" <<<"$text" || fail "$page has no name line"
      grep -q '^\\fB\\-' <<<"$text" || fail "$page lists no options"
    fi
  done
}

# The installed interpreter's environment: nothing of the build tree, the
# sanitizer runtime first when the library was built with one.
python_env() {
  local -a env=(env -u TAVOLINK_LIBRARY -u TAVOLINK_TAVOSIM -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1)
  if [ -n "$TAVO_PYTHON_PRELOAD" ]; then
    env+=("LD_PRELOAD=$TAVO_PYTHON_PRELOAD" "ASAN_OPTIONS=detect_leaks=0")
  fi
  "${env[@]}" "$@"
}

# Runs a host program against the simulator on COM5 in directory $2 and
# checks that it reports the module.
run_host() {
  local host=$1 dir=$2 pty=$3
  (cd "$dir" && TAVOLINK_COM5=$pty "$host" 5) >"$dir/host.out" 2>&1 ||
    { cat "$dir/host.out"; fail "$host exited with $?"; }
  grep -Eq '^software identifier: [0-9A-F]{16}$' "$dir/host.out" ||
    { cat "$dir/host.out"; fail "$host printed no software identifier"; }
}

test_install() {
  local prefix=$work/prefix
  "$TAVO_CMAKE" --install "$TAVO_BUILD_DIR" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
  check_install_tree "$prefix"

  # pkg-config: the installed prefix, the version, and the one-line build.
  export PKG_CONFIG_PATH=$prefix/$TAVO_LIBDIR/pkgconfig
  [ "$(pkg-config --variable=prefix tavolink2)" = "$prefix" ] || fail "wrong prefix in tavolink2.pc"
  [ "$(pkg-config --modversion tavolink2)" = "$TAVO_VERSION" ] || fail "wrong version in tavolink2.pc"
  mkdir "$work/pc"
  # shellcheck disable=SC2046,SC2086 # flags are word lists
  "$TAVO_CC" -std=c11 -Wall -Wextra -Werror -pedantic $TAVO_SANITIZE_FLAGS \
    "$TAVO_SOURCE_DIR/examples/host.c" $(pkg-config --cflags --libs tavolink2) \
    -Wl,-rpath,"$(pkg-config --variable=libdir tavolink2)" -o "$work/pc/host" ||
    fail "host.c does not build with pkg-config"
  # It must run with the installed library, not the build tree's.
  grep -q "libtavolink2.so.$TAVO_SOVERSION => $prefix/$TAVO_LIBDIR/" <<<"$(ldd "$work/pc/host")" ||
    fail "the host program does not load the installed library"

  # find_package(TavoLink2) from the standalone example project.
  if ! "$TAVO_CMAKE" -S "$TAVO_SOURCE_DIR/examples" -B "$work/cmake" -G "$TAVO_GENERATOR" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$TAVO_CC" \
    -DCMAKE_C_FLAGS="-Wall -Wextra -Werror -pedantic $TAVO_SANITIZE_FLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$TAVO_SANITIZE_FLAGS" >"$work/cmake.log" 2>&1 ||
    ! "$TAVO_CMAKE" --build "$work/cmake" >>"$work/cmake.log" 2>&1; then
    cat "$work/cmake.log"
    fail "examples/CMakeLists.txt does not build"
  fi

  # Both programs against the installed simulator, which starts in TAT mode
  # (so no open delay) and prints its terminal's path first.
  "$prefix/$TAVO_BINDIR/tavosim" --tat >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  local pty="" _
  for _ in $(seq 100); do
    pty=$(head -n 1 "$work/sim.out")
    [ -n "$pty" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$pty" ] || { cat "$work/sim.err"; fail "tavosim printed no terminal path"; }
  run_host "$work/pc/host" "$work/pc" "$pty"
  # The sample configuration changes nothing: with it in the current
  # directory, the session gives the same lines.
  cp "$TAVO_SOURCE_DIR/examples/TavoLink2.Ini" "$work/cmake/"
  run_host "$work/cmake/host" "$work/cmake" "$pty"
  diff "$work/pc/host.out" "$work/cmake/host.out" ||
    fail "the sample TavoLink2.Ini changed what the session does"
  kill "$sim_pid"
  wait "$sim_pid" || { cat "$work/sim.err"; fail "tavosim did not end cleanly"; }
  sim_pid=""

  # The Python package finds the installed library and tavosim by itself,
  # and the example station script runs against a simulated module.
  local out
  out=$(cd "$work" && python_env PYTHONPATH="$prefix/$TAVO_PYTHONDIR" "$TAVO_PYTHON" -c '
import subprocess, sys, tavolink, tavolink.testing as t
station, backups = sys.argv[1:]
with t.simulated_module() as sim:
    run = subprocess.run([sys.executable, station, sim.port, backups])
print("exit", run.returncode)
print("library", tavolink.library_path())
print("tavosim", t.find_tavosim())
' "$TAVO_SOURCE_DIR/examples/python/station.py" "$work" 2>&1) || { echo "$out"; fail "the installed Python package does not work"; }
  grep -q "^exit 0$" <<<"$out" || { echo "$out"; fail "station.py failed"; }
  grep -q "^library $prefix/$TAVO_LIBDIR/libtavolink2.so.$TAVO_SOVERSION$" <<<"$out" ||
    { echo "$out"; fail "the Python package did not load the installed library"; }
  grep -q "^tavosim $prefix/$TAVO_BINDIR/tavosim$" <<<"$out" ||
    { echo "$out"; fail "the Python package did not find the installed tavosim"; }
  echo "install tree, pkg-config and find_package builds, host program and Python package against tavosim: OK"
}

test_pip() {
  # Debian's interpreter: its setuptools and wheel build the package without
  # a network; --system-site-packages lets the environment see them.
  python_env "$TAVO_PYTHON" -m venv --system-site-packages "$work/venv" ||
    fail "python3 -m venv failed (python3-venv)"
  # A copy: pip builds in the directory it is given.
  cp -r "$TAVO_SOURCE_DIR/python" "$work/source"
  python_env "$work/venv/bin/pip" install --no-index -q "$work/source" >"$work/pip.log" 2>&1 ||
    { cat "$work/pip.log"; fail "pip install ./python failed"; }
  local site
  site=$(python_env "$work/venv/bin/python" -c 'import tavolink, os; print(os.path.dirname(tavolink.__file__))')
  [[ $site == "$work/venv/"* ]] || fail "tavolink imported from $site, not the environment"
  [ -f "$site/py.typed" ] || fail "py.typed is not installed"
  # The fixture comes with the package (pytest's plugin entry point).
  (cd "$work" && python_env TAVOLINK_LIBRARY="$TAVO_LIBRARY" TAVOLINK_TAVOSIM="$TAVO_TAVOSIM" \
    "$work/venv/bin/python" -m pytest -q -p no:cacheprovider \
    "$TAVO_SOURCE_DIR/examples/python/test_station.py") >"$work/pytest.log" 2>&1 ||
    { cat "$work/pytest.log"; fail "the example station tests failed"; }
  echo "pip install into a virtual environment, example tests with the tavosim fixture: OK"
}

test_deb() {
  (cd "$TAVO_BUILD_DIR" && "$TAVO_CPACK" -G DEB -B "$work/deb") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
  local debs=("$work"/deb/tavolink2_"$TAVO_VERSION"_*.deb)
  [ -f "${debs[0]}" ] || fail "no tavolink2_${TAVO_VERSION}_<arch>.deb"
  local deb=${debs[0]}

  # The same files as an install under /usr, and nothing else.
  local listing
  listing=$(dpkg-deb -c "$deb")
  diff <(expected_files | sed 's|^|./usr/|') <(grep -v '^d' <<<"$listing" | awk '{print $6}' | sort) ||
    fail "the package's files differ from the expected list (< expected, > packaged)"
  grep -q "/libtavolink2.so.$TAVO_SOVERSION -> libtavolink2.so.$TAVO_LIBRARY_VERSION$" <<<"$listing" ||
    fail "the package lacks the SONAME link"
  dpkg-deb --fsys-tarfile "$deb" >"$work/data.tar"
  grep -qx 'prefix=/usr' <<<"$(tar -xOf "$work/data.tar" "./usr/$TAVO_LIBDIR/pkgconfig/tavolink2.pc")" ||
    fail "the packaged tavolink2.pc does not name /usr"

  local info field
  info=$(dpkg-deb -I "$deb")
  for field in "Package: tavolink2" "Version: $TAVO_VERSION" "Section: electronics" \
    "Maintainer: .*<.*@.*>" "Description: .*TAVO" "Depends: .*libc6"; do
    grep -Eq "^ $field" <<<"$info" || { echo "$info"; fail "control field '$field' missing"; }
  done
  # The long description: at least one continuation line after the summary.
  grep -q '^  [A-Za-z]' <<<"$(grep -A1 '^ Description:' <<<"$info" | tail -n 1)" ||
    fail "no long description"
  echo "Debian package $(basename "$deb"): OK"
}

case $mode in
  install) test_install ;;
  deb) test_deb ;;
  pip) test_pip ;;
  *) fail "unknown mode '$mode'" ;;
esac
