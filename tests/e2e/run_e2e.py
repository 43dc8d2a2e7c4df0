#!/usr/bin/python3
"""End-to-end test runner for vek.

Runs the cases of one or more case files (*.vt) against a vek binary and
compares standard output, standard error (as bytes) and the exit status.
The case format is described in README.md beside this script.

    python3 tests/e2e/run_e2e.py --vek /abs/path/to/vek tests/e2e/cases/AREA.vt
    python3 tests/e2e/run_e2e.py --wine --vek build-win/vek.exe tests/e2e/cases/*.vt

Prints one line per failing case, followed by an indented diff, and closes
with the line "N passed, N failed" (", N skipped" when cases were for the
other platform).  Exit status 0 iff nothing failed.  Standard library only.
"""

import argparse
import difflib
import fcntl
import os
import re
import resource
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

DEFAULT_TIMEOUT = 10.0
DEFAULT_ARGS = [b"script.vek"]
SCRIPT_NAME = b"script.vek"
TMPFILE_PREFIX = b"vek_tmpf."
# Largest file a case's processes may write (RLIMIT_FSIZE); keeps a runaway
# loop from filling the disk before the timeout hits.
FILE_SIZE_LIMIT = 256 * 1024 * 1024
# Sanitizer reports are recognised by these markers on standard error.
SANITIZER_MARKERS = (b"AddressSanitizer", b"LeakSanitizer",
                     b"UndefinedBehaviorSanitizer", b"runtime error:")
# Sanitizer settings are passed through from the runner's environment.
SANITIZER_VARS = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
# Context lines around a change in a diff, and the most lines one diff shows.
DIFF_CONTEXT = 3
DIFF_MAX_LINES = 200
# Lines compared from the first difference on (trimmed / full diff).
DIFF_WINDOW = 1000
DIFF_WINDOW_FULL = 20000

# Blocks a case may contain.  Value: (argument required?, content allowed?)
BLOCKS = {
    b"file": (True, True),
    b"exe": (True, True),
    b"dir": (True, False),
    b"stdin": (False, True),
    b"args": (False, True),
    b"script": (False, True),
    b"env": (False, True),
    b"stdout": (False, True),
    b"stderr": (False, True),
    b"stdout-re": (False, True),
    b"stderr-re": (False, True),
    b"status": (False, True),
    b"keep-tmp": (False, False),
    b"platform": (True, False),
}
# The platforms a case may be limited to: vek built for POSIX, and vek.exe
# run through Wine.
PLATFORMS = (b"posix", b"win32")
# Blocks that may appear more than once in a case (with different arguments).
REPEATABLE = (b"file", b"exe", b"dir")

TOKEN_RE = re.compile(
    rb"\{(CR|LF|TAB|ESC|NOLF|DIR|HOME|PDIR|PHOME|/|x[0-9A-Fa-f]{2})\}")
FIXED_TOKENS = {b"CR": b"\r", b"LF": b"\n", b"TAB": b"\t", b"ESC": b"\x1b",
                b"/": b"\\"}
ENV_NAME_RE = re.compile(rb"[A-Za-z_][A-Za-z0-9_]*")


class FormatError(Exception):
    """A case file that does not follow the format."""

    def __init__(self, path, lineno, msg):
        super().__init__(f"{path}:{lineno}: {msg}")


# ---------------------------------------------------------------------------
# Case files

class Block:
    def __init__(self, name, arg, lineno):
        self.name = name      # bytes, e.g. b"stdout"
        self.arg = arg        # bytes after "NAME:", or None
        self.lineno = lineno  # line of the "--- " header
        self.lines = []       # raw content lines, without LF


class Case:
    def __init__(self, path, name, lineno):
        self.path = path
        self.name = name      # bytes
        self.lineno = lineno
        self.blocks = []

    def block(self, name):
        for b in self.blocks:
            if b.name == name:
                return b
        return None

    def where(self):
        return f"{self.path}:{self.lineno}"


def _is_header(line, mark):
    return line == mark or line.startswith(mark + b" ")


def _blank(line):
    return line.strip(b" \t") == b""


