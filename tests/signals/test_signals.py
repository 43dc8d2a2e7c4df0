#!/usr/bin/env python3
"""A running vek seen from outside: its descriptors, signals sent to it
(the signal line, the exit status, the termination signal ignored under
option !), and the internal temporary files removed on the way out.
Ends with "N passed, N failed"."""
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

VEK = None


def start(args, tmp):
    env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C"}
    return subprocess.Popen([VEK, "-p"] + args, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env, cwd=tmp)


def wait_for(stream, text, timeout=5.0):
    data = b""
    deadline = time.time() + timeout
    while text not in data:
        left = deadline - time.time()
        if left <= 0:
            raise AssertionError("no %r in %r" % (text, data))
        ready, _, _ = select.select([stream], [], [], left)
        if ready:
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                raise AssertionError("end of output before %r in %r" % (text, data))
            data += chunk
    return data


def temp_files(tmp):
    return sorted(n for n in os.listdir(tmp) if n.startswith("vek_tmpf."))


def case_signal_ends_a_script(sig, number, name):
    def run(tmp):
        p = start([], tmp)
        p.stdin.write(b"echo ready\n")
        p.stdin.flush()
        wait_for(p.stdout, b"ready\r\n")
        assert len(temp_files(tmp)) == 4, temp_files(tmp)
        p.send_signal(sig)
        out, err = p.communicate(timeout=5)
        expect = ("*** SIGNAL ***  %d  %s\r\n" % (number, name)).encode()
        assert err == expect, err
        assert p.returncode == 2, p.returncode
        assert temp_files(tmp) == [], temp_files(tmp)
    return run


def case_termination_ignored(tmp):
    p = start(["-!"], tmp)
    p.stdin.write(b"echo ready\n")
    p.stdin.flush()
    wait_for(p.stdout, b"ready\r\n")
    p.send_signal(signal.SIGTERM)
    time.sleep(0.2)
    p.stdin.write(b"echo still here\n")
    p.stdin.close()
    out = wait_for(p.stdout, b"still here\r\n")
    p.wait(timeout=5)
    assert p.stderr.read() == b""
    assert p.returncode == 0, p.returncode


def case_descriptor_layout(tmp):
    p = start([], tmp)
    try:
        p.stdin.write(b"echo ready\n")
        p.stdin.flush()
        wait_for(p.stdout, b"ready\r\n")
        fds = {int(n): os.readlink("/proc/%d/fd/%s" % (p.pid, n)) for n in os.listdir("/proc/%d/fd" % p.pid)}
        for fd in range(3, 10):
            assert fds.get(fd) == "/dev/null", (fd, fds.get(fd))
        internal = sorted(os.path.basename(t) for fd, t in fds.items() if fd >= 10)
        # The substitution file and pipe file B are open twice too:
        # here-documents and pipeline stages read them through read-only
        # descriptors of their own.
        assert internal == ["vek_tmpf.100", "vek_tmpf.100", "vek_tmpf.101", "vek_tmpf.101",
                            "vek_tmpf.102", "vek_tmpf.103", "vek_tmpf.103"], internal
    finally:
        p.stdin.close()
        p.wait(timeout=5)
    assert p.returncode == 0, p.returncode
    assert temp_files(tmp) == [], temp_files(tmp)


CASES = [
    ("descriptors 3 to 9 on the null device, internal files above", case_descriptor_layout),
    ("interrupt ends a script", case_signal_ends_a_script(signal.SIGINT, 2, "Interrupt")),
    ("termination ends a script", case_signal_ends_a_script(signal.SIGTERM, 15, "Prozess-Terminierung")),
    ("quit is reported as break", case_signal_ends_a_script(signal.SIGQUIT, 21, "Break")),
    ("option ! ignores termination", case_termination_ignored),
]


def main():
    global VEK
    if len(sys.argv) != 3 or sys.argv[1] != "--vek":
        print("usage: test_signals.py --vek PATH", file=sys.stderr)
        return 2
    VEK = os.path.abspath(sys.argv[2])
    passed = failed = 0
    for name, fn in CASES:
        with tempfile.TemporaryDirectory(prefix="vek-sig-") as tmp:
            try:
                fn(tmp)
                passed += 1
            except Exception as e:  # report and go on
                failed += 1
                print("FAIL %s: %s" % (name, e))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
