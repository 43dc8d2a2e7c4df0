#!/usr/bin/env python3
"""Interactive tests: runs vek in a real terminal (tmux), types keys and
compares the screen.

Each scenario is a list of steps: ("keys", ...) sends keys to the pane,
("expect", text) waits until the screen (trailing blanks removed, empty
lines at the end dropped) contains the text, ("screen", lines) waits for
the exact screen.  Ends with the line "N passed, N failed".
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

VEK = None
TIMEOUT = 5.0
LINGERED = 0


SOCKET = "vektest"


def tmux(*args, check=True):
    return subprocess.run(["tmux", "-L", SOCKET, *args], check=check,
                          capture_output=True, text=True)


def screen(name):
    out = tmux("capture-pane", "-p", "-t", name, check=False).stdout
    lines = [line.rstrip() for line in out.split("\n")]
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines)


def normalise(text):
    return "\n".join(line.rstrip() for line in text.split("\n"))


def vek_processes(root):
    """The vek processes below process root (the pane's shell)."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append((int(entry), comm))
    found, todo = [], [root]
    while todo:
        for pid, comm in children.get(todo.pop(), []):
            todo.append(pid)
            if comm == "vek":
                found.append(pid)
    return found


def ended(pids, seconds):
    """Waits until the processes are gone; kills the ones left."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        pids = [p for p in pids if os.path.exists("/proc/%d" % p) and
                not open("/proc/%d/stat" % p).read().split(") ")[1].startswith("Z")]
        if not pids:
            return True
        time.sleep(0.05)
    for p in pids:
        try:
            os.kill(p, 9)
        except OSError:
            pass
    return False


def run_scenario(name, args, steps, home, files=None):
    global SOCKET, LINGERED
    for fname, content in (files or {}).items():
        if content is None:  # a directory in the file's place
            os.mkdir(os.path.join(home, fname))
            continue
        if isinstance(content, tuple):  # ("link", target)
            os.symlink(content[1], os.path.join(home, fname))
            continue
        with open(os.path.join(home, fname), "wb") as f:
            f.write(content.encode("latin-1") if isinstance(content, str) else content)
    SOCKET = "vektest-%d-%s" % (os.getpid(), name)
    env = ["env", "-i", "HOME=" + home, "PATH=/usr/bin:/bin",
           "TMPDIR=" + home, "TERM=xterm", "LANG=C",
           # The leak check at exit stops the process with a helper task
           # that the terminal's hangup kills: the sanitizer build would
           # then wait for it without end.
           "ASAN_OPTIONS=detect_leaks=0"]
    # Leading NAME=value arguments are settings of the environment.
    while args and "=" in args[0] and not args[0].startswith("-"):
        env.append(args[0])
        args = args[1:]
    if args[:1] == ["@dash"]:
        # A job-control shell runs vek, typed as {VEK} in the keys.
        cmd = "cd %s && " % home + " ".join(env + ["PS1='sh$ '", "dash", "-i"])
    else:
        cmd = "cd %s && " % home + " ".join(env + [VEK] + args)
    tmux("new-session", "-d", "-s", name, "-x", "100", "-y", "30", cmd + "; sleep 30")
    pane = int(tmux("display", "-p", "-t", name, "#{pane_pid}").stdout)
    killed = False
    try:
        for kind, value in steps:
            if kind == "keys":
                tmux("send-keys", "-t", name, *[k.replace("{VEK}", VEK) for k in value])
                continue
            if kind == "signal":
                for pid in vek_processes(pane):
                    os.kill(pid, getattr(signal, "SIG" + value))
                continue
            if kind == "file":
                # (name, expected bytes at its start, expected size)
                fname, start, size = value
                deadline = time.time() + TIMEOUT
                while True:
                    try:
                        with open(os.path.join(home, fname), "rb") as f:
                            data = f.read()
                    except OSError:
                        data = b""
                    if data.startswith(start) and len(data) == size:
                        break
                    if time.time() > deadline:
                        return "file %s: %d bytes, starting %r" % (fname, len(data), data[:40])
                    time.sleep(0.05)
                continue
            if kind == "resize":
                tmux("resize-window", "-t", name, "-x", str(value), check=False)
                continue
            if kind == "pause":
                time.sleep(value)
                continue
            if kind == "hangup":
                # The terminal goes away: vek must end, through its
                # clean-up (no internal file left), and not linger.
                pids = vek_processes(pane)
                tmux("kill-server", check=False)
                killed = True
                if not pids:
                    return "no vek process to hang up"
                if not ended(pids, TIMEOUT):
                    return "vek still runs after its terminal went away"
                left = [f for f in os.listdir(home) if f.startswith("vek_tmpf")]
                if left:
                    return "internal files left behind: %s" % left
                continue
            deadline = time.time() + TIMEOUT
            while True:
                if kind == "coloured":
                    # The screen with the terminal's colour sequences.
                    text = tmux("capture-pane", "-p", "-e", "-t", name, check=False).stdout
                else:
                    text = screen(name)
                want = normalise(value)
                ok = want in text if kind in ("expect", "coloured") else text == want
                if ok:
                    break
                if time.time() > deadline:
                    return "waiting for %s %r\n--- screen ---\n%s" % (kind, value, text)
                time.sleep(0.05)
        return None
    finally:
        if not killed:
            pids = vek_processes(pane)
            tmux("kill-server", check=False)
            if not ended(pids, TIMEOUT):
                print("FAIL %s: vek still ran after its terminal went away" % name)
                LINGERED += 1


SCENARIOS = [
    # The terminal going away ends vek wherever it is (the signal line and
    # any message about it cannot be written any more).
    # On a UTF-8 terminal the messages' umlauts read as such; a file gets
    # the code page 850 bytes, and a UTF-8 name in a message stays as typed.
    ("messages on a UTF-8 terminal", ["LANG=C.UTF-8", "-p"], [
        ("expect", "1#  "),
        ("keys", ["autor; cat nosuch; expr a : '%('", "Enter"]),
        ("expect", "vek - ein Kommandointerpreter f\u00fcr die Konsole. Autoren: das vek-Team.\n"
                   "cat: \u00d6ffnen fehlgeschlagen: 'nosuch'\n"
                   "expr: Fehlerhafter Regul\u00e4rer Ausdruck.\n"),
        ("keys", ["<d\u00e4t", "Enter"]),
        ("expect", "vek: \u00d6ffnen fehlgeschlagen bei Datei: 'd\u00e4t'\n"),
        ("keys", ["autor >f; ((`fsize f` == 71)) && echo bytes-as-before", "Enter"]),
        ("expect", "bytes-as-before"),
    ]),
    # Stopped while a line is edited, vek gives the terminal back in line
    # mode; continued, it shows the line again and editing goes on.
    ("suspend and resume during an edit", ["@dash"], [
        ("expect", "sh$ "),
        ("keys", ["{VEK} -p", "Enter"]),
        ("expect", "1#  "),
        ("keys", ["echo half"]),
        ("expect", "1#  echo half"),
        ("signal", "TSTP"),
        ("expect", "Stopped"),
        ("keys", ["stty -a | grep -q -- -icanon || echo line\"\"-mode", "Enter"]),
        ("expect", "line-mode"),
        ("keys", ["fg", "Enter"]),
        ("expect", "-p\necho half"),
        ("keys", [" more", "Enter"]),
        ("expect", "half more\n2#  "),
        ("keys", ["exit", "Enter"]),
        ("expect", "line-mode\nsh$ fg"),
    ]),
    # Reading the terminal: the terminal's own line mode (with its echo)
    # serves read, line and catv.
    ("read, line, catv and test -t at the terminal", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["read 'n?Name: '; echo got=$n", "Enter"]),
        ("expect", "Name: "),
        ("keys", ["Otto", "Enter"]),
        ("expect", "Name: Otto\ngot=Otto\n"),
        ("keys", ["test -t 0 && test -t 1 && echo b\"\"oth; test -t 1 >f || echo not\"\"-f", "Enter"]),
        ("expect", "both\nnot-f\n"),
        ("keys", ["line; echo st=$?", "Enter"]),
        ("keys", ["a line", "Enter"]),
        ("expect", "a line\na line\nst=0\n"),
        # catv takes one line from a terminal.
        ("keys", ["catv 0 =v; catv '/[' v '/]%j'", "Enter"]),
        ("keys", ["l1", "Enter"]),
        ("expect", "l1\n[l1\n]\n"),
    ]),
    ("exec from an edited line gives the program the terminal in line mode", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["exec /bin/sh -c 'stty -a | grep -q -- -icanon || echo line\"\"-mode'", "Enter"]),
        ("expect", "line-mode"),
    ]),
    # Colours stay after \e[0m, which only ends bold and reverse.
    ("colours on the terminal", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["print '%e[1;31mred%e[0m plain %e[42mgreen%e[0m'", "Enter"]),
        ("coloured", "\x1b[91m\x1b[40mred\x1b[31m plain \x1b[42mgreen"),
    ]),
    # The history works on in memory when its file cannot be opened, and
    # a file with earlier content only grows.
    ("history without its file", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo one", "Enter"]),
        ("expect", "one\n2#  "),
        ("keys", ["Up", "Enter"]),
        ("expect", "2#  echo one\none\n3#  "),
    ], {"vek_hist.txt": None}),
    ("history appended to a file with other content", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo one", "Enter"]),
        ("expect", "one\n2#  "),
        ("keys", ["exit", "Enter"]),
        # Two records (the second is "exit") after the 6 bytes found.
        ("file", ("vek_hist.txt", b"\xff\x00junkecho one\n", 6 + 2 * 240)),
    ], {"vek_hist.txt": b"\xff\x00junk"}),
    # A full disk (the history file is the full device): the session's
    # history works on.
    ("history on a full disk", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo one", "Enter"]),
        ("expect", "one\n2#  "),
        ("keys", ["Up", "Enter"]),
        ("expect", "2#  echo one\none\n3#  "),
    ], {"vek_hist.txt": ("link", "/dev/full")}),
    # The window made narrower in the middle of an edit: the line is
    # still the one typed.
    ("a window resized while a line is edited", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo abc"]),
        ("expect", "1#  echo abc"),
        ("resize", 30),
        ("pause", 0.3),
        ("keys", ["def", "Enter"]),
        ("expect", "abcdef\n"),
        ("keys", ["echo 0123456789012345678901234567890123456789x", "Enter"]),
        ("expect", "0123456789x\n"),
    ]),
    ("a hangup during an edit ends vek", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo half"]),
        ("expect", "1#  echo half"),
        ("hangup", None),
    ]),
    ("a hangup ends vek also with option I", ["-p", "-I"], [
        ("expect", "1#  "),
        ("hangup", None),
    ]),
    ("a hangup ends vek without the editor", ["-p", "+E"], [
        ("expect", "1#  "),
        ("hangup", None),
    ]),
    ("a hangup during a loop ends vek", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["while true; do :; done", "Enter"]),
        ("pause", 0.5),
        ("hangup", None),
    ]),
    ("prompts count commands, PS2 continues", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo hello", "Enter"]),
        ("expect", "hello\n2#  "),
        ("keys", ["", "Enter"]),
        ("expect", "hello\n2#\n2#  "),
        ("keys", ['echo "a', "Enter"]),
        ("expect", "2>  "),
        ("keys", ['b"', "Enter"]),
        ("expect", "3#  "),
    ]),
    ("an error returns to the prompt", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["nosuch; echo never", "Enter"]),
        ("expect", "vek: Kommando nicht gefunden: 'nosuch'\n1#  "),
        ("keys", ["fi", "Enter"]),
        ("expect", "vek: Syntaxfehler: 'Beginn der Syntax-Einheit fehlt'\n2#  "),
        ("keys", ["echo $?", "Enter"]),
        ("expect", "\n18\n"),
    ]),
    ("nesting past the limit returns to the prompt", ["-p", "+E"], [
        ("expect", "1#  "),
        ("keys", ["echo " + "${x-" * 300 + "y" + "}" * 300, "Enter"]),
        ("expect", "vek: Stack-Limit (Verschachtelung/Rekursion?!).\n"),
        ("keys", ["echo still $?", "Enter"]),
        ("expect", "still 29\n"),
    ]),
    ("PS1 is a command", ["-p"], [
        ("expect", "1#  "),
        ("keys", ['PS1="print -nu2 MINE:"', "Enter"]),
        ("expect", "MINE:"),
    ]),
    ("a failing prompt falls back to the default", ["-p"], [
        ("expect", "1#  "),
        ("keys", ['PS1="print a.b>c"', "Enter"]),
        ("expect", "vek: Syntaxfehler: '..?.<>'\n2#  "),
        ("keys", ['PS1="print -nu2 OK:"', "Enter"]),
        ("expect", "OK:"),
    ]),
    ("end of input with -I", ["-p", "-I"], [
        ("expect", "1#  "),
        ("keys", ["C-d"]),
        ("expect", "Benutze  exit\n1#  "),
        ("keys", ["exit 3", "Enter"]),
        ("expect", "[exited]"),
    ]),
    ("interrupt at the prompt", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["C-c"]),
        ("expect", "*** SIGNAL ***  2  Interrupt\n1#  "),
        ("keys", ["echo alive", "Enter"]),
        ("expect", "alive"),
    ]),
    ("-i ignores a command string", ["-p", "-i", "-c", "'echo from-string'"], [
        ("expect", "1#  "),
        ("keys", ["echo typed", "Enter"]),
        ("expect", "typed\n2#  "),
    ]),
    ("a prompt of 2040 characters or more is refused", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["x=0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789", "Enter"]),
        ("keys", ['PS1=$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x$x', "Enter"]),
        ("expect", "vek: Prompt zu lang\n3#  "),
    ]),
    ("a command string is not interactive on a console", ["-p", "-c", "'echo $-'"], [
        ("screen", "Scp"),
    ]),
    ("-v echoes a script on the console as it is read", ["-p", "-v", "s.vek"], [
        ("expect", "echo first\necho second\nfirst\nsecond"),
    ], {"s.vek": "echo first\necho second\n"}),
    ("standard input not a console with -i", ["-p", "-i", "</dev/null"], [
        ("expect", "-i: input not_a_tty"),
    ]),
    ("a loop typed over several lines runs once it is complete", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["for i in a b", "Enter"]),
        ("expect", "1>  "),
        ("keys", ["do echo item $i", "Enter"]),
        ("keys", ["done", "Enter"]),
        ("screen", "1#  for i in a b\n1>  do echo item $i\n1>  done\nitem a\nitem b\n2#"),
    ]),
    ("a loop typed over several lines goes into a pipe", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["for i in b a", "Enter"]),
        ("expect", "1>  "),
        ("keys", ["do echo $i", "Enter"]),
        ("expect", "1>  "),
        ("keys", ["done | sortl", "Enter"]),
        ("screen", "1#  for i in b a\n1>  do echo $i\n1>  done | sortl\na\nb\n2#"),
    ]),
    ("an error in a loop returns to the prompt; return there is ignored", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["while true; do nosuch; done", "Enter"]),
        ("expect", "vek: Kommando nicht gefunden: 'nosuch'\n1#  "),
        ("keys", ["return 3; echo still here $?", "Enter"]),
        ("expect", "still here 23\n3#  "),
        ("keys", ["f() {", "Enter"]),
        ("keys", ["echo in f", "Enter"]),
        ("keys", ["}", "Enter"]),
        ("keys", ["f", "Enter"]),
        ("expect", "in f\n5#  "),
    ]),
    ("an unclosed construct at the prompt", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["if true; then echo x; done", "Enter"]),
        ("expect", "vek: Syntaxfehler: 'vermisse fi'\n1#  "),
        ("keys", ["echo alive", "Enter"]),
        ("expect", "alive\n2#  "),
    ]),
    ("prompt runs a nested session until end of input", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["prompt; echo back $:", "Enter"]),
        ("expect", "0#  "),
        ("keys", ["echo nested", "Enter"]),
        ("expect", "nested\n1#  "),
        ("keys", ["C-d"]),
        ("expect", "back 2\n3#  "),
    ]),
    ("exit under option P needs -P and at most one operand", ["-p", "-P"], [
        ("expect", "1#  "),
        ("keys", ["trap 'echo bye' 0", "Enter"]),
        ("keys", ["exit 2", "Enter"]),
        ("expect", "Benutze  exit -P [n]\n2#  "),
        ("keys", ["exit -P 1 2", "Enter"]),
        ("expect", "Benutze  exit -P [n]\n2#  "),
        ("keys", ["exit -P 3", "Enter"]),
        ("expect", "bye"),
    ]),
    ("an abandoned command's redirections are undone", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo lost >f 2>g <nosuchfile", "Enter"]),
        # (the error message itself went to g, standard error then)
        ("expect", "vek: Umlenkungsr"),
        ("expect", "\n1#  "),
        ("keys", ["echo back; /bin/cat g", "Enter"]),
        ("expect", "back\nvek: "),
        ("expect", "ffnen fehlgeschlagen bei Datei: 'nosuchfile'\n"),
    ]),
    ("a foreground program gets the interrupt", ["-p"], [
        ("expect", "1#  "),
        # The interrupt is sent once the program runs: sent while the
        # editor still has keys to read, it would be read as a key.  (The
        # quotes keep the typed line from matching the expected text.)
        ("keys", ["/bin/sh -c 'echo st\"\"arted; exec /bin/sleep 5'", "Enter"]),
        ("expect", "started"),
        ("keys", ["C-c"]),
        ("expect", "2#  "),
        ("keys", ["echo status $?", "Enter"]),
        ("expect", "status 130\n3#  "),
    ]),
    ("background ids are shown in an interactive session", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["/bin/true &", "Enter"]),
        ("keys", ["wait; echo waited", "Enter"]),
        ("expect", "waited"),
    ]),
    ("crc leaves out the line ends of typed lines; sortl does not read the console",
     ["-p", "-c", "'crc; sortl; echo done $?'"], [
        ("keys", ["abc", "Enter"]),
        ("keys", ["C-d"]),
        ("expect", "abc\n2088143208\ndone 0"),
    ]),
    ("expr ends results with CR LF on the console; grep does not read it", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["expr abcdef : cd; expr a-b : - +; expr abc :: b; grep x; echo rc=$?", "Enter"]),
        ("expect", "\n2\na+b\nrc=1\n"),
    ]),
    ("the line editor: insert, overwrite, Backspace cuts, Home", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo abd", "Left", "IC", "c", "Enter"]),
        ("expect", "abcd\n2#  "),
        ("keys", ["echo 12345", "Left", "Left", "BSpace", "Enter"]),
        ("expect", "12\n3#  "),
        ("keys", ["Xcho hi", "Home", "e", "Enter"]),
        ("expect", "hi\n4#  "),
        ("keys", ["echo gone", "Escape"]),
        ("keys", ["echo kept", "Enter"]),
        ("expect", "kept\n5#  "),
    ]),
    ("history: browsing, duplicates, searches, the file of this run", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo one", "Enter", "echo two", "Enter", "echo one", "Enter"]),
        ("expect", "4#  "),
        ("keys", ["Up", "Up", "Enter"]),
        ("expect", "two\n5#  "),
        ("keys", [",echo o", "Enter"]),
        ("expect", "5#  echo one"),
        ("keys", ["Enter"]),
        ("expect", "one\n6#  "),
        ("keys", ["?w", "Enter", "Enter"]),
        ("expect", "two\n7#  "),
        ("keys", ["?nothing", "Enter", "echo none", "Enter"]),
        ("expect", "none\n8#  "),
        # two entries were already in the file from an earlier run
        ("keys", ["wc -c vek_hist.txt", "Enter"]),
        ("expect", "1440"),
    ], {"vek_hist.txt": ("old" + " " * 236 + "\n") * 2}),
    ("an F-key macro types its text", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["cat m.txt", "Enter"]),
        ("expect", "2#  "),
        ("keys", ["F5"]),
        ("expect", "macro\n3#  "),
    ], {"m.txt": '\x1b["F5";"echo macro\n"p'}),
    ("Ctrl-C discards the line being edited", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo partial", "C-c"]),
        ("expect", "*** SIGNAL ***  2  Interrupt\n1#  "),
        ("keys", ["echo alive", "Enter"]),
        ("expect", "alive\n2#  "),
    ]),
    ("clearing the screen and switching screens", ["-p"], [
        ("expect", "1#  "),
        ("keys", ["echo before", "Enter", "cat cls.txt", "Enter", "echo after", "Enter"]),
        ("screen", "3#  echo after\nafter\n4#"),
        ("keys", ["cat s2.txt", "Enter", "echo on two", "Enter"]),
        ("screen", "5#  echo on two\non two\n6#"),
        ("keys", ["cat s1.txt", "Enter"]),
        ("expect", "3#  echo after\nafter\n4#  cat s2.txt"),
    ], {"cls.txt": "\x1b[2J", "s2.txt": "\x1b[2z", "s1.txt": "\x1b[1z"}),
    ("echo switched off by a sequence is back after exit", ["-p", ";", "stty", "-a"], [
        ("expect", "1#  "),
        ("keys", ["cat c.txt", "Enter"]),
        ("expect", "2#  "),
        ("keys", ["exit", "Enter"]),
        ("expect", "isig icanon iexten echo "),
    ], {"c.txt": "\x1b[8m"}),
    ("the terminal is back in line mode after SIGTERM in an edit", ["-p", ";", "stty", "-a"], [
        ("expect", "1#  "),
        ("keys", ["/bin/sh -c 'sleep 0.3; kill -TERM $PPID' &", "Enter"]),
        ("expect", "isig icanon iexten echo "),
    ]),

]


def main():
    global VEK
    if len(sys.argv) < 3 or sys.argv[1] != "--vek":
        print("usage: run_tty.py --vek PATH", file=sys.stderr)
        return 2
    VEK = os.path.abspath(sys.argv[2])
    if shutil.which("tmux") is None:
        print("tmux is not installed")
        print("0 passed, 1 failed")
        return 1
    passed = failed = 0
    for i, scenario in enumerate(SCENARIOS):
        name, args, steps = scenario[:3]
        files = scenario[3] if len(scenario) > 3 else None
        home = tempfile.mkdtemp(prefix="vek-tty-")
        steps = [(k, v) if k in ("keys", "pause", "hangup", "signal", "file", "resize") else (k, v.replace("[exited]", "")) for k, v in steps]
        try:
            err = run_scenario("s%d" % i, args, steps, home, files)
        finally:
            shutil.rmtree(home, ignore_errors=True)
        if err:
            failed += 1
            print("FAIL %s: %s" % (name, err))
        else:
            passed += 1
    failed += LINGERED
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
