#!/usr/bin/env python3
"""Runs the platform check program in a new empty directory, through Wine
with --wine (the prefix beside the program, as the end-to-end runner
makes it).  Passes its output and exit status on.

    python3 tests/platform/run_check.py build-test/vek_platform_check
    python3 tests/platform/run_check.py --wine build-win/vek_platform_check.exe
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.dont_write_bytecode = True   # keep the source tree clean
import run_e2e  # noqa: E402  (the Wine set-up)


def main(args):
    wine = args[:1] == ["--wine"]
    if wine:
        args = args[1:]
    if len(args) != 1:
        print("usage: run_check.py [--wine] PROGRAM", file=sys.stderr)
        return 2
    program = os.path.abspath(args[0])
    command, env = [program], dict(os.environ)
    if wine:
        try:
            w = run_e2e.Wine(os.path.join(os.path.dirname(program), "wineprefix"))
            w.start()
        except (run_e2e.WineError, OSError, subprocess.SubprocessError) as e:
            print(f"run_check: cannot run Wine: {e}", file=sys.stderr)
            return 2
        command = [os.fsdecode(w.loader), program]
        env = {os.fsdecode(k): os.fsdecode(v) for k, v in w.environment({}).items()}
    with tempfile.TemporaryDirectory(prefix="vek-plat-") as tmp:
        return subprocess.run(command, cwd=tmp, env=env, timeout=120).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
