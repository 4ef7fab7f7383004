#!/usr/bin/env python3
"""scripts/install-deps against stand-in apt-get, dpkg, dpkg-query and sudo
on PATH: which packages it asks for on each kind of kernel, how it rides out
a failing `apt-get update`, and what it says when an install fails. Touches
neither the network nor the machine's packages."""
import os
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(REPO, "scripts", "install-deps")

# The stand-ins keep their state in $STUB: installed (one package a line),
# foreign (architectures), update-fails (how many more updates fail; "always"),
# refuse (packages apt cannot install) and calls (what was run).
STUBS = {
    "apt-get": r"""#!/bin/sh
echo "apt-get $*" >>"$STUB/calls"
case " $* " in
  *" update "*)
    n=$(cat "$STUB/update-fails" 2>/dev/null || echo 0)
    [ "$n" = always ] && exit 100
    [ "$n" -gt 0 ] && { echo $((n - 1)) >"$STUB/update-fails"; exit 100; }
    exit 0 ;;
esac
for p in "$@"; do
  if grep -qx -- "$p" "$STUB/refuse" 2>/dev/null; then
    echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
  fi
done
for p in "$@"; do case "$p" in -*|install|APT::*) ;; *) echo "$p" >>"$STUB/installed" ;; esac; done
""",
    "dpkg-query": r"""#!/bin/sh
for last; do :; done
grep -qx -- "$last" "$STUB/installed" 2>/dev/null || exit 1
echo "install ok installed"
""",
    "dpkg": r"""#!/bin/sh
case "$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$STUB/foreign" 2>/dev/null || true ;;
  --add-architecture) echo "dpkg $*" >>"$STUB/calls"; echo "$2" >>"$STUB/foreign" ;;
esac
""",
    "sudo": '#!/bin/sh\nexec "$@"\n',
}

COMMON = ["cmake", "make", "g++", "clang", "python3", "googletest", "libgtest-dev",
          "libgmock-dev", "g++-mingw-w64-i686", "gcc-mingw-w64-i686", "mingw-w64-i686-dev",
          "binutils-mingw-w64-i686", "wine", "fonts-wine", "xvfb", "xauth", "x11-utils",
          "imagemagick", "xdotool", "attr", "libhivex-dev", "libhivex-bin",
          "libwin-hivex-perl", "ntfs-3g", "fuse3", "libssl-dev", "nlohmann-json3-dev"]
WIN32 = ["wine32:i386"]
WIN64 = ["wine64", "g++-mingw-w64-x86-64", "gcc-mingw-w64-x86-64", "mingw-w64-x86-64-dev",
         "binutils-mingw-w64-x86-64"]


def run(kernel, installed=(), update_fails=0, refuse=(), noted=False):
    """Runs install-deps on a stubbed machine, with the note of an earlier
    failed 32-bit install when `noted`; answers (exit code, stderr, the calls
    it made, the packages installed afterwards, whether the note is there)."""
    with tempfile.TemporaryDirectory() as stub:
        note = os.path.join(stub, ".no-wine32")
        if noted:
            open(note, "w").close()
        bin_dir = os.path.join(stub, "bin")
        os.mkdir(bin_dir)
        for name, text in STUBS.items():
            path = os.path.join(bin_dir, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        for name, lines in (("installed", installed), ("refuse", refuse),
                            ("update-fails", [str(update_fails)])):
            with open(os.path.join(stub, name), "w") as f:
                f.write("".join(line + "\n" for line in lines))
        env = dict(os.environ, STUB=stub, PATH=bin_dir + os.pathsep + os.environ["PATH"],
                   SORVANE_WINE_ARCH=kernel, SORVANE_APT_PAUSE="0", BUILD=stub)
        done = subprocess.run([SCRIPT], env=env, capture_output=True, text=True, timeout=30)
        calls, now = [], []
        for name, into in (("calls", calls), ("installed", now)):
            path = os.path.join(stub, name)
            if os.path.exists(path):
                with open(path) as f:
                    into.extend(f.read().splitlines())
        return done.returncode, done.stderr, calls, set(now), os.path.exists(note)


def verbs(calls):
    """The calls, shortened to "update", "install", "add-architecture"."""
    return [next(a.lstrip("-") for a in c.split()[1:] if a in ("update", "install", "--add-architecture"))
            for c in calls]


class InstallDeps(unittest.TestCase):
    def test_cases(self):
        # name, kernel, installed, update-fails, refused, exit, calls, stderr must
        # hold; the 32-bit Wine refused earlier when the kernel is "win32 noted"
        cases = [
            ("all present", "win32", COMMON + WIN32, 0, [], 0, [], []),
            ("all present, 64-bit", "win64", COMMON + WIN64, 0, [], 0, [], []),
            ("update fails once", "win64", COMMON, 1, [], 0,
             ["update", "update", "install"], ["attempt 1"]),
            ("update always fails", "win64", [], "always", [], 0,
             ["update", "update", "update", "install"], ["going on"]),
            ("install fails", "win64", COMMON, 0, ["wine64"], 1, ["update", "install"],
             ["could not install wine64 g++-mingw-w64-x86-64", "retry with: scripts/install-deps",
              "install --no-install-recommends wine64"]),
            ("32-bit machine", "win32", [], 0, [], 0,
             ["add-architecture", "update", "install"], []),
            ("32-bit Wine refused", "win32", COMMON, "always", WIN32, 0,
             ["add-architecture", "update", "update", "update", "install", "install"],
             ["WARNING", "32-bit test exes are not tested"]),
            ("32-bit Wine refused earlier", "win32 noted", COMMON + WIN64, 0, [], 0, [],
             ["WARNING", "32-bit test exes are not tested", "Delete"]),
            ("refused earlier, vehicle missing", "win32 noted", COMMON, "always", [], 0,
             ["update", "update", "update", "install"], ["going on"]),
        ]
        for name, kernel, installed, fails, refuse, code, expected, says in cases:
            with self.subTest(name):
                noted = kernel.endswith(" noted")
                kernel = kernel.split()[0]
                rc, err, calls, now, note = run(kernel, installed, fails, refuse, noted)
                self.assertEqual(code, rc, err)
                self.assertEqual(expected, verbs(calls), calls)
                for text in says:
                    self.assertIn(text, " ".join(err.split()))
                if rc == 0:
                    vehicle = WIN32 if kernel == "win32" and not (refuse or noted) else WIN64
                    self.assertLessEqual(set(COMMON + vehicle), now)
                self.assertEqual(bool(refuse and kernel == "win32") or noted, note)
                if kernel == "win64" or noted:
                    # Nothing of i386, and apt reads the native lists only.
                    self.assertNotIn("i386", " ".join(calls) + " ".join(now))
                    for call in calls:
                        self.assertIn("APT::Architectures=amd64", call)
                if kernel == "win32" and not (refuse or noted):
                    self.assertFalse(now & set(WIN64), "64-bit vehicle installed needlessly")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + ["-v"] if "-v" in sys.argv else sys.argv[:1])