def parse_case_file(path, data=None):
    """Reads a case file and returns its cases; raises FormatError."""
    if data is None:
        with open(path, "rb") as f:
            data = f.read()
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    cases = []
    names = set()
    case = None
    block = None

    def finish_block():
        if block is None:
            return
        while block.lines and _blank(block.lines[-1]):
            block.lines.pop()
        _check_block(path, case, block)

    for lineno, line in enumerate(lines, 1):
        if b"\r" in line:
            raise FormatError(path, lineno,
                              "raw carriage return in the case file; "
                              "write {CR} instead")
        if _is_header(line, b"==="):
            finish_block()
            block = None
            m = re.fullmatch(rb"=== case:(.*)", line)
            name = m.group(1).strip(b" \t") if m else b""
            if not name:
                raise FormatError(path, lineno,
                                  "expected '=== case: NAME'")
            if name in names:
                raise FormatError(path, lineno,
                                  f"duplicate case name {show_inline(name)}")
            names.add(name)
            case = Case(path, name, lineno)
            cases.append(case)
        elif _is_header(line, b"---"):
            if case is None:
                raise FormatError(path, lineno,
                                  "block outside a case (missing "
                                  "'=== case: NAME' line)")
            finish_block()
            block = _parse_block_header(path, case, line, lineno)
            case.blocks.append(block)
        elif block is not None:
            block.lines.append(line)
        elif not (_blank(line) or line.startswith(b"#")):
            where = "before the first block" if case else "outside a case"
            raise FormatError(path, lineno,
                              f"unexpected text {where}; comments start "
                              "with '#'")
    finish_block()
    return cases


def _parse_block_header(path, case, line, lineno):
    rest = line[3:].strip(b" \t")
    name, sep, arg = rest.partition(b":")
    name = name.strip(b" \t")
    arg = arg.strip(b" \t") if sep else None
    if name not in BLOCKS:
        known = ", ".join(n.decode() for n in BLOCKS)
        raise FormatError(path, lineno,
                          f"unknown block {show_inline(name)} "
                          f"(known: {known})")
    needs_arg, _ = BLOCKS[name]
    if needs_arg and not arg:
        raise FormatError(path, lineno,
                          f"block '{name.decode()}' needs a name: "
                          f"'--- {name.decode()}: NAME'")
    if name == b"stdin":
        if arg not in (None, b"pipe"):
            raise FormatError(path, lineno,
                              "stdin takes no argument or ': pipe'")
    elif name == b"platform" and arg not in PLATFORMS:
        raise FormatError(path, lineno,
                          "platform takes ': posix' or ': win32'")
    elif not needs_arg and arg is not None:
        raise FormatError(path, lineno,
                          f"block '{name.decode()}' takes no argument")
    for other in case.blocks:
        if name in REPEATABLE:
            if other.name in REPEATABLE and other.arg == arg:
                raise FormatError(path, lineno,
                                  f"{show_inline(arg)} created twice")
        elif other.name == name:
            raise FormatError(path, lineno,
                              f"second '{name.decode()}' block in the case")
    pairs = ((b"stdout", b"stdout-re"), (b"stderr", b"stderr-re"))
    for a, b in pairs:
        if name in (a, b) and case.block(b if name == a else a):
            raise FormatError(path, lineno,
                              f"'{a.decode()}' and '{b.decode()}' exclude "
                              "each other")
    if name in REPEATABLE:
        parts = arg.split(b"/")
        if arg.startswith(b"/") or b".." in parts or b"." in parts \
                or b"" in parts:
            raise FormatError(path, lineno,
                              f"path {show_inline(arg)} must be relative and "
                              "plain (no '.', '..' or empty parts)")
        if arg == SCRIPT_NAME and case.block(b"script"):
            raise FormatError(path, lineno,
                              "script.vek is already written by the "
                              "'script' block")
    if name == b"script":
        for other in case.blocks:
            if other.name in REPEATABLE and other.arg == SCRIPT_NAME:
                raise FormatError(path, lineno,
                                  "script.vek is already written by a "
                                  "file block")
    return Block(name, arg, lineno)


