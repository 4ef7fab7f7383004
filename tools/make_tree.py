#!/usr/bin/env python3
"""Writes a reproducible clean file tree for demos and volume runs.

usage: make_tree.py DIR COUNT [--seed N]
Folders nest up to six levels; files are small texts, web pages, binaries
and PE-looking headers, none of which any scanner row should report.
"""
import os
import random
import sys


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    root, count = args[0], int(args[1])
    seed = int(args[args.index("--seed") + 1]) if "--seed" in args else 1
    rng = random.Random(seed)
    dirs = [root]
    os.makedirs(root, exist_ok=True)
    words = ["report", "Photo", "notes", "setup", "data.v2", "index", "README", "lib"]
    exts = [".txt", ".htm", ".html", ".js", ".vbs", ".exe", ".dll", ".bin", ".dat", ""]
    for i in range(count):
        if rng.random() < 0.08 or len(dirs) == 1:
            parent = rng.choice(dirs)
            if parent.count(os.sep) - root.count(os.sep) < 6:
                d = os.path.join(parent, "%s%d" % (rng.choice(words), i))
                os.makedirs(d, exist_ok=True)
                dirs.append(d)
        folder = rng.choice(dirs)
        ext = rng.choice(exts)
        name = os.path.join(folder, "%s_%d%s" % (rng.choice(words), i, ext))
        size = rng.choice([0, 10, 200, 1500, 5000, 20000])
        if ext in (".exe", ".dll"):
            body = b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" + bytes(max(0, size - 68))
        elif ext in (".txt", ".htm", ".html", ".js", ".vbs"):
            line = b"Lorem ipsum dolor sit amet, clean text line %d\r\n" % i
            body = (line * (size // len(line) + 1))[:size]
        else:
            body = bytes(rng.getrandbits(8) for _ in range(min(size, 256))) + bytes(max(0, size - 256))
        with open(name, "wb") as f:
            f.write(body)


if __name__ == "__main__":
    main()
