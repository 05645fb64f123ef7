#!/usr/bin/env python3
"""Fails when a file of src/ includes a folder above its own.

The folders of src/, lowest first: each may include its own files and the
folders below it, never one above or beside it at the same level.  The
public headers (include/) and the generated version header are below all.

    python3 tools/check_includes.py [SOURCE-DIR]
"""
import pathlib
import re
import sys

# Lowest first.  api.cpp, the interface, stands above them all.
LAYERS = [
    "core",            # process-wide registers, the FP switch, the CPU's features
    "elementary",      # the correctly rounded functions (a leaf over core)
    "vars",            # the variable table
    "program",         # postfix items, operator table, fast-form opcodes
    "translate",       # slots, scanner, translator
    "eval",            # math layer, operators, value stack, fast form and interpreter
    "eval/jit",        # the compiler
    "eval/tiers",      # which tier runs a slot: interpreter or machine code
    ".",               # api.cpp
]
PUBLIC = {"tallymat.h", "tallymat.hpp", "tallymat_version.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(relative: pathlib.PurePosixPath) -> str:
    """The deepest listed folder that holds the file."""
    folder = str(relative.parent)
    while folder not in LAYERS:
        folder = str(pathlib.PurePosixPath(folder).parent)
    return folder


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "src")
    rank = {name: i for i, name in enumerate(LAYERS)}
    upward = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".hpp", ".cpp", ".h", ".inc"}:
            continue
        relative = pathlib.PurePosixPath(path.relative_to(src).as_posix())
        own = layer_of(relative)
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if included in PUBLIC:
                continue
            target = layer_of(pathlib.PurePosixPath(included))
            if target != own and rank[target] >= rank[own]:
                upward.append(f"src/{relative} ({own}) includes {included} ({target})")
    for line in upward:
        print("upward include:", line)
    if upward:
        print("the folders' order, lowest first:", ", ".join(LAYERS[:-1]), "then api.cpp")
        return 1
    print(f"includes of src/ follow the folders' order ({', '.join(LAYERS[:-1])}, api.cpp)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