def _check_block(path, case, block):
    """Validates a finished block's content."""
    _, content_ok = BLOCKS[block.name]
    first = block.lineno + 1
    if not content_ok and block.lines:
        raise FormatError(path, first,
                          f"block '{block.name.decode()}' has no content")
    for i, line in enumerate(block.lines):
        for m in TOKEN_RE.finditer(line):
            if m.group(1) == b"NOLF" and m.end() != len(line):
                raise FormatError(path, first + i,
                                  "{NOLF} may only end a line")
    if block.name == b"status":
        content = [l for l in block.lines if not _blank(l)]
        if len(content) != 1 or parse_status(content[0]) is None:
            raise FormatError(path, block.lineno,
                              "status needs one line: a number 0-255 or "
                              "'signal NAME' / 'signal N'")
    elif block.name == b"args":
        content = [l for l in block.lines if not _blank(l)]
        if len(content) > 1:
            raise FormatError(path, block.lineno, "args takes one line")
        if content:
            try:
                shlex.split(content[0].decode("latin-1"))
            except ValueError as e:
                raise FormatError(path, first, f"args: {e}") from None
    elif block.name == b"env":
        for i, line in enumerate(block.lines):
            s = line.strip(b" \t")
            if not s or s.startswith(b"#"):
                continue
            if s.startswith(b"-"):
                ok = ENV_NAME_RE.fullmatch(s[1:])
            else:
                n, eq, _ = line.partition(b"=")
                ok = eq and ENV_NAME_RE.fullmatch(n)
            if not ok:
                raise FormatError(path, first + i,
                                  "env lines are NAME=value or -NAME")


def parse_status(line):
    """Returns the expected status: int 0-255, or -N for 'signal N'."""
    s = line.strip(b" \t").decode("latin-1")
    if re.fullmatch(r"[0-9]{1,3}", s) and int(s) <= 255:
        return int(s)
    m = re.fullmatch(r"signal\s+(\S+)", s)
    if m:
        sig = m.group(1).upper()
        if sig.isdigit():
            return -int(sig) if 0 < int(sig) < 65 else None
        if not sig.startswith("SIG"):
            sig = "SIG" + sig
        if sig in signal.Signals.__members__:
            return -int(signal.Signals[sig])
    return None


# ---------------------------------------------------------------------------
# Tokens

def windows_path(path):
    """A host path as a program under Wine sees it: Wine's drive Z: is the
    root of the host's file system."""
    return b"Z:" + path.replace(b"/", b"\\")


class Paths:
    """The directories of one case: `dir`, `home` and `tmp` in the runner's
    form (where the runner creates files); `vek_dir` and `vek_home` as vek
    shows paths ({DIR}, {HOME}); `p_dir` and `p_home` in the form of the
    host vek runs on ({PDIR}, {PHOME}): with "/" on POSIX, the Windows form
    under Wine, where it is the same as vek's."""

    def __init__(self, case_dir, windows=False):
        self.dir = os.fsencode(case_dir)
        self.home = os.path.join(self.dir, b"home")
        self.tmp = os.path.join(self.dir, b"tmp")
        if windows:
            self.vek_dir = windows_path(self.dir)
            self.vek_home = windows_path(self.home)
            self.p_dir, self.p_home = self.vek_dir, self.vek_home
            self.p_tmp = windows_path(self.tmp)
        else:
            self.vek_dir = self.dir.replace(b"/", b"\\")
            self.vek_home = self.home.replace(b"/", b"\\")
            self.p_dir, self.p_home, self.p_tmp = self.dir, self.home, self.tmp

    def token(self, name):
        if name in FIXED_TOKENS:
            return FIXED_TOKENS[name]
        if name[:1] == b"x":
            return bytes([int(name[1:], 16)])
        return {b"DIR": self.vek_dir, b"HOME": self.vek_home,
                b"PDIR": self.p_dir, b"PHOME": self.p_home}[name]


def expand(text, paths, quote=None):
    """Replaces the tokens in one piece of text.  `quote` is applied to
    each token's bytes (re.escape for regular expression blocks)."""
    def sub(m):
        value = paths.token(m.group(1))
        return quote(value) if quote else value
    return TOKEN_RE.sub(sub, text)


def block_bytes(lines, paths, quote=None):
    """A block's content: each line followed by LF, unless it ends in
    {NOLF}."""
    out = []
    for line in lines:
        if line.endswith(b"{NOLF}"):
            out.append(expand(line[:-6], paths, quote))
        else:
            out.append(expand(line, paths, quote) + b"\n")
    return b"".join(out)


# ---------------------------------------------------------------------------
# Showing bytes

def _show_byte(b):
    if b == 0x0D:
        return "{CR}"
    if b == 0x09:
        return "{TAB}"
    if b == 0x1B:
        return "{ESC}"
    if b < 0x20 or b > 0x7E:
        return "{x%02X}" % b
    return chr(b)


