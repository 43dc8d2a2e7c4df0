#!/usr/bin/python3
"""Self-test of the end-to-end runner, with /bin/sh standing in for vek.

    python3 tests/e2e/test_runner.py
"""

import os
import re
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "run_e2e.py")
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True   # keep the source tree clean
import run_e2e  # noqa: E402


def parse(text):
    return run_e2e.parse_case_file("t.vt", textwrap.dedent(text).encode())


class ParserTest(unittest.TestCase):
    def test_blocks_and_tokens(self):
        cases = parse("""\
            # leading comment

            === case: one
            # header comment
            --- file: sub/f.txt
            a{TAB}b{x84}{xE1}{ESC}{CR}
            {NOLF}
            --- stdout
            x{CR}

            last{NOLF}

            --- status
            3

            === case: two
            """)
        self.assertEqual([c.name for c in cases], [b"one", b"two"])
        one = cases[0]
        self.assertEqual(one.lineno, 3)
        paths = run_e2e.Paths("/tmp/c1")
        f = one.block(b"file")
        self.assertEqual(f.arg, b"sub/f.txt")
        self.assertEqual(run_e2e.block_bytes(f.lines, paths),
                         b"a\tb\x84\xe1\x1b\r\n")
        # Blank lines inside a block stay; those at its end are dropped.
        out = run_e2e.block_bytes(one.block(b"stdout").lines, paths)
        self.assertEqual(out, b"x\r\n\nlast")
        raw = run_e2e.parse_case_file(
            "t.vt", b"=== case: a\n--- stdin\n  x \n \t\n\n  \n=== case: b\n")
        self.assertEqual(raw[0].block(b"stdin").lines, [b"  x "])
        self.assertEqual(cases[1].blocks, [])

    def test_path_tokens_and_literal_braces(self):
        paths = run_e2e.Paths("/tmp/c1")
        got = run_e2e.expand(b"{DIR}{/}a {HOME} {PDIR} {PHOME} {FOO} {x4} {}",
                             paths)
        self.assertEqual(got, b"\\tmp\\c1\\a \\tmp\\c1\\home /tmp/c1 "
                              b"/tmp/c1/home {FOO} {x4} {}")

    def test_windows_paths(self):
        # Under Wine the case directory is on drive Z:, and the host's form
        # of a path is the Windows form too.
        paths = run_e2e.Paths("/tmp/c1", windows=True)
        got = run_e2e.expand(b"{DIR}{/}a {HOME} {PDIR}/x {PHOME}", paths)
        self.assertEqual(got, b"Z:\\tmp\\c1\\a Z:\\tmp\\c1\\home "
                              b"Z:\\tmp\\c1/x Z:\\tmp\\c1\\home")
        self.assertEqual(paths.p_tmp, b"Z:\\tmp\\c1\\tmp")
        self.assertEqual(paths.tmp, b"/tmp/c1/tmp")
        self.assertEqual(run_e2e.show_lines(b"Z:\\tmp\\c1\\home\\x\r\n",
                                            paths), ["{HOME}\\x{CR}"])

    def test_wine_names(self):
        env = run_e2e.wine_names({b"HOME": b"h", b"TMPDIR": b"t",
                                  b"path": b"p", b"Temp": b"x",
                                  b"TMP": b"y", b"PWD": b"w",
                                  b"HOMEDIR": b"kept", b"LANG": b"C"})
        self.assertEqual(env, {b"Home": b"h", b"Tmpdir": b"t", b"Path": b"p",
                               b"Temp": b"x", b"Tmp": b"y", b"Pwd": b"w",
                               b"HOMEDIR": b"kept", b"LANG": b"C"})

    def test_regex_tokens_are_literal(self):
        paths = run_e2e.Paths("/tmp/c1")
        pat = run_e2e.block_bytes([b"{DIR}{x2E}x .*"], paths, quote=re.escape)
        self.assertTrue(re.fullmatch(pat, b"\\tmp\\c1.x 12\n"))
        self.assertFalse(re.fullmatch(pat, b"\\tmp\\c1Ax 12\n"))

    def test_status_forms(self):
        ps = run_e2e.parse_status
        self.assertEqual(ps(b"0"), 0)
        self.assertEqual(ps(b" 255 "), 255)
        self.assertEqual(ps(b"signal TERM"), -15)
        self.assertEqual(ps(b"signal SIGKILL"), -9)
        self.assertEqual(ps(b"signal 6"), -6)
        for bad in (b"256", b"-1", b"x", b"signal FOO", b""):
            self.assertIsNone(ps(bad), bad)

    def test_errors(self):
        bad = {
            "text outside": "hello\n=== case: a\n",
            "unknown block": "=== case: a\n--- stdot\n",
            "NOLF": "=== case: a\n--- stdout\na{NOLF}b\n",
            "duplicate case": "=== case: a\n=== case: a\n",
            "second": "=== case: a\n--- stdout\n--- stdout\n",
            "exclude": "=== case: a\n--- stdout-re\n--- stdout\n",
            "carriage": "=== case: a\n--- stdout\nx\r\n",
            "status": "=== case: a\n--- status\nabc\n",
            "needs a name": "=== case: a\n--- file\n",
            "relative": "=== case: a\n--- file: ../x\n",
            "args takes one": "=== case: a\n--- args\na\nb\n",
            "env lines": "=== case: a\n--- env\nno equals\n",
            "expected '=== case": "=== cas: a\n",
            "no content": "=== case: a\n--- keep-tmp\nx\n",
            "block outside": "--- stdout\n",
            "before the first": "=== case: a\nstray\n",
            "platform takes": "=== case: a\n--- platform: dos\n",
            "block 'platform' needs": "=== case: a\n--- platform\n",
            "second 'platform'": "=== case: a\n--- platform: posix\n"
                                 "--- platform: win32\n",
        }
        for word, text in bad.items():
            with self.assertRaises(run_e2e.FormatError, msg=word) as cm:
                run_e2e.parse_case_file("t.vt", text.encode())
            self.assertIn(word, str(cm.exception))
            self.assertTrue(str(cm.exception).startswith("t.vt:"))


