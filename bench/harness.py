#!/usr/bin/env python3
"""The benchmark harness behind bench/run.sh.

Every line of the table is one piece of work written for vek and for its
peers: the shell-language lines as a script in bench/scripts (NAME.vek for
vek, NAME.sh for dash, bash, mksh and busybox sh), the tool lines as a
command of vek's builtins against the GNU tool. Before anything is timed,
each implementation runs once and its output is compared with the others'
(vek's CR LF line ends taken as LF); an implementation that fails, writes
to standard error or writes something else is reported and not timed.

Each measurement is repeated (--runs, at least 5): the table shows the
median wall-clock time, the spread (min-max), the peak resident memory of
the process (ru_maxrss from wait4), and the ratio of vek's median to each
peer's. The machine is shared: the ratios are the result, not the times.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, "scripts")

SHELLS = [
    ("dash", ["dash"]),
    ("bash", ["bash"]),
    ("mksh", ["mksh"]),
    ("busybox", ["busybox", "sh"]),
]


def which(prog):
    return shutil.which(prog)


# ---------------------------------------------------------------- data


def gen_words(rng, count):
    syl = ["ka", "lo", "mi", "ne", "ru", "ta", "vi", "so", "pe", "du", "ga",
           "hi", "jo", "be", "fa", "qui", "zo", "wu", "xe", "cy"]
    words = set()
    while len(words) < count:
        words.add("".join(rng.choice(syl) for _ in range(rng.randint(1, 4))))
    return sorted(words)


def make_data(path, size_mb):
    """Tab-separated lines of about 100 bytes: a word, a number unique to
    the line, a few words and a number. About one line in 500 holds
    "zebra"."""
    rng = random.Random(17)
    words = gen_words(rng, 3000)
    nlines = max(1, size_mb * 1024 * 1024 // 100)
    keys = list(range(nlines))
    rng.shuffle(keys)
    tmp = path + ".part"
    with open(tmp, "w", newline="\n") as f:
        buf = []
        for k in keys:
            text = " ".join(rng.choice(words) for _ in range(rng.randint(6, 14)))
            if rng.randrange(500) == 0:
                text += " zebra"
            line = "%s\t%d\t%s\t%d" % (rng.choice(words), k, text,
                                       rng.randrange(100000))
            pad = 100 - len(line) - 1
            if pad > 0:
                line += "\t" + "x" * (pad - 1) if pad > 1 else "\t"
            buf.append(line)
            if len(buf) >= 10000:
                f.write("\n".join(buf) + "\n")
                buf = []
        if buf:
            f.write("\n".join(buf) + "\n")
    os.replace(tmp, path)


def make_lines(path, nlines):
    rng = random.Random(5)
    words = gen_words(rng, 500)
    with open(path, "w", newline="\n") as f:
        for i in range(nlines):
            f.write("%s %d %s\n" % (rng.choice(words), rng.randrange(1000000),
                                    " ".join(rng.choice(words) for _ in range(5))))


def make_dir(path, count):
    tmp = path + ".part"
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    exts = ["txt", "c", "h", "log", "md"]
    letters = "abcdefghijklmnopqrstuvwxyz"
    for i in range(count):
        name = "%s%04d.%s" % (letters[i % 26], i, exts[i % 5])
        open(os.path.join(tmp, name), "w").close()
    os.replace(tmp, path)


# ---------------------------------------------------------------- running


TIME = "/usr/bin/time"


def spawn(argv, cwd, env, stdin_path, stdout_path, stderr_path):
    """Runs argv, returns (wall seconds, cpu seconds, maxrss KiB, status).

    The peak memory comes from /usr/bin/time, which starts the command: the
    ru_maxrss of a process started straight from this harness would count
    the harness's own memory, which the child shares until it execs."""
    rssfile = stderr_path + ".rss"
    if os.path.exists(TIME):
        argv = [TIME, "-f", "%M", "-o", rssfile] + argv
    fin = os.open(stdin_path, os.O_RDONLY)
    fout = os.open(stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    ferr = os.open(stderr_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        fa = [(os.POSIX_SPAWN_DUP2, fin, 0), (os.POSIX_SPAWN_DUP2, fout, 1),
              (os.POSIX_SPAWN_DUP2, ferr, 2)]
        exe = which(argv[0]) or argv[0]
        old = os.getcwd()
        os.chdir(cwd)
        try:
            t0 = time.perf_counter()
            pid = os.posix_spawn(exe, argv, env, file_actions=fa)
            _, status, ru = os.wait4(pid, 0)
            t1 = time.perf_counter()
        finally:
            os.chdir(old)
    finally:
        os.close(fin)
        os.close(fout)
        os.close(ferr)
    rss = 0
    if os.path.exists(rssfile):
        with open(rssfile) as f:
            words = f.read().split()
        os.unlink(rssfile)
        if words and words[-1].isdigit():
            rss = int(words[-1])
        if words and words[0] == "Command":   # "Command exited with non-zero status N"
            status = status or 256
    return t1 - t0, ru.ru_utime + ru.ru_stime, rss, status


def spawn_repeat(argv, cwd, env, count, null):
    """Start-up: runs argv count times, without /usr/bin/time in between;
    returns the same as spawn for the whole series, without the memory."""
    exe = which(argv[0]) or argv[0]
    fa = []
    fd = os.open(null, os.O_RDWR)
    fa = [(os.POSIX_SPAWN_DUP2, fd, 0), (os.POSIX_SPAWN_DUP2, fd, 1),
          (os.POSIX_SPAWN_DUP2, fd, 2)]
    old = os.getcwd()
    os.chdir(cwd)
    cpu = 0.0
    bad = 0
    try:
        t0 = time.perf_counter()
        for _ in range(count):
            pid = os.posix_spawn(exe, argv, env, file_actions=fa)
            _, status, ru = os.wait4(pid, 0)
            cpu += ru.ru_utime + ru.ru_stime
            bad = bad or status
        t1 = time.perf_counter()
    finally:
        os.chdir(old)
        os.close(fd)
    return t1 - t0, cpu, 0, bad


def normalize(data, how):
    if how == "crlf":
        return data.replace(b"\r\n", b"\n")
    if how == "words":
        return b" ".join(data.split())
    return data


def digest(path, how):
    h = hashlib.sha256()
    if how == "exact":
        with open(path, "rb") as f:
            while True:
                b = f.read(1 << 20)
                if not b:
                    break
                h.update(b)
    else:
        with open(path, "rb") as f:
            h.update(normalize(f.read(), how))
    return h.hexdigest()


def head_of(path, how, n=300):
    with open(path, "rb") as f:
        data = f.read(4096)
    return normalize(data, how)[:n].decode("latin-1")


# ---------------------------------------------------------------- lines


class Line:
    def __init__(self, name, group, what, impls, norm="crlf", stdin=None,
                 cwd=None, repeat=0):
        self.name = name          # short name, the first column
        self.group = group        # 'shell' or 'tool'
        self.what = what          # one line for the table's legend
        self.impls = impls        # [(label, argv)], vek first
        self.norm = norm          # how outputs are compared
        self.stdin = stdin        # file on standard input
        self.cwd = cwd
        self.repeat = repeat      # >0: start-up, runs per measurement


def shell_lines(args, vek, shells, cache):
    q = args.quick
    sizes = {   # rounds: (--quick, default)
        "loop_arith": (100000, 500000),
        "func_calls": (5000, 25000),
        "param_expand": (40000, 200000),
        "case_dispatch": (100000, 500000),
        "test_brackets": (40000, 200000),
        "glob": (20, 100),
        "cmdsubst": (500, 2500),
        "pipe_builtin": (500, 2500),
        "pipe_filter": (300, 1500),
    }
    sizes = {k: v[0 if q else 1] for k, v in sizes.items()}
    legend = {
        "loop_arith": "while loop, [ ] and two $((...)) per round",
        "func_calls": "ten calls of a one-line function per round",
        "cmdsubst": "x=$(echo ...) per round",
        "pipe_builtin": "echo ... | read x per round",
        "pipe_filter": "echo ... | tr per round (tr: program in the peers)",
        "param_expand": "${x:-y} ${x+y} ${#x} and joins per round",
        "case_dispatch": "case with four branches per round",
        "test_brackets": "five [ ] tests per round",
        "read_lines": "while read a b c over a file of lines",
        "glob": "five patterns in a directory of 5000 names per round",
    }
    lines = []
    nread = args.nread
    lines_file = os.path.join(cache, "lines-%d.txt" % nread)
    globdir = os.path.join(cache, "names5000")
    for name in ["loop_arith", "func_calls", "param_expand", "case_dispatch",
                 "test_brackets", "read_lines", "glob", "cmdsubst",
                 "pipe_builtin", "pipe_filter"]:
        if name == "read_lines":
            arg = lines_file
            what = legend[name] + " (%d lines)" % nread
        else:
            arg = str(sizes[name])
            what = legend[name] + " (%s rounds)" % arg
        impls = [("vek", [vek, os.path.join(SCRIPTS, name + ".vek"), arg])]
        for label, argv in shells:
            impls.append((label, argv + [os.path.join(SCRIPTS, name + ".sh"), arg]))
        lines.append(Line(name, "shell", what, impls,
                          cwd=globdir if name == "glob" else None))
    n = 200 if q else 1000
    impls = [("vek", [vek, "-c", ":"])] + [(l, a + ["-c", ":"]) for l, a in shells]
    lines.append(Line("startup", "shell", "-c : started %d times" % n, impls,
                      repeat=n))
    return lines


def tool_lines(args, vek, data, have):
    """Tool lines: vek's builtins against the GNU tools, on the data file
    (on standard input where the tool reads it from there)."""
    def v(cmd):
        return [vek, "-c", cmd]
    L = []

    def add(name, what, vcmd, gnu, norm="exact", stdin=None):
        impls = [("vek", v(vcmd))]
        if have.get(gnu[0]):
            impls.append(("gnu", gnu))
        L.append(Line(name, "tool", what, impls, norm=norm, stdin=stdin))

    add("cat", "cat of the file", "cat %s" % data, ["cat", data])
    add("tr", "tr '[a-z]' '[A-Z]' on standard input", "tr '[a-z]' '[A-Z]'",
        ["tr", "[a-z]", "[A-Z]"], stdin=data)
    add("tr_d", "tr -d of the digits", "tr -d '[0-9]'", ["tr", "-d", "[0-9]"],
        stdin=data)
    add("cut_f", "cut -f2,4 (tab-separated)", "cut -f2,4 %s" % data,
        ["cut", "-f2,4", data])
    add("cut_c", "cut -c5-30", "cut -c5-30 %s" % data, ["cut", "-c5-30", data])
    add("wc", "wc (lines, words, bytes) of standard input", "wc", ["wc"],
        norm="words", stdin=data)
    add("wc_l", "wc -l of standard input", "wc -l", ["wc", "-l"], norm="words",
        stdin=data)
    add("tail", "the lines from the middle on (line -N- / tail -n +N)",
        "line -%d- %s" % (args.nlines // 2, data),
        ["tail", "-n", "+%d" % (args.nlines // 2), data])
    pipe = Line("pipe_big", "tool", "cat | wc -l on the file: a pipeline of two filters",
                [("vek", v("cat %s | wc -l" % data))], norm="words")
    if have.get("cat") and have.get("wc") and which("dash"):
        pipe.impls.append(("gnu", ["dash", "-c", "cat %s | wc -l" % data]))
    L.append(pipe)
    add("grep_fixed", "grep zebra (a word, 1 line in 500)", "grep zebra %s" % data,
        ["grep", "zebra", data])
    add("grep_regex", "grep 'ka[a-z]*zo[a-z]*du' (a regular expression)",
        "grep 'ka[a-z]*zo[a-z]*du' %s" % data, ["grep", "ka[a-z]*zo[a-z]*du", data])
    add("grep_many", "grep 'zo[a-z]*du ' (6 % of the lines match)",
        "grep 'zo[a-z]*du ' %s" % data, ["grep", "zo[a-z]*du ", data])
    add("grep_cv", "grep -cv ka (count of the lines without it)",
        "grep -cv ka %s" % data, ["grep", "-cv", "ka", data], norm="words")
    add("grep_ci", "grep -ci ZEBRA (ignoring case)", "grep -ci ZEBRA %s" % data,
        ["grep", "-ci", "ZEBRA", data], norm="words")
    add("sortl", "sortl -d (whole lines) / sort", "sortl -d %s" % data,
        ["sort", data])
    L[-1].impls.append(("gnu-1cpu", ["sort", "--parallel=1", data]))
    add("sortl_n", "sortl -f2n (numeric field 2) / sort -k2,2n",
        "sortl -f2n %s" % data, ["sort", "-k2,2n", data])
    L[-1].impls.append(("gnu-1cpu", ["sort", "--parallel=1", "-k2,2n", data]))
    return L


# ---------------------------------------------------------------- main


def fmt_t(t):
    if t >= 10:
        return "%.1f" % t
    if t >= 1:
        return "%.2f" % t
    return "%.3f" % t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vek", required=True)
    ap.add_argument("--quick", action="store_true",
                    help="smaller sizes and data file (a few minutes)")
    ap.add_argument("--runs", type=int, default=5, help="runs per measurement (>= 5)")
    ap.add_argument("--size", type=int, default=0,
                    help="size of the data file in MB (100; 10 with --quick)")
    ap.add_argument("--only", default="", help="comma-separated line names")
    ap.add_argument("--skip", default="", help="comma-separated line names")
    ap.add_argument("--out", default="", help="also write the table here")
    ap.add_argument("--cache", default=os.environ.get("VEK_BENCH_CACHE",
                                                      os.path.join(HERE, "cache")))
    args = ap.parse_args()
    args.runs = max(5, args.runs)
    if not args.size:
        args.size = 10 if args.quick else 100
    vek = os.path.abspath(args.vek)

    cache = os.path.abspath(args.cache)
    os.makedirs(cache, exist_ok=True)
    scratch = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else cache
    scratch = os.path.join(scratch, "vek-bench-%d" % os.getpid())
    os.makedirs(scratch, exist_ok=True)
    home = os.path.join(scratch, "home")
    os.makedirs(home, exist_ok=True)
    # vek's internal files go to an empty directory of the cache's file
    # system (not to a memory file system: that would flatter the pipelines
    # and the start-up, which create and write them). Outputs of the tools
    # go to `scratch`, in memory where the machine has /dev/shm.
    tmpdir = os.path.join(cache, "tmp")
    shutil.rmtree(tmpdir, ignore_errors=True)
    os.makedirs(tmpdir)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home,
           "LC_ALL": "C", "TMPDIR": tmpdir}

    shells = []
    skipped = []
    for label, argv in SHELLS:
        if which(argv[0]):
            shells.append((label, argv))
        else:
            skipped.append(label)
    have = {t: bool(which(t)) for t in ["cat", "tr", "cut", "wc", "tail", "grep", "sort"]}
    for t, ok in have.items():
        if not ok:
            skipped.append(t)
    if skipped:
        print("not installed, skipped: " + ", ".join(skipped))

    # data
    data = os.path.join(cache, "data-%dMB.txt" % args.size)
    if not os.path.exists(data):
        print("== generating %s" % data, flush=True)
        make_data(data, args.size)
    with open(data, "rb") as f:
        args.nlines = sum(b.count(b"\n") for b in iter(lambda: f.read(1 << 20), b""))
    nread = args.nread = 10000 if args.quick else 50000
    lines_file = os.path.join(cache, "lines-%d.txt" % nread)
    if not os.path.exists(lines_file):
        make_lines(lines_file, nread)
    globdir = os.path.join(cache, "names5000")
    if not os.path.isdir(globdir):
        make_dir(globdir, 5000)

    lines = shell_lines(args, vek, shells, cache) + tool_lines(args, vek, data, have)
    only = set(x for x in args.only.split(",") if x)
    skip = set(x for x in args.skip.split(",") if x)
    lines = [l for l in lines if (not only or l.name in only) and l.name not in skip]

    out = os.path.join(scratch, "out")
    err = os.path.join(scratch, "err")
    null = os.devnull
    results = []
    for line in lines:
        cwd = line.cwd or scratch
        stdin = line.stdin or null
        print("== %s: %s" % (line.name, line.what), flush=True)
        row = {"name": line.name, "group": line.group, "what": line.what, "impls": {}}
        # check: every implementation once, outputs compared
        ref = None
        ok = {}
        for label, argv in line.impls:
            if line.repeat:
                _, _, _, st = spawn(argv, cwd, env, stdin, out, err)
                ok[label] = st == 0 and os.path.getsize(out) == 0 and os.path.getsize(err) == 0
                if not ok[label]:
                    print("   %s: status %d or output from -c :" % (label, st))
                continue
            _, _, _, st = spawn(argv, cwd, env, stdin, out, err)
            d = digest(out, line.norm)
            errtext = open(err, "rb").read()
            good = st == 0 and not errtext
            if good and ref is None and label != "vek":
                ref = (label, d, head_of(out, line.norm))
            ok[label] = (good, d, head_of(out, line.norm), errtext, st)
        if not line.repeat:
            if ref is None:
                # no peer ran cleanly: vek's output is the only one
                ref = ("vek", ok["vek"][1], ok["vek"][2])
            for label in list(ok):
                good, d, head, errtext, st = ok[label]
                if not good:
                    print("   %s FAILED (status %d): %s" % (label, st, errtext[:300]))
                    ok[label] = False
                elif d != ref[1]:
                    print("   %s OUTPUT DIFFERS from %s:\n     %r\n     %r"
                          % (label, ref[0], head[:200], ref[2][:200]))
                    ok[label] = False
                else:
                    ok[label] = True
        # timing: runs interleaved so that a noisy phase hits all alike
        times = {l: [] for l, _ in line.impls if ok[l]}
        cpus = {l: [] for l in times}
        rss = {l: 0 for l in times}
        for r in range(args.runs):
            for label, argv in line.impls:
                if label not in times:
                    continue
                if line.repeat:
                    t, c, _, _ = spawn_repeat(argv, cwd, env, line.repeat, null)
                    _, _, m, _ = spawn(argv, cwd, env, stdin, out, err)
                else:
                    t, c, m, _ = spawn(argv, cwd, env, stdin, out, err)
                times[label].append(t)
                cpus[label].append(c)
                rss[label] = max(rss[label], m)
        for label in times:
            ts = times[label]
            row["impls"][label] = {
                "median": statistics.median(ts), "min": min(ts), "max": max(ts),
                "cpu": statistics.median(cpus[label]), "maxrss_kb": rss[label],
                "runs": ts}
        for label, _ in line.impls:
            if label not in times:
                row["impls"][label] = {"failed": True}
        results.append(row)
        print_row(row, line.impls)

    shutil.rmtree(scratch, ignore_errors=True)
    shutil.rmtree(tmpdir, ignore_errors=True)
    table = render(results, args)
    print()
    print(table)
    resdir = os.path.join(HERE, "results")
    os.makedirs(resdir, exist_ok=True)
    stamp = time.strftime("%Y%m%d-%H%M%S")
    with open(os.path.join(resdir, "%s%s.json" % (stamp, "-quick" if args.quick else "")), "w") as f:
        json.dump({"args": vars(args), "results": results}, f, indent=1)
    with open(os.path.join(resdir, "%s%s.md" % (stamp, "-quick" if args.quick else "")), "w") as f:
        f.write(table + "\n")
    if args.out:
        with open(args.out, "w") as f:
            f.write(table + "\n")


def print_row(row, impls):
    parts = []
    for label, _ in impls:
        r = row["impls"][label]
        if r.get("failed"):
            parts.append("%s failed" % label)
        else:
            parts.append("%s %s s (%s-%s) cpu %s %d KB" % (
                label, fmt_t(r["median"]), fmt_t(r["min"]), fmt_t(r["max"]),
                fmt_t(r["cpu"]), r["maxrss_kb"]))
    print("   " + "; ".join(parts), flush=True)


def render(results, args):
    """Markdown tables: the times of the shell lines, their ratios and
    peak memory, and the tool lines (vek against GNU). Ratios are taken
    on the median CPU time (user + system, the process and its children),
    which a busy machine disturbs much less than the wall-clock time; the
    wall-clock ratio to the fastest peer is shown beside it."""
    out = []
    shell_rows = [r for r in results if r["group"] == "shell"]
    tool_rows = [r for r in results if r["group"] == "tool"]

    def ok(r):
        return r and not r.get("failed")

    def cell(r):
        if not ok(r):
            return "failed"
        return "%s (%s–%s)" % (fmt_t(r["median"]), fmt_t(r["min"]), fmt_t(r["max"]))

    def ratio(a, b, key="cpu"):
        if not ok(a) or not ok(b) or b[key] <= 0:
            return "–"
        return "%.2f" % (a[key] / b[key])

    def kb(r):
        return str(r["maxrss_kb"]) if ok(r) else "–"

    if shell_rows:
        peers = []
        for r in shell_rows:
            for l in r["impls"]:
                if l != "vek" and l not in peers:
                    peers.append(l)
        out.append("Shell language, wall-clock seconds: median (min–max) of %d runs."
                   % args.runs)
        out.append("")
        hdr = ["line", "vek"] + peers
        out.append("| " + " | ".join(hdr) + " |")
        out.append("|" + "---|" * len(hdr))
        for r in shell_rows:
            im = r["impls"]
            out.append("| " + " | ".join([r["name"], cell(im.get("vek"))] +
                                         [cell(im.get(p)) for p in peers]) + " |")
        out.append("")
        out.append("Shell language, ratios vek / peer of the median CPU time; "
                   "peak memory in KB.")
        out.append("")
        hdr = ["line"] + ["vek/" + p for p in peers] + \
              ["vek/fastest", "(wall)", "vek KB"] + [p + " KB" for p in peers]
        out.append("| " + " | ".join(hdr) + " |")
        out.append("|" + "---|" * len(hdr))
        for r in shell_rows:
            im = r["impls"]
            v = im.get("vek")
            good = [im[p] for p in peers if ok(im.get(p))]
            fc = min(good, key=lambda x: x["cpu"]) if good else None
            fw = min(good, key=lambda x: x["median"]) if good else None
            cells = [r["name"]] + [ratio(v, im.get(p)) for p in peers] + \
                    [ratio(v, fc), ratio(v, fw, "median"), kb(v)] + \
                    [kb(im.get(p)) for p in peers]
            out.append("| " + " | ".join(cells) + " |")
        out.append("")
    if tool_rows:
        out.append("Builtin utilities on a %d MB file (%d lines), wall-clock seconds: "
                   "median (min–max) of %d runs; ratios of CPU time and of wall-clock time."
                   % (args.size, args.nlines, args.runs))
        out.append("")
        hdr = ["line", "vek", "GNU", "vek/GNU", "(wall)", "vek KB", "GNU KB"]
        out.append("| " + " | ".join(hdr) + " |")
        out.append("|" + "---|" * len(hdr))
        for r in tool_rows:
            im = r["impls"]
            v, g = im.get("vek"), im.get("gnu")
            out.append("| " + " | ".join([r["name"], cell(v), cell(g), ratio(v, g),
                                         ratio(v, g, "median"), kb(v), kb(g)]) + " |")
            if "gnu-1cpu" in im:
                g1 = im["gnu-1cpu"]
                out.append("| " + " | ".join([r["name"] + " (sort --parallel=1)", "", cell(g1),
                                             ratio(v, g1), ratio(v, g1, "median"), "",
                                             kb(g1)]) + " |")
        out.append("")
    out.append("Lines:")
    out.append("")
    for r in results:
        out.append("- `%s`: %s" % (r["name"], r["what"]))
    return "\n".join(out)


if __name__ == "__main__":
    main()
