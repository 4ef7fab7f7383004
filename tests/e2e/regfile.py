"""Reads the registry a Wine prefix has saved (user.reg, system.reg).

The result maps "HKCU\\key" and "HKLM\\key" (Windows spelling, keys
compared ignoring case) to {value name: data as the file writes it}; the
default value is named "@". Timestamps are left out, so two loads of an
unchanged registry compare equal.
"""
import os

HIVES = (("user.reg", "HKCU"), ("system.reg", "HKLM"))


def _unquote(text):
    """The text of a quoted .reg string (without its quotes)."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                j = i + 2
                while j < len(text) and j < i + 6 and text[j] in "0123456789abcdefABCDEF":
                    j += 1
                out.append(chr(int(text[i + 2:j], 16)))
                i = j
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _split_value(line):
    """(name, data) of a value line."""
    if line.startswith("@="):
        return "@", line[2:]
    i, escaped = 1, False
    while i < len(line):
        if escaped:
            escaped = False
        elif line[i] == "\\":
            escaped = True
        elif line[i] == '"':
            break
        i += 1
    return _unquote(line[1:i]), line[i + 2:]


def load(path, hive):
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if pending:
                line, pending = pending + line.strip(), ""
            # Hex data goes on over lines that end in a backslash.
            if line.endswith("\\") and "=hex" in line:
                pending = line[:-1]
                continue
            if line.startswith("["):
                name = line[1:line.rindex("]")]
                current = keys.setdefault(hive + "\\" + _unquote(name), {})
            elif current is not None and (line.startswith('"') or line.startswith("@=")):
                name, data = _split_value(line.strip())
                current[name] = data
    return keys


def load_prefix(prefix):
    keys = {}
    for name, hive in HIVES:
        keys.update(load(os.path.join(prefix, name), hive))
    return keys


def folded(keys):
    """The same registry with key paths in lower case."""
    return {k.lower(): v for k, v in keys.items()}


def diff(before, after):
    """What changed: (removed keys, added keys, removed values, added or changed values).
    Values as (key, name, data); keys in the spelling of the side they come from."""
    b, a = folded(before), folded(after)
    spell = {k.lower(): k for k in list(before) + list(after)}
    removed_keys = sorted(spell[k] for k in b if k not in a)
    added_keys = sorted(spell[k] for k in a if k not in b)
    removed_values, changed_values = [], []
    for k in sorted(b):
        for name, data in b[k].items():
            if k not in a or name not in a[k]:
                removed_values.append((spell[k], name, data))
    for k in sorted(a):
        for name, data in a[k].items():
            if k not in b or b[k].get(name) != data:
                changed_values.append((spell[k], name, data))
    return removed_keys, added_keys, removed_values, changed_values


def text_of(data):
    """A readable form of a value's data: strings unquoted, hex(2)/hex(7) decoded."""
    if data.startswith('"') and data.endswith('"'):
        return _unquote(data[1:-1])
    for prefix in ("str(2):", "str(7):"):
        if data.startswith(prefix):
            return _unquote(data[len(prefix) + 1:-1])
    if data.startswith("hex(2):") or data.startswith("hex(7):") or data.startswith("hex(1):"):
        raw = bytes(int(x, 16) for x in data[7:].split(",") if x)
        return raw.decode("utf-16-le", errors="replace")
    return data


def multi_sz(data):
    """The strings of a REG_MULTI_SZ value, empty strings included. Wine
    writes str(7) without the list's final terminator, hex(7) with it."""
    text = text_of(data)
    if data.startswith("hex(7):") and text.endswith("\0\0"):
        text = text[:-1]
    parts = text.split("\0")
    return parts[:-1] if parts and parts[-1] == "" else parts