class ShowTest(unittest.TestCase):
    def test_show_lines(self):
        show = run_e2e.show_lines
        self.assertEqual(show(b""), [])
        self.assertEqual(show(b"a\r\n\x94\xff\x7f\x01\tb  \n"),
                         ["a{CR}", "{x94}{xFF}{x7F}{x01}{TAB}b{x20}{x20}"])
        self.assertEqual(show(b"a\n\nb"), ["a", "", "b{NOLF}"])
        self.assertEqual(show(b"{CR} {y}\n"), ["{x7B}CR} {y}"])
        paths = run_e2e.Paths("/tmp/c1")
        self.assertEqual(show(b"\\tmp\\c1\\home\\x /tmp/c1/home \\tmp\\c1\n",
                              paths), ["{HOME}\\x {PHOME} {DIR}"])

    def test_show_round_trips(self):
        paths = run_e2e.Paths("/tmp/c1")
        data = bytes(range(256)) + b"\n{LF}{x41}\\tmp\\c1 end "
        lines = [l.encode() for l in run_e2e.show_lines(data, paths)]
        self.assertEqual(run_e2e.block_bytes(lines, paths), data)

    def test_diff_trims_context(self):
        exp = [str(i) for i in range(50)]
        act = list(exp)
        act[25] = "x"
        d = run_e2e.diff_lines(exp, act)
        self.assertIn("- 25", d)
        self.assertIn("+ x", d)
        self.assertIn("  ... (22 lines equal)", d)
        self.assertEqual(len(d), 1 + 3 + 2 + 3 + 1)
        self.assertEqual(len(run_e2e.diff_lines(exp, act, full=True)), 51)
        # A runaway output is diffed only in part and shown trimmed.
        d = run_e2e.diff_lines(["a", "x"], ["a"] + ["y"] * 100000)
        self.assertEqual(d[0], "  a")
        self.assertEqual(d[-1], "  ... (not compared: 0 lines more "
                                "expected, 99001 lines more actual)")
        self.assertLessEqual(len(d), run_e2e.DIFF_MAX_LINES + 2)


