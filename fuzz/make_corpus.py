#!/usr/bin/env python3
"""Writes the fuzz seed corpus into a build folder: every string literal of
the project's tests (the formulas among them), one file each, named by
content hash.  Only minimised reproducers of real findings are committed,
in fuzz/regressions/."""
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "0": b"\0", "\\": b"\\", '"': b'"', "'": b"'"}


def unescape(body: str) -> bytes:
    out = bytearray()
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        nxt = body[i + 1]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
            out.append(int(m.group(0), 16) & 0xFF)
            i += 2 + len(m.group(0))
        else:
            out += ESCAPES.get(nxt, nxt.encode())
            i += 2
    return bytes(out)


def literals():
    for path in sorted((ROOT / "tests").glob("**/*.cpp")):
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.lstrip().startswith("#include"):
                continue
            for m in LITERAL.finditer(line):
                data = unescape(m.group(1)).split(b"\0")[0]
                if data:
                    yield data


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: make_corpus.py FOLDER  (a build folder: the seeds are not committed)", file=sys.stderr)
        return 2
    target = pathlib.Path(sys.argv[1])
    target.mkdir(parents=True, exist_ok=True)
    for old in target.iterdir():
        old.unlink()
    seen = set()
    for data in literals():
        name = hashlib.sha1(data).hexdigest()[:16]
        if name not in seen:
            seen.add(name)
            (target / name).write_bytes(data)
    print(f"{len(seen)} seeds in {target}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