def show_inline(data):
    """Bytes as printable ASCII in case-file notation."""
    out = []
    for i, b in enumerate(data):
        if b == 0x0A:
            out.append("{LF}")
        elif b == 0x7B and TOKEN_RE.match(data, i):
            out.append("{x7B}")   # a literal brace that would read as token
        else:
            out.append(_show_byte(b))
    return "".join(out)


def show_lines(data, paths=None):
    """Splits output into lines shown in case-file notation, so that a
    line can be pasted into a case: the case's directories appear as
    {HOME}/{DIR}, trailing spaces as {x20}, a missing final LF as {NOLF}."""
    subst = []
    if paths is not None:
        subst = [(paths.vek_home, "{HOME}"), (paths.vek_dir, "{DIR}"),
                 (paths.p_home, "{PHOME}"), (paths.p_dir, "{PDIR}")]
    pieces = data.split(b"\n")
    last_open = pieces[-1] != b""
    if not last_open:
        pieces.pop()
    result = []
    for n, piece in enumerate(pieces):
        out = []
        i = 0
        while i < len(piece):
            for raw, tok in subst:
                if piece.startswith(raw, i):
                    out.append(tok)
                    i += len(raw)
                    break
            else:
                b = piece[i]
                if b == 0x7B and TOKEN_RE.match(piece, i):
                    out.append("{x7B}")
                else:
                    out.append(_show_byte(b))
                i += 1
        line = "".join(out)
        stripped = line.rstrip(" ")
        line = stripped + "{x20}" * (len(line) - len(stripped))
        if last_open and n == len(pieces) - 1:
            line += "{NOLF}"
        result.append(line)
    return result


def diff_lines(expected, actual, full=False):
    """A line diff: '  ' same, '- ' expected only, '+ ' actual only.
    Unless `full`, equal stretches are cut to a few lines of context and
    the whole diff to DIFF_MAX_LINES.  Only a window of lines from the
    first difference on is compared, so that a runaway output stays cheap
    to diff."""
    if not expected and not actual:
        return ["  (both empty)"]
    context = 10 ** 9 if full else DIFF_CONTEXT
    window = DIFF_WINDOW_FULL if full else DIFF_WINDOW
    same = 0
    for e, a in zip(expected, actual):
        if e != a:
            break
        same += 1
    start = max(0, same - context)
    exp_w = expected[start:start + window]
    act_w = actual[start:start + window]
    out = []
    if start:
        out.append(f"  ... ({_lines(start)} equal)")
    if not exp_w:
        out.append("- (expected ends here)" if start else
                   "- (expected empty)")
    sm = difflib.SequenceMatcher(None, exp_w, act_w, autojunk=False)
    prev_end = 0
    for group in sm.get_grouped_opcodes(min(context, window)):
        skipped = group[0][1] - prev_end
        if skipped > 0:
            out.append(f"  ... ({_lines(skipped)} equal)")
        for tag, i1, i2, j1, j2 in group:
            if tag == "equal":
                out += ["  " + l for l in exp_w[i1:i2]]
            else:
                out += ["- " + l for l in exp_w[i1:i2]]
                out += ["+ " + l for l in act_w[j1:j2]]
        prev_end = group[-1][2]
    if prev_end < len(exp_w):
        out.append(f"  ... ({_lines(len(exp_w) - prev_end)} equal)")
    if not act_w:
        out.append("+ (actual ends here)" if start else "+ (actual empty)")
    if not full and len(out) > DIFF_MAX_LINES:
        more = len(out) - DIFF_MAX_LINES
        out = out[:DIFF_MAX_LINES] + [f"  ... ({_lines(more)} more in the "
                                      "diff)"]
    rest_e = len(expected) - start - len(exp_w)
    rest_a = len(actual) - start - len(act_w)
    if rest_e or rest_a:
        out.append(f"  ... (not compared: {_lines(rest_e)} more expected, "
                   f"{_lines(rest_a)} more actual)")
    return out


def _lines(n):
    return f"{n} line" if n == 1 else f"{n} lines"


def describe_status(code):
    if code < 0:
        try:
            name = signal.Signals(-code).name
        except ValueError:
            name = str(-code)
        return f"killed by signal {name}"
    return str(code)


# ---------------------------------------------------------------------------
# Running a case

