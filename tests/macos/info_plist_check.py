"""Checks the bundle's Info.plist as macOS reads it: a valid property list
with the keys the system needs to start the program and to let it send
Apple events.

usage: info_plist_check.py INFO_PLIST EXECUTABLE_NAME
"""
import plistlib
import re
import sys

path, executable = sys.argv[1], sys.argv[2]
with open(path, "rb") as f:
    plist = plistlib.load(f, fmt=plistlib.FMT_XML)

problems = []
def need(key, pattern=r".+"):
    value = plist.get(key)
    if not isinstance(value, str) or not re.fullmatch(pattern, value):
        problems.append(f"{key}: {value!r} does not match {pattern}")

need("CFBundleExecutable", re.escape(executable))
need("CFBundleIdentifier", r"[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+")
need("CFBundleName")
need("CFBundlePackageType", "APPL")
need("CFBundleShortVersionString", r"\d+(\.\d+){0,2}")
need("LSMinimumSystemVersion", r"\d+(\.\d+){1,2}")
need("NSAppleEventsUsageDescription", r".{10,}")
for p in problems:
    print(f"{path}: {p}", file=sys.stderr)
sys.exit(1 if problems else 0)
