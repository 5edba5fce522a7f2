#!/usr/bin/env python3
"""Writes small keyed archives of sorting presets whose parts are shared many times over (each level refers
to the next twice, 28 to 40 levels deep), the shape that made decoding take exponential time. They are fuzz seeds and test fixtures:

    tools/fuzz/make-shared-archives.py tests/fuzz/seeds/preset_decoding
"""
import plistlib
import sys
from pathlib import Path

PRESET = "Vornakel_Transfer.UserDefinedPhotoSorting"
STEP = "Vornakel_Transfer.UserDefinedSortingStep"
LEVELS = 40


def archive(build):
    objects = ["$null"]

    def add(value):
        objects.append(value)
        return plistlib.UID(len(objects) - 1)

    classes = {}

    def cls(*chain):
        if chain not in classes:
            classes[chain] = add({"$classname": chain[0], "$classes": list(chain)})
        return classes[chain]

    top = build(add, cls)
    return plistlib.dumps({"$archiver": "NSKeyedArchiver", "$version": 100000, "$top": {"root": top},
                           "$objects": objects}, fmt=plistlib.FMT_BINARY)


def preset(add, cls, tokens, with_id=True):
    step = add({"tokenObjects": tokens, "$class": cls(STEP, "NSObject")})
    folders = add({"NS.objects": [step, step], "$class": cls("NSArray", "NSObject")})
    fields = {"name": add("Shared"), "folders": folders, "fileNameStep": step, "$class": cls(PRESET, "NSObject")}
    if with_id:
        fields["id"] = add("7E1B3C55-2A4F-4B8E-9D61-0C3A5E7F9B12")
    return add({"NS.objects": [add(fields)], "$class": cls("NSArray", "NSObject")})


def shared_arrays(add, cls):
    level = add({"NS.objects": [add("leaf")], "$class": cls("NSArray", "NSObject")})
    for _ in range(LEVELS):
        level = add({"NS.objects": [level, level], "$class": cls("NSArray", "NSObject")})
    return preset(add, cls, add({"NS.objects": [add("Trip "), level], "$class": cls("NSArray", "NSObject")}),
                  with_id=False)


def shared_dictionaries(add, cls):
    level = add("leaf")
    key_a, key_b = add("a"), add("b")
    for _ in range(LEVELS):
        level = add({"NS.keys": [key_a, key_b], "NS.objects": [level, level],
                     "$class": cls("NSDictionary", "NSObject")})
    return preset(add, cls, add({"NS.objects": [level], "$class": cls("NSArray", "NSObject")}))


def shared_objects(add, cls):
    level = add({"tokenObjects": add({"NS.objects": [], "$class": cls("NSArray", "NSObject")}),
                 "$class": cls(STEP, "NSObject")})
    # Each level is an object and a list, two steps of nesting.
    for _ in range(28):
        pair = add({"NS.objects": [level, level], "$class": cls("NSArray", "NSObject")})
        level = add({"tokenObjects": pair, "$class": cls(STEP, "NSObject")})
    return preset(add, cls, add({"NS.objects": [level], "$class": cls("NSArray", "NSObject")}), with_id=False)


def main():
    folder = Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    for name, build in [("shared-arrays", shared_arrays), ("shared-dictionaries", shared_dictionaries),
                        ("shared-objects", shared_objects)]:
        (folder / f"{name}.archive").write_bytes(archive(build))


if __name__ == "__main__":
    main()