class Result:
    def __init__(self):
        self.problems = []    # short words for the summary line
        self.details = []     # indented lines shown below it
        self.command = None
        self.case_dir = None

    @property
    def passed(self):
        return not self.problems

    def fail(self, problem, details=()):
        self.problems.append(problem)
        self.details.extend(details)


def _limit_child():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    _, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    limit = FILE_SIZE_LIMIT if hard == resource.RLIM_INFINITY \
        else min(FILE_SIZE_LIMIT, hard)
    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard))


def _wait_without_reaping(pid, timeout):
    """Waits for the process to end but leaves it a zombie, so that its
    process group id cannot be reused before we kill the group.  Returns
    False on timeout."""
    deadline = time.monotonic() + timeout
    delay = 0.0005
    while True:
        if os.waitid(os.P_PID, pid,
                     os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None:
            return True
        now = time.monotonic()
        if now >= deadline:
            return False
        time.sleep(min(delay, deadline - now))
        delay = min(delay * 2, 0.02)


def _write_file(path, data, mode):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


def _inside(paths, name):
    """The host path for a file block's name; the name must stay inside
    the case directory also after its tokens are replaced."""
    parts = name.split(b"/")
    if name.startswith(b"/") or {b"", b".", b".."} & set(parts):
        raise ValueError(f"file name {show_inline(name)} leaves the case "
                         "directory")
    return os.path.join(paths.dir, name)


def _remove_tree(path):
    # Cases may leave directories without permissions behind.
    for root, dirs, _ in os.walk(path):
        for d in dirs:
            try:
                os.chmod(os.path.join(root, d), 0o700, follow_symlinks=False)
            except OSError:
                pass
    shutil.rmtree(path, ignore_errors=True)


def build_env(case, paths, wine=None):
    """The environment vek gets.  Under Wine without PATH (Wine gives the
    program its own) and handed over through Wine.environment()."""
    env = {b"PATH": b"/usr/bin:/bin", b"HOME": paths.p_home,
           b"TMPDIR": paths.p_tmp, b"LANG": b"C"}
    if wine:
        del env[b"PATH"]
    for var in SANITIZER_VARS:
        if var in os.environ:
            env[var.encode()] = os.environb[var.encode()]
    block = case.block(b"env")
    if block:
        for line in block.lines:
            s = line.strip(b" \t")
            if not s or s.startswith(b"#"):
                continue
            if s.startswith(b"-"):
                env.pop(s[1:], None)
            else:
                name, _, value = line.partition(b"=")
                env[name] = expand(value, paths)
    return wine.environment(env) if wine else env


def case_args(case, paths):
    block = case.block(b"args")
    if block is None:
        return list(DEFAULT_ARGS)
    content = [l for l in block.lines if not _blank(l)]
    if not content:
        return []
    words = shlex.split(content[0].decode("latin-1"))
    return [expand(w.encode("latin-1"), paths) for w in words]


def prepare(case, paths):
    os.makedirs(paths.home)
    os.makedirs(paths.tmp)
    for block in case.blocks:
        if block.name == b"dir":
            os.makedirs(_inside(paths, expand(block.arg, paths)),
                        exist_ok=True)
        elif block.name in (b"file", b"exe"):
            mode = 0o755 if block.name == b"exe" else 0o644
            _write_file(_inside(paths, expand(block.arg, paths)),
                        block_bytes(block.lines, paths), mode)
    script = case.block(b"script")
    if script:
        _write_file(os.path.join(paths.dir, SCRIPT_NAME),
                    block_bytes(script.lines, paths), 0o644)


def run_case(case, vek, work_root, index, timeout, keep=False, full=False,
             wine=None):
    """Runs one case in a new directory below work_root; returns a Result.
    `full` shows whole outputs instead of a trimmed diff; `wine` (a Wine)
    runs vek.exe through Wine."""
    res = Result()
    case_dir = os.path.join(work_root, f"c{index:04d}")
    # Input and output files live beside the case directory, not in it,
    # so that they do not show up in directory listings of the case.
    io_base = os.path.join(work_root, f"c{index:04d}.")
    res.case_dir = case_dir
    os.makedirs(case_dir)
    paths = Paths(case_dir, windows=wine is not None)
    try:
        args = case_args(case, paths)
        res.command = "vek " + " ".join(
            shlex.quote(show_inline(a)) for a in args)
        try:
            prepare(case, paths)
        except (OSError, ValueError) as e:
            res.fail("setup", [f"cannot set up the case: {e}"])
            return res
        stdin_block = case.block(b"stdin")
        stdin_data = block_bytes(stdin_block.lines, paths) \
            if stdin_block else b""
        use_pipe = stdin_block is not None and stdin_block.arg == b"pipe"
        try:
            if wine:
                command = (wine.loader, [wine.loader, os.fsencode(vek)] + args)
            else:
                command = (vek, [b"vek"] + args)
            outcome = _execute(command, paths, build_env(case, paths, wine),
                               stdin_data, use_pipe, io_base, timeout)
        except OSError as e:
            res.fail("start", [f"cannot start vek: {e}"])
            return res
        check(case, res, paths, timeout, *outcome, full=full)
    finally:
        if not keep:
            _remove_tree(case_dir)
            for suffix in ("stdin", "stdout", "stderr"):
                try:
                    os.unlink(io_base + suffix)
                except FileNotFoundError:
                    pass
    return res


def _execute(command, paths, env, stdin_data, use_pipe, io_base, timeout):
    """Runs vek: `command` is the program and its argument vector.  Returns
    (finished, status, stdout, stderr)."""
    stdin_f = None
    if not use_pipe:
        with open(io_base + "stdin", "wb") as f:
            f.write(stdin_data)
        stdin_f = open(io_base + "stdin", "rb")
    # Output goes to files rather than pipes: something vek leaves running
    # in the background cannot hold the runner up by keeping a pipe open.
    with open(io_base + "stdout", "w+b") as out_f, \
            open(io_base + "stderr", "w+b") as err_f:
        try:
            proc = subprocess.Popen(
                command[1], executable=command[0], cwd=paths.dir, env=env,
                stdin=subprocess.PIPE if use_pipe else stdin_f,
                stdout=out_f, stderr=err_f, close_fds=True,
                start_new_session=True, preexec_fn=_limit_child)
        finally:
            if stdin_f:
                stdin_f.close()
        writer = None
        if use_pipe:
            writer = threading.Thread(target=_feed, daemon=True,
                                      args=(proc.stdin, stdin_data))
            writer.start()
        finished = False
        try:
            finished = _wait_without_reaping(proc.pid, timeout)
        finally:
            # Kills vek on timeout (or when the runner is interrupted), and
            # in any case whatever it left running in the background.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            status = proc.wait()
        if writer:
            writer.join(timeout=1)
        out_f.seek(0)
        err_f.seek(0)
        return finished, status, out_f.read(), err_f.read()


def _feed(pipe, data):
    try:
        pipe.write(data)
    except (BrokenPipeError, OSError):
        pass
    finally:
        try:
            pipe.close()
        except OSError:
            pass


def check(case, res, paths, timeout, finished, status, stdout, stderr,
          full=False):
    """Compares what vek did with what the case expects."""
    if not finished:
        res.fail("timeout", [f"timed out after {timeout:g} s; "
                             "process group killed"])
    sanitizer = any(m in stderr for m in SANITIZER_MARKERS)
    if sanitizer:
        res.fail("sanitizer", ["sanitizer report on stderr:"] +
                 ["| " + l for l in show_lines(stderr, paths)])
    if finished:
        block = case.block(b"status")
        want = 0
        if block:
            want = parse_status(next(l for l in block.lines
                                     if not _blank(l)))
        if status != want:
            res.fail("status", [f"status: expected {describe_status(want)}, "
                                f"got {describe_status(status)}"])
    _compare(case, res, paths, b"stdout", stdout, full)
    if not sanitizer:   # stderr was shown whole already
        _compare(case, res, paths, b"stderr", stderr, full)
    if not case.block(b"keep-tmp"):
        try:
            left = sorted(n for n in os.listdir(paths.tmp)
                          if n.startswith(TMPFILE_PREFIX))
        except OSError:
            left = []
        if left:
            res.fail("temp files", ["temporary files left: " +
                                    ", ".join(map(show_inline, left))])


def _compare(case, res, paths, stream, actual, full):
    name = stream.decode()
    re_block = case.block(stream + b"-re")
    if re_block:
        pattern = block_bytes(re_block.lines, paths, quote=re.escape)
        try:
            ok = re.fullmatch(pattern, actual, re.DOTALL) is not None
        except re.error as e:
            res.fail(name, [f"{name}-re: bad regular expression: {e}"])
            return
        if not ok:
            res.fail(name, [f"{name} does not match {name}-re:"] +
                     ["  pattern: " + "".join(map(_show_byte, l))
                      for l in re_block.lines] +
                     ["  actual:  " + l for l in
                      show_lines(actual, paths) or ["(empty)"]])
        return
    block = case.block(stream)
    expected = block_bytes(block.lines, paths) if block else b""
    if expected != actual:
        res.fail(name, [f"{name} (- expected, + actual):"] +
                 ["  " + l for l in diff_lines(show_lines(expected, paths),
                                               show_lines(actual, paths),
                                               full)])


# ---------------------------------------------------------------------------
# Wine

# Names that Wine drops from the environment it hands a program, or replaces
# with its own values, or (TMPDIR) needs for itself: the case's values reach
# vek under the same name in another letter case.  Win32 names are not
# case-sensitive, and vek looks variables up without regard to case.
WINE_RESERVED = (b"HOME", b"PATH", b"PWD", b"TEMP", b"TMP", b"TMPDIR")
# Seconds the Wine server stays after its last program ended.
WINE_SERVER_LINGER = 30


def wine_names(case_env):
    """The case's environment with the names that Wine would drop, replace
    or take for itself spelt in another letter case (HOME becomes Home)."""
    env = {}
    for name, value in case_env.items():
        if name.upper() in WINE_RESERVED:
            name = name[:1].upper() + name[1:].lower()
        env[name] = value
    return env


def _find_program(names, fallbacks):
    for name in names:
        found = shutil.which(name)
        if found:
            return found
    for path in fallbacks:
        if os.access(path, os.X_OK):
            return path
    return None


class WineError(Exception):
    pass


class Wine:
    """Runs Windows programs through Wine, with a private prefix and one
    Wine server kept running for all cases, so that a case pays only for
    the start of its own program."""

    def __init__(self, prefix):
        self.loader = _find_program(
            ("wine64", "wine"), ("/usr/lib/wine/wine64", "/usr/lib/wine/wine"))
        self.server = _find_program(
            ("wineserver",), ("/usr/lib/wine/wineserver",
                              "/usr/lib/wine/wineserver64"))
        if not self.loader or not self.server:
            raise WineError("Wine is not installed (no wine64/wine and "
                            "wineserver)")
        self.loader = os.fsencode(self.loader)
        self.prefix = os.fsencode(os.path.abspath(prefix))
        # Wine keeps its server directory below TMPDIR: the server and every
        # program must agree on it, so it is left to Wine's default (/tmp)
        # and the case's TMPDIR goes to vek under another letter case.
        self.env = {b"WINEPREFIX": self.prefix, b"WINEDEBUG": b"-all",
                    b"WINEDLLOVERRIDES": b"mscoree,mshtml=",
                    b"PATH": b"/usr/bin:/bin",
                    b"HOME": os.environb.get(b"HOME", self.prefix)}

    def environment(self, case_env):
        """The host environment that gives a program under Wine the case's
        environment."""
        env = dict(self.env)
        env.update(wine_names(case_env))
        return env

    def _run(self, *args, check=True):
        # Output goes to a file: programs that Wine starts in the background
        # would keep a pipe open.
        with tempfile.TemporaryFile() as err, \
                tempfile.TemporaryDirectory(prefix="vek-wine-") as cwd:
            p = subprocess.run([self.loader, *args], env=self.env, cwd=cwd,
                               stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=err,
                               timeout=300)
            if check and p.returncode != 0:
                err.seek(0)
                text = err.read().decode(errors="replace")[-500:]
                raise WineError(f"wine {' '.join(map(os.fsdecode, args))}: "
                                f"exit status {p.returncode}: {text}")

    def start(self):
        """Makes the prefix on first use, starts the server and runs a
        program once, so that Wine's own services are up before the first
        case."""
        ready = os.path.join(self.prefix, b".vek-ready")
        os.makedirs(self.prefix, exist_ok=True)
        with open(self.prefix + b".lock", "wb") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(ready):
                self._run(b"wineboot", b"-i")
                # Wine sets TEMP and TMP from the prefix's registry (user and
                # system); without them the case's temporary directory is
                # what vek sees.
                for key in (b"HKCU\\Environment",
                            b"HKLM\\System\\CurrentControlSet\\Control\\"
                            b"Session Manager\\Environment"):
                    for var in (b"TEMP", b"TMP"):
                        self._run(b"reg", b"delete", key, b"/v", var, b"/f",
                                  check=False)
                # The server writes the registry when it ends.
                subprocess.run([self.server, b"-w"], env=self.env,
                               stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=300)
                open(ready, "wb").close()
            subprocess.run([self.server, b"-p%d" % WINE_SERVER_LINGER],
                           env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            self._run(b"cmd", b"/c", b"exit", check=False)


# ---------------------------------------------------------------------------
# Main

def main(argv=None):
    ap = argparse.ArgumentParser(
        description="Runs vek end-to-end case files (*.vt).")
    ap.add_argument("--vek", required=True, help="path of the vek binary")
    ap.add_argument("-k", dest="match", metavar="SUBSTR",
                    help="run only cases whose name contains SUBSTR")
    ap.add_argument("-v", dest="verbose", action="store_true",
                    help="list every case and show full diffs")
    ap.add_argument("--keep", action="store_true",
                    help="keep the case directories")
    ap.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT,
                    help="seconds per case (default %(default)g)")
    ap.add_argument("--wine", action="store_true",
                    help="run the program (vek.exe) through Wine; cases "
                         "for POSIX only are skipped")
    ap.add_argument("--wine-prefix", metavar="DIR",
                    help="Wine prefix to use (default: wineprefix beside "
                         "the program)")
    ap.add_argument("files", nargs="+", metavar="FILE.vt")
    opts = ap.parse_args(argv)
    sys.stdout.reconfigure(line_buffering=True)

    vek = os.path.abspath(opts.vek)
    if not (os.path.isfile(vek) and os.access(vek, os.X_OK)):
        print(f"run_e2e: not an executable: {vek}", file=sys.stderr)
        return 2
    match = os.fsencode(opts.match) if opts.match is not None else None
    platform = b"win32" if opts.wine else b"posix"
    wine = None
    if opts.wine:
        try:
            wine = Wine(opts.wine_prefix or
                        os.path.join(os.path.dirname(vek), "wineprefix"))
            wine.start()
        except (WineError, OSError, subprocess.SubprocessError) as e:
            print(f"run_e2e: cannot run Wine: {e}", file=sys.stderr)
            return 2

    passed = failed = skipped = 0
    work_root = os.path.realpath(tempfile.mkdtemp(prefix="vek-e2e-"))
    index = 0
    try:
        for path in opts.files:
            try:
                cases = parse_case_file(path)
            except FormatError as e:
                print(f"FAIL {e}")
                failed += 1
                continue
            except OSError as e:
                print(f"FAIL {path}: cannot read: {e.strerror}")
                failed += 1
                continue
            for case in cases:
                if match is not None and match not in case.name:
                    continue
                only = case.block(b"platform")
                if only is not None and only.arg != platform:
                    skipped += 1
                    if opts.verbose:
                        print(f"skip {case.where()}: "
                              f"{show_inline(case.name)} "
                              f"({only.arg.decode()} only)")
                    continue
                index += 1
                try:
                    res = run_case(case, vek, work_root, index, opts.timeout,
                                   keep=opts.keep, full=opts.verbose,
                                   wine=wine)
                except Exception:   # a runner fault fails only this case
                    res = Result()
                    res.fail("runner error",
                             traceback.format_exc().rstrip().split("\n"))
                title = f"{case.where()}: {show_inline(case.name)}"
                if res.passed:
                    passed += 1
                    if opts.verbose:
                        print(f"ok   {title}")
                    continue
                failed += 1
                print(f"FAIL {title} [{', '.join(res.problems)}]")
                if opts.verbose:
                    print(f"    command: {res.command}")
                if opts.keep:
                    print(f"    case directory: {res.case_dir}")
                for line in res.details:
                    print("    " + line)
        if index == 0 and skipped == 0 and match is not None:
            print(f"run_e2e: no case name contains {opts.match!r}",
                  file=sys.stderr)
    finally:
        if opts.keep:
            print(f"run_e2e: case directories kept in {work_root}",
                  file=sys.stderr)
        else:
            _remove_tree(work_root)
    summary = f"{passed} passed, {failed} failed"
    if skipped:
        summary += f", {skipped} skipped"
    print(summary)
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
