#!/usr/bin/env python3
"""Checks that includes between the source folders run one way.

Layers, bottom to top:
  platform  <  support  <  pattern, io  <  vars  <  proc  <  session, core  <  builtins

A file may include headers of its own layer or of a lower one.  session
and core form one layer (the interpreter: the reader, diagnostics and
start-up call into the command loops and back); builtins sit on top, and
nothing below includes them.  Only src/platform/ may include headers of
the operating system.
"""
import pathlib
import re
import sys

RANK = {
    "platform": 0,
    "support": 1,
    "pattern": 2,
    "io": 2,
    "vars": 3,
    "proc": 4,
    "session": 5,
    "core": 5,
    "builtins": 6,
}
OS_HEADERS = re.compile(
    r"#\s*include\s*<(unistd|fcntl|signal|termios|dirent|spawn|pwd|windows|io|direct|process|conio)\.h>"
    r"|#\s*include\s*<sys/")
PROJECT_INCLUDE = re.compile(r'#\s*include\s*"([a-z_]+)/[^"]+"')


def check(src: pathlib.Path) -> list:
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANK:
            problems.append(f"{path}: folder '{layer}' has no layer")
            continue
        for n, line in enumerate(path.read_text(encoding="latin-1").splitlines(), 1):
            if layer != "platform" and OS_HEADERS.search(line):
                problems.append(f"{path}:{n}: operating-system header outside src/platform: {line.strip()}")
            m = PROJECT_INCLUDE.search(line)
            if not m:
                continue
            target = m.group(1)
            if target not in RANK:
                problems.append(f"{path}:{n}: include of unknown folder '{target}'")
            elif RANK[target] > RANK[layer]:
                problems.append(f"{path}:{n}: {layer} includes the higher layer {target}: {line.strip()}")
    return problems


def main() -> int:
    root = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2]
    problems = check(root / "src")
    for p in problems:
        print(p)
    print(f"layers: {len(problems)} violation(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
