#!/usr/bin/env python3
"""Runs the end-to-end scenarios, each in a fresh Wine prefix under the
build folder, and reports each one's outcome and time. Needs an X display
(scripts/run-e2e provides one) and the built program, driver, helpers and
forge. usage: run_scenarios.py [NAME...]; exit code 1 when one failed.
SORVANE_KEEP_PREFIX=1 keeps the prefixes of failed scenarios;
SORVANE_WIN32_BUILD names another MinGW build folder for the driver.
"""
import glob
import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenarios  # noqa: E402
import unattended  # noqa: E402
import winebox  # noqa: E402


def remove_stale(builds):
    """Prefixes of earlier runs whose runner is gone."""
    for old in glob.glob(os.path.join(builds.win32, "wine", "e2e-*")):
        try:
            pid = int(old.rsplit("-", 1)[1])
            os.kill(pid, 0)
        except (ValueError, ProcessLookupError):
            winebox.subprocess.run([os.path.join(winebox.REPO, "scripts", "wine-prefix"), "remove", old])
        except PermissionError:
            pass


def main(names):
    builds = winebox.Builds()
    missing = builds.missing()
    if missing:
        print("run-e2e: build first (make native win32 program); missing: %s" % ", ".join(missing))
        return 2
    every = scenarios.SCENARIOS + unattended.SCENARIOS
    chosen = [(n, f) for n, f in every if not names or n in names]
    if names and len(chosen) != len(set(names)):
        print("run-e2e: scenarios are %s" % ", ".join(n for n, _ in every))
        return 2
    remove_stale(builds)
    failed = []
    start = time.monotonic()
    for name, scenario in chosen:
        began = time.monotonic()
        check = scenarios.Check()
        prefix = None
        outcome = ""
        try:
            prefix = winebox.Prefix(builds, "e2e-%s-%d" % (name, os.getpid()))
            outcome = scenario(builds, prefix, check) or ""
        except Exception:
            check.failures.append(traceback.format_exc().rstrip())
        finally:
            if prefix:
                prefix.stop_server()
                for crash in prefix.crashes():
                    check.failures.append("a process of the prefix crashed (%s): %s" % (prefix.log, crash))
                if check.failures and os.environ.get("SORVANE_KEEP_PREFIX") == "1":
                    print("run-e2e: prefix kept at %s" % prefix.path)
                else:
                    prefix.remove()
        seconds = time.monotonic() - began
        if check.failures:
            failed.append(name)
            print("[  FAILED  ] %s (%.1f s)" % (name, seconds))
            for failure in check.failures:
                print("    " + failure.replace("\n", "\n    "))
        else:
            print("[       OK ] %s (%.1f s): %s" % (name, seconds, outcome))
        for note in check.notes:
            print("    note: " + note)
        sys.stdout.flush()
    print("run-e2e: %d of %d scenarios passed in %.1f s" % (len(chosen) - len(failed), len(chosen),
                                                           time.monotonic() - start))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
