#!/usr/bin/env python3
"""Every engine file includes only headers of its own layer or of the layers below it.

The layers, bottom to top: platform (the system's tables: sysfs, mountinfo, udev), io
(reading bytes), records (the found-file records) and content (file types known by their
bytes), volume (partition tables, boot sectors,
the drive list), fs (the scanner base and drive objects), fs/fat and fs/ntfs (one file
system each), recovery (the coordinator, restore, streams).
Only fs/CreateScaner.cpp, which makes the scanner for a drive, knows the file systems
above the base.
"""
import os
import re
import sys

LAYERS = {"platform": 0, "io": 1, "records": 2, "content": 2, "volume": 3, "fs": 4, "fs/fat": 5, "fs/ntfs": 5, "recovery": 6}
FACTORY = "fs/CreateScaner.cpp"

engine = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "engine")
faults = []
for folder, _, files in os.walk(engine):
    here = os.path.relpath(folder, engine).replace(os.sep, "/")
    for name in files:
        if not name.endswith((".h", ".cpp")):
            continue
        path = here + "/" + name
        if here not in LAYERS:
            faults.append("%s lies outside the layer folders" % path)
            continue
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                m = re.match(r'\s*#include "([^"]+)"', line)
                if not m:
                    continue
                layer = os.path.dirname(m.group(1))
                if layer not in LAYERS:
                    faults.append("%s:%d includes %s, which names no layer" % (path, number, m.group(1)))
                elif LAYERS[layer] > LAYERS[here] and path != FACTORY:
                    faults.append("%s:%d includes %s from the layer above" % (path, number, m.group(1)))
for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