class RunnerTest(unittest.TestCase):
    """Runs the runner on case files with a fake vek that is /bin/sh."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.fake = os.path.join(cls.tmp.name, "fakevek")
        with open(cls.fake, "w") as f:
            f.write('#!/bin/sh\nexec /bin/sh "$@"\n')
        os.chmod(cls.fake, 0o755)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def run_cases(self, text, *extra, name="t.vt"):
        path = os.path.join(self.tmp.name, name)
        with open(path, "wb") as f:
            f.write(textwrap.dedent(text).encode("latin-1"))
        p = subprocess.run([sys.executable, RUNNER, "--vek", self.fake,
                            *extra, path], capture_output=True, timeout=60)
        return p.returncode, p.stdout.decode("ascii"), p.stderr.decode()

    def test_passing_cases(self):
        rc, out, err = self.run_cases(r"""
            === case: tokens and NOLF
            --- script
            printf 'a\r\n\224\341\t\033x'
            --- stdout
            a{CR}
            {x94}{xe1}{TAB}{ESC}x{NOLF}

            === case: status, stderr and directories
            --- script
            pwd | tr / '\\'
            echo "$HOME" | tr / '\\'
            echo "$TMPDIR"
            echo err >&2
            exit 7
            --- stdout
            {DIR}
            {HOME}
            {PDIR}/tmp
            --- stderr
            err
            --- status
            7

            === case: environment
            --- env
            FOO=a b {DIR}
            -LANG
            --- args
            -c 'env | sort'
            --- stdout
            FOO=a b {DIR}
            HOME={PHOME}
            PATH=/usr/bin:/bin
            PWD={PDIR}
            TMPDIR={PDIR}/tmp

            === case: files, stdin and pipe
            --- file: d/f.txt
            one{NOLF}
            --- exe: tool
            #!/bin/sh
            echo tool "$@"
            --- dir: empty
            --- stdin: pipe
            in{x84}
            --- script
            cat d/f.txt; echo; ./tool x; ls -d empty; cat
            [ -p /dev/stdin ] && echo pipe
            --- stdout
            one
            tool x
            empty
            in{x84}
            pipe

            === case: stdin is a file by default
            --- stdin
            l1
            --- args
            -c '[ -f /dev/stdin ] && cat'
            --- stdout
            l1

            === case: regular expression
            --- script
            printf 'pid %s in %s\n' $$ "$(pwd | tr / '\\')"
            printf 'x.y\n'
            --- stdout-re
            pid [0-9]+ in {DIR}
            x{x2E}y

            === case: kept temporary file
            --- script
            touch "$TMPDIR/vek_tmpf.1"
            --- keep-tmp

            === case: killed by a signal
            --- args
            -c 'kill -TERM $$'
            --- status
            signal TERM
            """)
        self.assertEqual(out, "8 passed, 0 failed\n", out + err)
        self.assertEqual(rc, 0)

    def test_failures(self):
        rc, out, err = self.run_cases(r"""
            === case: wrong output
            --- script
            printf 'same\nactual\r\n\351'
            --- stdout
            same
            expected{CR}

            === case: wrong status
            --- script
            exit 4

            === case: leftover
            --- script
            touch "$TMPDIR/vek_tmpf.42" "$TMPDIR/other"

            === case: sanitizer
            --- script
            echo 'x.cpp:1:2: runtime error: signed integer overflow' >&2

            === case: crash
            --- args
            -c 'kill -SEGV $$'

            === case: regex mismatch
            --- script
            echo abc
            --- stdout-re
            ab

            === case: passes
            --- script
            """)
        self.assertEqual(rc, 1)
        lines = out.splitlines()
        self.assertEqual(lines[-1], "1 passed, 6 failed")
        fails = [l for l in lines if l.startswith("FAIL ")]
        self.assertEqual(len(fails), 6, out)
        self.assertRegex(fails[0], r"t\.vt:2: wrong output \[stdout\]$")
        self.assertIn("        same\n      - expected{CR}\n"
                      "      + actual{CR}\n      + {xE9}{NOLF}\n", out)
        self.assertIn("status: expected 0, got 4", out)
        self.assertIn("temporary files left: vek_tmpf.42\n", out)
        self.assertNotIn("other", out)
        self.assertIn("sanitizer [sanitizer]\n", out)
        self.assertIn("status: expected 0, got killed by signal SIGSEGV", out)
        self.assertIn("| x.cpp:1:2: runtime error: signed integer overflow",
                      out)
        self.assertIn("stdout does not match stdout-re:\n"
                      "      pattern: ab\n      actual:  abc\n", out)

    def test_timeout_kills_the_group(self):
        start = time.monotonic()
        rc, out, err = self.run_cases("""
            === case: hangs
            --- script
            sleep 30 &
            sleep 30
            === case: leaves a job behind
            --- script
            sleep 30 &
            echo done
            --- stdout
            done
            """, "--timeout", "1")
        self.assertLess(time.monotonic() - start, 10)
        self.assertIn("FAIL", out)
        self.assertIn("timed out after 1 s; process group killed", out)
        self.assertTrue(out.endswith("1 passed, 1 failed\n"), out)
        self.assertEqual(rc, 1)

    def test_select_verbose_and_several_files(self):
        self.run_cases("=== case: other alpha\n--- args\n-c :\n",
                       name="b.vt")
        rc, out, err = self.run_cases("""
            === case: alpha one
            --- script
            === case: beta
            --- script
            === case: alpha two
            --- args
            -c true
            """, "-v", "-k", "alpha",
            os.path.join(self.tmp.name, "b.vt"))
        self.assertEqual(rc, 0)
        self.assertIn("ok   ", out)
        self.assertIn("alpha one", out)
        self.assertNotIn("beta", out)
        self.assertIn("other alpha", out)
        self.assertTrue(out.endswith("3 passed, 0 failed\n"), out)

    def test_platform_marker(self):
        rc, out, err = self.run_cases("""
            === case: posix only
            --- platform: posix
            --- args
            -c 'echo p'
            --- stdout
            p
            === case: win32 only
            --- platform: win32
            --- args
            -c 'exit 3'
            === case: everywhere
            --- args
            -c :
            """, "-v")
        self.assertEqual(rc, 0, out)
        self.assertIn("ok   ", out)
        self.assertIn("skip ", out)
        self.assertIn("win32 only (win32 only)", out)
        self.assertTrue(out.endswith("2 passed, 0 failed, 1 skipped\n"), out)

    def test_wine(self):
        # A stand-in for Wine that runs the program itself: the runner's
        # side of --wine (set-up, Windows paths, environment) without Wine.
        bin_dir = os.path.join(self.tmp.name, "winebin")
        os.makedirs(bin_dir, exist_ok=True)
        for name, text in (("wine64", '#!/bin/sh\ncase "$1" in '
                            'wineboot|reg|cmd) exit 0;; esac\nexec "$@"\n'),
                           ("wineserver", "#!/bin/sh\nexit 0\n")):
            path = os.path.join(bin_dir, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        prefix = os.path.join(self.tmp.name, "prefix")
        env = dict(os.environ, PATH=bin_dir + ":" + os.environ["PATH"])
        path = os.path.join(self.tmp.name, "w.vt")
        with open(path, "w") as f:
            f.write(textwrap.dedent(r"""
                === case: environment and paths
                --- env
                VEKTEMP={PDIR}/x
                --- script
                printf '%s\n' "$Home|$Tmpdir|$VEKTEMP|$WINEPREFIX|${HOME+set}"
                printf '%s\n' "$WINEDEBUG|${PATH-none}|${TMPDIR-none}|${Path-none}"
                --- stdout
                {HOME}|{DIR}{/}tmp|{DIR}/x|PREFIX|set
                -all|/usr/bin:/bin|none|none
                === case: posix only
                --- platform: posix
                """).replace("PREFIX", prefix))
        p = subprocess.run([sys.executable, RUNNER, "--wine", "--wine-prefix",
                            prefix, "--vek", self.fake, "-v", path],
                           capture_output=True, timeout=60, env=env)
        out = p.stdout.decode()
        self.assertEqual(p.returncode, 0, out + p.stderr.decode())
        self.assertTrue(out.endswith("1 passed, 0 failed, 1 skipped\n"), out)
        self.assertTrue(os.path.exists(os.path.join(prefix, ".vek-ready")))
        # Without Wine the runner says so and fails.
        if not any(os.access(f"/usr/lib/wine/{n}", os.X_OK)
                   for n in ("wine64", "wine")):
            p = subprocess.run([sys.executable, RUNNER, "--wine", "--vek",
                                self.fake, path], capture_output=True,
                               timeout=60,
                               env=dict(os.environ, PATH="/nonexistent"))
            self.assertEqual(p.returncode, 2)
            self.assertIn("cannot run Wine", p.stderr.decode())

    def test_format_error_fails_the_file(self):
        rc, out, err = self.run_cases("=== case: a\n--- stdot\n")
        self.assertEqual(rc, 1)
        self.assertIn("FAIL ", out)
        self.assertIn("t.vt:2: unknown block", out)
        self.assertTrue(out.endswith("0 passed, 1 failed\n"), out)

    def test_case_directory_is_removed(self):
        rc, out, err = self.run_cases(r"""
            === case: where
            --- args
            -c 'pwd | tr / :; mkdir locked; chmod 0 locked'
            """, "-v")
        # The case printed nothing it was not asked for, so it failed;
        # its directory must be gone all the same.
        case_dir = [l for l in out.splitlines() if l.startswith("      + :")]
        self.assertEqual(len(case_dir), 1, out)
        self.assertFalse(os.path.exists(case_dir[0][8:].replace(":", "/")))
        self.assertEqual(rc, 1)


if __name__ == "__main__":
    unittest.main()
