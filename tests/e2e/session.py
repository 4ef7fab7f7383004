"""One scan of a planted machine, observed from outside: the registry and
the drive's listing before and after, the driver's view of the window,
which planted processes still run, the pending renames.
"""
import regfile

SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
PENDING = "PendingFileRenameOperations"
# Wine's display driver stamps this value with the time at every start.
WINE_STAMPS = {("HKLM\\System\\CurrentControlSet\\Control\\Class\\"
                "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000", "DriverDateData")}
MANAGED = 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
# Wine's display driver keeps each monitor's rectangle and work area as
# device properties, and writes them again whenever a process of the session
# sets up the display (seen once in some 60 runs on a loaded machine: the values
# before the scan differing from the template's and the scan's session
# writing them back). The scan has no call that writes there.
MONITOR_PROPERTIES = "\\properties\\{233a9ef3-afc4-4abd-b564-c32f21f1535b}\\"


def wine_stamp(key, name):
    k = key.lower()
    return (key, name) in WINE_STAMPS or (
        k.startswith("hklm\\system\\currentcontrolset\\enum\\display\\") and MONITOR_PROPERTIES in k)


class Observed:
    pass


def prepare(prefix, machine=None, version=None):
    """Seeds the registry and settles the prefix, so that the registry
    saved next is the state before the scan."""
    if machine:
        machine.reg(MANAGED.split("\n", 2)[2])
        machine.seed()
    else:
        prefix.seed(MANAGED)
    if version:
        prefix.set_version("sorvane.exe", version)
    # Wine registers its fonts at the first font use in a prefix; have that
    # done before the registry is taken, in a server session of its own (done
    # in the session of the seeding, it was not saved).
    prefix.stop_server()
    prefix.driver("settle")


def run(prefix, machine=None, options=(), version=None, before_scan=None):
    prepare(prefix, machine, version)
    o = Observed()
    o.registry_before = prefix.registry()
    if machine:
        machine.start_processes()
    if before_scan:
        before_scan()
    o.tree = prefix.tree()
    o.scan = prefix.scan(*options)
    o.alive = {path: prefix.alive(pid) for path, pid in (machine.pids.items() if machine else [])}
    o.tree_after = prefix.tree()
    o.registry_after = prefix.registry()
    o.removed_keys, o.added_keys, o.removed_values, changed = regfile.diff(o.registry_before, o.registry_after)
    o.changed_values = [(k, n, d) for k, n, d in changed
                        if not wine_stamp(k, n) and (k, n) != (SESSION_MANAGER, PENDING)]
    o.pending = pending_renames(o.registry_after)
    return o


def pending_renames(registry):
    """The pending renames as (source, target) pairs."""
    values = regfile.folded(registry).get(SESSION_MANAGER.lower(), {})
    if PENDING not in values:
        return []
    parts = regfile.multi_sz(values[PENDING])
    return list(zip(parts[0::2], parts[1::2]))


def removed_entries(o):
    """What the scan removed from the registry: (key, value) and (key, None)."""
    entries = {(k.lower(), n) for k, n, _ in o.removed_values}
    entries |= {(k.lower(), None) for k in o.removed_keys}
    # Values of a removed key go with it.
    return {(k, n) for k, n in entries if n is None or (k, None) not in entries}


def statistics_block(scanned, infected, removed):
    return ([" "] if infected else []) + [
        "Scanning statistics", "-" * 30,
        "Total files scanned\t\t:  %d" % scanned,
        "Total files infected\t\t:  %d" % infected,
        "Total files removed\t\t:  %d" % removed]
