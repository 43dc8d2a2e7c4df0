#!/usr/bin/env python3
"""The internal temporary files seen from outside: none is left behind
after a run, whichever way the run ends (a hundred runs of each way); they
are their owner's only whatever the file-creation mask; a link put in the
place of one of their names is never followed.
Ends with "N passed, N failed"."""
import concurrent.futures
import os
import resource
import signal
import subprocess
import sys
import tempfile

VEK = None
RUNS = 100

# Ways a run can end, each with the exit status it must have.  Every one
# uses the pipe files and the substitution file before it ends.
WAYS = [
    ("normal end", "echo a | /bin/cat; x=$(echo b)", 0),
    ("exit", "echo a | echo b; x=$(echo c); exit 3", 3),
    ("error abort", "echo a | /bin/cat >f; nosuchcommand", 1),
    ("signal", "echo a | /bin/cat; /bin/sh -c 'kill -TERM $PPID'; echo after", 2),
    ("exec", "echo a | /bin/cat; x=$(echo b); exec /bin/sh -c 'exit 4'", 4),
    ("error in a pipeline stage", "echo a | echo b >no/such/f | /bin/cat", 1),
]


def env_for(tmp):
    # Leaks are the other tests' business: without the leak check at exit
    # the six hundred runs take half the time.
    return {"PATH": "/usr/bin:/bin", "HOME": tmp, "TMPDIR": tmp, "LANG": "C",
            "ASAN_OPTIONS": "detect_leaks=0"}


def temp_files(tmp):
    return sorted(n for n in os.listdir(tmp) if n.startswith("vek_tmpf."))


def run_once(tmp, text):
    p = subprocess.run([VEK, "-p", "-c", text], env=env_for(tmp), cwd=tmp,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=20)
    return p.returncode


def case_every_way_out(tmp):
    # Each way in a directory of its own, all runs side by side.
    dirs = []
    for i, _ in enumerate(WAYS):
        d = os.path.join(tmp, "way%d" % i)
        os.mkdir(d)
        dirs.append(d)
    jobs = [(i, d, text) for (i, ((_, text, _), d)) in enumerate(zip(WAYS, dirs)) for _ in range(RUNS)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        codes = list(pool.map(lambda job: (job[0], run_once(job[1], job[2])), jobs))
    for i, (name, _, status) in enumerate(WAYS):
        wrong = sorted(set(c for w, c in codes if w == i and c != status))
        assert not wrong, "%s: statuses %r, expected %d" % (name, wrong, status)
        left = temp_files(dirs[i])
        assert left == [], "%s: left %r" % (name, left)


def case_owner_only_whatever_the_mask(tmp):
    def mask():
        os.umask(0o777)
    p = subprocess.run([VEK, "-p", "-c", "/bin/sh -c 'cd \"$TMPDIR\" && stat -c %a vek_tmpf.*'"],
                       env=env_for(tmp), cwd=tmp, stdin=subprocess.DEVNULL,
                       capture_output=True, preexec_fn=mask, timeout=20)
    assert p.returncode == 0, (p.returncode, p.stderr)
    assert p.stdout == b"600\n600\n600\n600\n", p.stdout


def case_links_are_not_followed(tmp):
    victim = os.path.join(tmp, "victim")
    with open(victim, "w") as f:
        f.write("precious\n")
    os.symlink(victim, os.path.join(tmp, "vek_tmpf.100"))
    os.symlink(os.path.join(tmp, "nowhere"), os.path.join(tmp, "vek_tmpf.101"))
    p = subprocess.run([VEK, "-p", "-c", "echo a | /bin/cat; x=$(echo b); /bin/sh -c 'ls \"$TMPDIR\"'"],
                       env=env_for(tmp), cwd=tmp, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=20)
    assert p.returncode == 0, (p.returncode, p.stderr)
    with open(victim) as f:
        assert f.read() == "precious\n"
    assert not os.path.exists(os.path.join(tmp, "nowhere"))
    # The links stay; the interpreter took the next free names.
    assert b"vek_tmpf.104" in p.stdout and b"vek_tmpf.105" in p.stdout, p.stdout
    assert temp_files(tmp) == ["vek_tmpf.100", "vek_tmpf.101"], temp_files(tmp)


def case_full_disk_while_writing_a_pipe_file(tmp):
    # A file-size limit stands in for a full disk: the copy of the inner
    # pipeline's output to pipe file B, behind the outer pipeline's data,
    # cannot be written whole.
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
    big = "/bin/sh -c 'head -c 600000 /dev/zero'"
    text = ("%s | /bin/cat - $(%s | /bin/cat >/dev/null; echo /dev/null) >/dev/null; echo not reached"
            % (big, big))
    p = subprocess.run([VEK, "-p", "-c", text], env=env_for(tmp), cwd=tmp, stdin=subprocess.DEVNULL,
                       capture_output=True, preexec_fn=limit, timeout=20)
    assert p.returncode == 1, (p.returncode, p.stderr)
    assert p.stdout == b"", p.stdout
    assert p.stderr == b"vek: Fehler bei Systemfunktion: 'write()'\r\n", p.stderr
    assert temp_files(tmp) == [], temp_files(tmp)


CASES = [
    ("a full disk while writing a pipe file", case_full_disk_while_writing_a_pipe_file),
    ("no internal file left, whichever way a run ends", case_every_way_out),
    ("internal files are their owner's only whatever the mask", case_owner_only_whatever_the_mask),
    ("a link in the place of an internal file is not followed", case_links_are_not_followed),
]


def main():
    global VEK
    if len(sys.argv) != 3 or sys.argv[1] != "--vek":
        print("usage: test_tempfiles.py --vek PATH", file=sys.stderr)
        return 2
    VEK = os.path.abspath(sys.argv[2])
    passed = failed = 0
    for name, fn in CASES:
        with tempfile.TemporaryDirectory(prefix="vek-tmpf-") as tmp:
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
