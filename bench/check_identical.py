#!/usr/bin/env python3
"""Checks that colour-mode output stays byte-identical across speed work.

Converts a fixed set of pictures and settings with the pixmorf module found on
PYTHONPATH (a build directory or the installed module) and compares the
SHA-256 of every SVG with the hashes stored in bench/identical_hashes.json.

    .venv/bin/python bench/check_identical.py            # compare (module of scripts/build.sh)
    .venv/bin/python bench/check_identical.py --record   # store anew
    PYTHONPATH=build/dev .venv/bin/python bench/check_identical.py  # a development build

Exit status 1 when any output differs. The pictures are read from
/work/shared/images (or --images).
"""
import argparse
import hashlib
import json
import os
import sys
import time

HASH_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "identical_hashes.json")

MODES = ("none", "polygon", "spline")
HIERARCHIES = ("stacked", "cutout")

# (picture, options); options not given take their defaults.
CASES = [
    ("photo-1080p.png", {"mode": "polygon", "hierarchical": "stacked"}),
    ("photo-1080p.png", {"mode": "polygon", "hierarchical": "cutout"}),
    ("photo-1080p.png", {"mode": "none", "hierarchical": "stacked"}),
    ("photo-1080p.png", {}),
    ("illustration-fastfood.png", {"mode": "polygon", "hierarchical": "stacked"}),
    ("illustration-fastfood.png", {}),
    ("illustration-fastfood.png", {"mode": "polygon", "layer_difference": 0}),
    ("illustration-fastfood.png", {"mode": "polygon", "filter_speckle": 1, "color_precision": 8}),
    ("illustration-jukebox-alpha.png", {"mode": "polygon", "hierarchical": "cutout"}),
    ("illustration-jukebox-alpha.png", {}),
    ("illustration-jukebox-alpha.png", {"mode": "polygon", "hierarchical": "stacked", "layer_difference": 0}),
] + [
    ("icon-help-browser-128.png", {"mode": mode, "hierarchical": hierarchy})
    for mode in MODES for hierarchy in HIERARCHIES
] + [
    ("icon-help-browser-128.png", {"mode": "polygon", "layer_difference": 0, "filter_speckle": 0}),
    ("icon-help-browser-128.png", {"colormode": "binary", "mode": "spline"}),
    ("icon-help-browser-128.png", {"colormode": "binary", "mode": "polygon"}),
    ("lineart-baseball-glove.png", {"colormode": "binary", "mode": "polygon"}),
]


def case_name(picture, options):
    settings = ",".join(f"{key}={value}" for key, value in sorted(options.items())) or "default"
    return f"{picture} {settings}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--record", action="store_true", help="store the current hashes")
    parser.add_argument("--images", default="/work/shared/images")
    args = parser.parse_args()

    import pixmorf

    hashes = {}
    for picture, options in CASES:
        with open(os.path.join(args.images, picture), "rb") as source:
            data = source.read()
        start = time.perf_counter()
        svg = pixmorf.convert_raw_image_to_svg(data, img_format=picture.rsplit(".", 1)[1], **options)
        name = case_name(picture, options)
        hashes[name] = hashlib.sha256(svg.encode()).hexdigest()
        print(f"{time.perf_counter() - start:7.3f} s  {name}", file=sys.stderr)

    if args.record:
        with open(HASH_FILE, "w") as out:
            json.dump(hashes, out, indent=1, sort_keys=True)
            out.write("\n")
        print(f"recorded {len(hashes)} hashes in {HASH_FILE}")
        return 0

    with open(HASH_FILE) as stored_file:
        stored = json.load(stored_file)
    differing = [name for name in hashes if stored.get(name) != hashes[name]]
    missing = [name for name in stored if name not in hashes]
    for name in differing:
        print(f"DIFFERS: {name}")
    for name in missing:
        print(f"NOT RUN: {name}")
    if differing or missing:
        return 1
    print(f"all {len(hashes)} outputs identical")
    return 0


if __name__ == "__main__":
    sys.exit(main())
