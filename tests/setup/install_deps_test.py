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

# The stand-ins keep their state in $STUB: missing (packages not installed,
# one a line; "*" for all), installed (what apt installed), foreign
# (architectures), update-fails (how many more updates fail; "always"),
# refuse (packages apt cannot install) and calls (what was run).
STUBS = {
    "apt-get": r"""#!/bin/sh
echo "apt-get $*" >>"$STUB/calls"
case " $* " in
  *" update "*)
    n=$(cat "$STUB/update-fails")
    [ "$n" = always ] && exit 100
    [ "$n" -gt 0 ] && { echo $((n - 1)) >"$STUB/update-fails"; exit 100; }
    exit 0 ;;
esac
for p in "$@"; do
  if grep -qx -- "$p" "$STUB/refuse"; then
    echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
  fi
done
for p in "$@"; do case "$p" in -*|install|APT::*) ;; *) echo "$p" >>"$STUB/installed" ;; esac; done
""",
    "dpkg-query": r"""#!/bin/sh
for last; do :; done
if grep -qx -- "$last" "$STUB/installed" ||
   ! grep -qx -e "$last" -e "[*]" "$STUB/missing"; then echo "install ok installed"; else exit 1; fi
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

WINE32, WINE64 = "wine32:i386", "wine64"


def run(kernel, missing, update_fails=0, refuse=(), noted=False):
    """Runs install-deps on a stubbed machine, with the note of an earlier
    failed 32-bit install when `noted`; answers (exit code, stderr, the calls
    it made, the packages apt installed, whether the note is there)."""
    with tempfile.TemporaryDirectory() as stub:
        note = os.path.join(stub, ".no-wine32")
        bin_dir = os.path.join(stub, "bin")
        os.mkdir(bin_dir)
        for name, text in STUBS.items():
            path = os.path.join(bin_dir, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        for name, lines in (("missing", missing), ("refuse", refuse), ("installed", []),
                            ("calls", []), ("update-fails", [str(update_fails)]),
                            (".no-wine32", [] if noted else None)):
            if lines is not None:
                with open(os.path.join(stub, name), "w") as f:
                    f.write("".join(line + "\n" for line in lines))
        env = dict(os.environ, STUB=stub, PATH=bin_dir + os.pathsep + os.environ["PATH"],
                   SORVANE_WINE_ARCH=kernel, SORVANE_APT_PAUSE="0", BUILD=stub)
        done = subprocess.run([SCRIPT], env=env, capture_output=True, text=True, timeout=30)
        with open(os.path.join(stub, "calls")) as f:
            calls = f.read().splitlines()
        with open(os.path.join(stub, "installed")) as f:
            now = set(f.read().splitlines())
        return done.returncode, done.stderr, calls, now, os.path.exists(note)


def verbs(calls):
    """The calls, shortened to "update", "install", "add-architecture"."""
    return [next(a.lstrip("-") for a in c.split()[1:] if a in ("update", "install", "--add-architecture"))
            for c in calls]


class InstallDeps(unittest.TestCase):
    def test_cases(self):
        # name, kernel, missing, update-fails, refused, exit, calls, stderr must
        # hold; the 32-bit Wine refused earlier when the kernel is "win32 noted"
        cases = [
            ("all present", "win32", [], 0, [], 0, [], []),
            ("all present, 64-bit", "win64", [], 0, [], 0, [], []),
            ("update fails once", "win64", ["*"], 1, [], 0,
             ["update", "update", "install"], ["attempt 1"]),
            ("update always fails", "win64", ["*"], "always", [], 0,
             ["update", "update", "update", "install"], ["going on"]),
            ("install fails", "win64", [WINE64], 0, [WINE64], 1, ["update", "install"],
             ["could not install wine64", "retry with: scripts/install-deps",
              "install --no-install-recommends wine64"]),
            ("32-bit machine", "win32", ["*"], 0, [], 0,
             ["add-architecture", "update", "install"], []),
            ("32-bit Wine refused", "win32", [WINE32, WINE64], "always", [WINE32], 0,
             ["add-architecture", "update", "update", "update", "install", "install"],
             ["WARNING", "32-bit test exes are not tested"]),
            ("32-bit Wine refused earlier", "win32 noted", [WINE32], 0, [], 0, [],
             ["WARNING", "32-bit test exes are not tested", "Delete"]),
            ("refused earlier, vehicle missing", "win32 noted", [WINE32, WINE64], "always", [], 0,
             ["update", "update", "update", "install"], ["going on"]),
        ]
        for name, kernel, missing, fails, refuse, code, expected, says in cases:
            with self.subTest(name):
                noted = kernel.endswith(" noted")
                kernel = kernel.split()[0]
                rc, err, calls, now, note = run(kernel, missing, fails, refuse, noted)
                self.assertEqual(code, rc, err)
                self.assertEqual(expected, verbs(calls), calls)
                for text in says:
                    self.assertIn(text, " ".join(err.split()))
                on_win32 = kernel == "win32" and not (refuse or noted)
                if calls and rc == 0:
                    self.assertIn(WINE32 if on_win32 else WINE64, now)
                if on_win32:
                    self.assertNotIn(WINE64, now, "64-bit vehicle installed needlessly")
                self.assertEqual(bool(refuse and kernel == "win32") or noted, note)
                if kernel == "win64" or noted:
                    # Nothing of i386, and apt reads the native lists only.
                    self.assertNotIn("i386", " ".join(calls) + " ".join(now))
                    for call in calls:
                        self.assertIn("APT::Architectures=amd64", call)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + ["-v"] if "-v" in sys.argv else sys.argv[:1])
