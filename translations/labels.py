#!/usr/bin/env python3
"""Writes translations/labels.cpp: the effects' control labels, in the contexts the panels use
(the effect's class key), for the translation tools only (never compiled)."""
import glob
import os
import re
import sys

KEYS = {"aurora": "Aurora", "cumulus": "Cumulus", "fire": "Fire", "frost": "Frost", "lightning": "Lightning",
        "nightsky": "NightSky", "rain": "Rain", "rainbow": "Rainbow", "sun": "Sun", "water": "Water"}
FIELD = re.compile(r'Field<R>\(\s*"[^"]*",\s*&R::[\w.\[\]]+,\s*"[^"]*",\s*fourCC\("[^"]*"\),\s*"([^"]+)"')

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
out = ["// The effects' control labels, for the translation tools only (never compiled); written by",
       "// translations/labels.py."]
for path in sorted(glob.glob(os.path.join(root, "src/document/filters/*/*Params.cpp"))):
    key = KEYS.get(os.path.basename(os.path.dirname(path)))
    if not key:
        continue
    seen = set()
    for label in FIELD.findall(open(path, encoding="utf-8").read()):
        if label not in seen:
            seen.add(label)
            out.append('QT_TRANSLATE_NOOP("%s", "%s")' % (key, label))
sys.stdout.write("\n".join(out) + "\n")
