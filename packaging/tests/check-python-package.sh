#!/usr/bin/env bash
# The python3-k27 package as installed, in a scratch root holding every
# package: its maintainer scripts byte-compile under its own name, the
# module imports from the root with the root's board library, opens a
# simulated board run by the root's daemon (k27.testing), and the example's
# tests pass with the installed module and pytest plugin.
#
# usage: check-python-package.sh ROOT PYTHON3_K27_DEB SOURCE_TREE
set -uo pipefail

root=$1 deb=$2 source_tree=$3
site=$root/usr/lib/python3/dist-packages
libdir=$(dirname "$(find "$root/usr/lib" -name 'libvantrelusb.so.*' -type f | head -n1)")
work=$(mktemp -d /tmp/k27-python-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
ok=0
fail() { echo "FAIL: $*"; ok=1; }

# Scripts: valid shell, compiling and cleaning this package's files.
for script in postinst prerm; do
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO "./$script" >"$work/$script" || fail "no $script"
  sh -n "$work/$script" || fail "$script is not valid shell"
done
grep -q 'py3compile -p python3-k27' "$work/postinst" || fail "the postinst does not byte-compile the package"
grep -q 'py3clean -p python3-k27' "$work/prerm" || fail "the prerm does not remove the byte code"
compgen -G "$site/k27/_k27.cpython-*.so" >/dev/null || fail "no extension in $site/k27"

# Debian's interpreter, the root's module and library, the root's programs;
# nothing from the source tree or the user's site.
run_python() {
  (cd "$work" && env -u PYTHONHOME PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 PYTHONNOUSERSITE=1 \
    LD_LIBRARY_PATH="$libdir" K27_VANTRELIO="$root/usr/sbin/vantrelio" K27_SIMCTL="$root/usr/bin/k27simctl" \
    VANTREL_SHARED_NAMESPACE="k27-test-python-$$" "$@")
}

run_python /usr/bin/python3 - "$root" <<'PYTHON' || fail "the installed module does not reach a simulated board"
import sys

root = sys.argv[1]
import k27
import k27.testing

assert k27.__file__.startswith(root), f"k27 from {k27.__file__}"
libraries = {line.split()[-1] for line in open("/proc/self/maps") if "libvantrelusb" in line}
assert libraries and all(path.startswith(root) for path in libraries), libraries
with k27.testing.simulated_daemon() as sim:
    assert sim.process.args[0].startswith(root), sim.process.args
    sim.set_inputs(bytes.fromhex("a55a3c00ff"))
    with k27.Board(0) as board:
        assert board.get_inputs().raw[:3] == bytes.fromhex("a55a3c"), board.get_inputs()
        board.configure_eeprom(board.check_eeprom())
        board.write_eeprom(0x40, b"python3-k27")
        assert board.read_eeprom(0x40, 11) == b"python3-k27"
print("the installed module reached a simulated board through the installed daemon")
PYTHON

# A user's tests with the plugin, on the installed example.
mkdir -p "$work/example/tests"
cp "$root/usr/share/doc/python3-k27/examples/end_of_line.py" "$work/example/" || fail "no installed example"
cp "$source_tree/examples/tests/"*.py "$work/example/tests/" || fail "no example tests in $source_tree"
run_python /usr/bin/python3 -m pytest -q -p no:cacheprovider "$work/example/tests" ||
  fail "the example's tests fail with the installed module"

rm -f /dev/shm/k27-test-python-$$.*
exit $ok
