#!/usr/bin/env python3
"""A running vek seen from outside: its descriptors, signals sent to it
(the signal line, the exit status, the termination signal ignored under
option !), a pipe whose reader is gone, closed standard descriptors,
nesting past the limit, and the internal temporary files removed on
every way out.  Ends with "N passed, N failed".

With --wine the program is vek.exe run through Wine, which turns an
interrupt signal into the console's Ctrl+C; only the cases that Wine can
carry run there (Wine has no termination or break signal for a program,
and its descriptors are not those of the host)."""
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.dont_write_bytecode = True   # keep the source tree clean
import run_e2e  # noqa: E402  (the Wine set-up)

VEK = None
WINE = None


def start(args, tmp):
    env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C"}
    command = [VEK, "-p"] + args
    if WINE:
        win = os.fsdecode(run_e2e.windows_path(os.fsencode(tmp)))
        env = {os.fsdecode(k): os.fsdecode(v) for k, v in WINE.environment(
            {b"HOME": os.fsencode(win), b"TMPDIR": os.fsencode(win),
             b"LANG": b"C"}).items()}
        command = [os.fsdecode(WINE.loader)] + command
    return subprocess.Popen(command, stdin=subprocess.PIPE,
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


def case_interrupt_ends_a_waiting_read(tmp):
    # The interrupt arrives while vek waits for input that does not come:
    # the read ends at once and the interrupt is acted on.
    p = start([], tmp)
    try:
        p.stdin.write(b"echo ready\n")
        p.stdin.flush()
        wait_for(p.stdout, b"ready\r\n")
        p.send_signal(signal.SIGINT)
        p.wait(timeout=5)
        err = p.stderr.read()
        assert err == b"*** SIGNAL ***  2  Interrupt\r\n", err
        assert p.returncode == 2, p.returncode
        assert temp_files(tmp) == [], temp_files(tmp)
    finally:
        p.kill()
        p.stdin.close()
        p.wait()


def probe_path():
    """The fault probe built beside vek (not under the sanitizers)."""
    name = "vek_fault_probe.exe" if WINE else "vek_fault_probe"
    path = os.path.join(os.path.dirname(VEK), name)
    return path if os.path.exists(path) else None


def case_faults(tmp):
    # A fault ends the program at once: the signal line, the registered
    # file removed, status 2.  An abort is 22 on Win32, 6 on POSIX.
    abort = b"22" if WINE else b"6"
    rows = [("segv", b"11  Speicherbereich: Segment-Verletzung"),
            ("fpe", b"8  Floating Point Exception"),
            ("abort", abort + b"  Abort"),
            ("throw", abort + b"  Abort")]
    for kind, line in rows:
        target = os.path.join(tmp, "probe.txt")
        name = target
        command = [probe_path(), kind]
        env = {"PATH": "/usr/bin:/bin"}
        if WINE:
            name = os.fsdecode(run_e2e.windows_path(os.fsencode(target)))
            command = [os.fsdecode(WINE.loader)] + command
            env = {os.fsdecode(k): os.fsdecode(v) for k, v in WINE.environment({}).items()}
        p = subprocess.run(command + [name], capture_output=True, env=env,
                           cwd=tmp, timeout=30)
        # An exception nobody caught is named by the C++ runtime first.
        assert p.stderr.endswith(b"*** SIGNAL ***  " + line + b"\r\n"), (kind, p.stderr)
        assert p.returncode == 2, (kind, p.returncode)
        # Under Wine the server closes the ended program's files a moment
        # after its end; only then is a deleted file gone.
        deadline = time.time() + 2
        while os.path.exists(target) and time.time() < deadline:
            time.sleep(0.02)
        assert not os.path.exists(target), (kind, "file left")


def run_vek(args, tmp, stdin=b"", close=(), timeout=20):
    """Runs vek to its end; descriptors in `close` are closed for it."""
    env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C"}
    for k in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if k in os.environ:
            env[k] = os.environ[k]

    def closer():
        for fd in close:
            os.close(fd)
    command = [VEK, "-p"] + args
    if WINE:
        win = os.fsdecode(run_e2e.windows_path(os.fsencode(tmp)))
        env = {os.fsdecode(k): os.fsdecode(v) for k, v in WINE.environment(
            {b"HOME": os.fsencode(win), b"TMPDIR": os.fsencode(win),
             b"LANG": b"C"}).items()}
        command = [os.fsdecode(WINE.loader)] + command
    p = subprocess.Popen(command, stdin=subprocess.PIPE,
                         stdout=None if 1 in close else subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env, cwd=tmp, preexec_fn=closer)
    out, err = p.communicate(stdin, timeout=timeout)
    return p.returncode, out or b"", err


def case_hangup(tmp):
    case_signal_ends_a_script(signal.SIGHUP, 15, "Prozess-Terminierung")(tmp)


def case_broken_pipe(tmp):
    # The reader takes one byte and goes; vek ends quietly.
    env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C"}
    p = subprocess.Popen([VEK, "-p", "-c", "prints s99999999 x"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env, cwd=tmp)
    assert p.stdout.read(1) == b" "
    p.stdout.close()
    err = p.stderr.read()
    p.wait(timeout=10)
    assert err == b"", err
    assert p.returncode == 128 + signal.SIGPIPE, p.returncode
    assert temp_files(tmp) == [], temp_files(tmp)


def case_closed_standard_output(tmp):
    rc, _, err = run_vek(["-c", "echo hi"], tmp, close=(1,))
    assert err == b"vek: Fehler bei Systemfunktion: 'write()'\r\n", err
    assert rc == 1, rc
    # A substitution borrows standard output and leaves it closed again:
    # the echo after it must fail, not write into the substitution file.
    rc, _, err = run_vek(["-c", "x=$(echo in); echo out"], tmp, close=(1,))
    assert err == b"vek: Fehler bei Systemfunktion: 'write()'\r\n", err
    assert rc == 1, rc
    assert temp_files(tmp) == [], temp_files(tmp)


def case_closed_standard_error(tmp):
    # The report of a failing write cannot be written either: it is
    # dropped, and the error still ends the script (found by fuzzing: the
    # report recursed until the stack ran out).
    env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C"}
    p = subprocess.run([VEK, "-p", "-c", "nosuch; echo x"], stdout=subprocess.PIPE,
                       env=env, cwd=tmp, preexec_fn=lambda: os.close(2), timeout=20)
    assert (p.returncode, p.stdout) == (1, b""), (p.returncode, p.stdout)
    p = subprocess.run([VEK, "-p", "-c", "echo a"], env=env, cwd=tmp, timeout=20,
                       preexec_fn=lambda: (os.close(1), os.close(2)))
    assert p.returncode == 1, p.returncode
    assert temp_files(tmp) == [], temp_files(tmp)


def case_closed_standard_input(tmp):
    rc, out, err = run_vek(["-c", "echo $(echo x) y"], tmp, close=(0,))
    assert (rc, out, err) == (0, b"x y\r\n", b""), (rc, out, err)


def nested(kind, n):
    if kind == "subst":
        return "echo " + "$(echo " * n + "x" + ")" * n
    if kind == "open":
        return "echo " + "$(" * n
    return "echo " + "${x-" * n + "y" + "}" * n


def case_nesting_limit(tmp):
    # A Windows command line holds at most 32767 characters.
    deep = 6000 if WINE else 11000
    for kind, n in (("subst", 300), ("open", 3000), ("param", deep), ("param", 255)):
        rc, out, err = run_vek(["-c", nested(kind, n)], tmp)
        if n == 255:
            assert (rc, out, err) == (0, b"y\r\n", b""), (kind, n, rc, out, err[:200])
            continue
        assert err == b"vek: Stack-Limit (Verschachtelung/Rekursion?!).\r\n", (kind, n, err[:300])
        assert rc == 1, (kind, n, rc)
    assert temp_files(tmp) == [], temp_files(tmp)


def end_by(kind, tmp):
    """Ends one vek run in the given way."""
    if kind == "normal":
        run_vek(["-c", "echo a"], tmp)
    elif kind == "exit":
        run_vek(["-c", "exit 3"], tmp)
    elif kind == "error":
        run_vek(["-c", "nosuchcommand"], tmp)
    elif kind == "nesting":
        run_vek(["-c", nested("subst", 300)], tmp)
    elif kind == "pipe":
        env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C"}
        p = subprocess.Popen([VEK, "-p", "-c", "prints s9999999 x"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env, cwd=tmp)
        p.stdout.read(1)
        p.stdout.close()
        p.wait(timeout=10)
    else:
        sig = {"int": signal.SIGINT, "term": signal.SIGTERM, "hup": signal.SIGHUP}[kind]
        p = start([], tmp)
        p.stdin.write(b"echo ready\n")
        p.stdin.flush()
        wait_for(p.stdout, b"ready\r\n")
        p.send_signal(sig)
        p.communicate(timeout=10)


def case_no_internal_file_left(tmp):
    runs = int(os.environ.get("VEK_END_RUNS", "200"))
    for kind in ("normal", "exit", "error", "int", "term", "hup", "pipe", "nesting"):
        for _ in range(runs):
            end_by(kind, tmp)
        assert temp_files(tmp) == [], (kind, temp_files(tmp))


def case_signal_trap_in_a_loop(tmp):
    # A busy loop acts on the signal between its words; trap 2 runs once.
    p = start([], tmp)
    p.stdin.write(b"trap 'echo caught $?' 2\necho ready\nwhile true; do :; done\n")
    p.stdin.flush()
    wait_for(p.stdout, b"ready\r\n")
    time.sleep(0.1)
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=5)
    assert out == b"caught 16\r\n", out
    assert err == b"*** SIGNAL ***  15  Prozess-Terminierung\r\n", err
    assert p.returncode == 2, p.returncode
    assert temp_files(tmp) == [], temp_files(tmp)


# (name, function, runs under Wine)
CASES = [
    ("descriptors 3 to 9 on the null device, internal files above", case_descriptor_layout, False),
    ("interrupt ends a script", case_signal_ends_a_script(signal.SIGINT, 2, "Interrupt"), True),
    # Wine cannot end a read from a pipe of the host system.
    ("interrupt ends a read that waits", case_interrupt_ends_a_waiting_read, False),
    ("termination ends a script", case_signal_ends_a_script(signal.SIGTERM, 15, "Prozess-Terminierung"), False),
    ("quit is reported as break", case_signal_ends_a_script(signal.SIGQUIT, 21, "Break"), False),
    ("option ! ignores termination", case_termination_ignored, False),
    ("a fault writes the signal line and removes the files", case_faults, True),
    ("hangup ends a script through the clean-up", case_hangup, False),
    ("a pipe without reader ends vek quietly", case_broken_pipe, False),
    ("a closed standard output stays closed", case_closed_standard_output, False),
    ("a closed standard input stays closed", case_closed_standard_input, False),
    ("with standard error closed too, a failing write ends quietly", case_closed_standard_error, False),
    ("nesting past the limit reports error 28", case_nesting_limit, True),
    ("no internal file is left after any way out", case_no_internal_file_left, False),
    ("a signal runs trap 2 in a loop", case_signal_trap_in_a_loop, False),
]


def main():
    global VEK, WINE
    args = sys.argv[1:]
    wine = args[:1] == ["--wine"]
    if wine:
        args = args[1:]
    if len(args) != 2 or args[0] != "--vek":
        print("usage: test_signals.py [--wine] --vek PATH", file=sys.stderr)
        return 2
    VEK = os.path.abspath(args[1])
    if wine:
        try:
            WINE = run_e2e.Wine(os.path.join(os.path.dirname(VEK), "wineprefix"))
            WINE.start()
        except (run_e2e.WineError, OSError, subprocess.SubprocessError) as e:
            print("test_signals: cannot run Wine: %s" % e, file=sys.stderr)
            return 2
    passed = failed = 0
    for name, fn, under_wine in CASES:
        if wine and not under_wine:
            continue
        if fn is case_faults and probe_path() is None:
            continue
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
