#!/usr/bin/env python3
"""Time and peak memory of the stub on archives of many entries, beside 7z.

    bench/scale/run.py [--host VALKRIN_HOST] [--pack VALKRIN_PACK] [--work FOLDER]
                       [--counts 10000,100000] [--deep 10000] [--wine VALKRIN_EXE]

Archives, made once with valkrin-pack (-lh5-) and kept in the work folder:
  files-N  N small files (40 to 400 bytes of text) in two levels of folders,
           100 files to a folder;
  deep-N   N folders in chains nested as deep as the output path allows
           (259 bytes, counted from this run's destination), with one small
           file at the bottom of each chain.
For each archive it runs, in this order and each in a fresh destination (under
Wine only "ours, all"):
  ours, test   the test pass alone (the extract pass stops at its first file:
               the destination lies below a plain file);
  ours, all    both passes, everything written;
  7z t, 7z x   p7zip on the same archive.
With --wine, the packed files carry that stub (the windows build's valkrin.exe)
and "ours" is valkrin.exe itself under Wine (xvfb-run, a private prefix in the
work folder, code page 932); its time includes Wine's start, shown on its own
as "wine, start" (xvfb-run and Wine around the windows build's tiny console
program version-probe.exe, which prints its usage and ends).
Times are wall-clock seconds (best of REPEAT runs, default 1); peak memory is
the largest resident set of the process (GNU time). Prints a Markdown table.
The default programs are the host-release build's (cmake --preset
host-release && cmake --build --preset host-release --target valkrin-host
valkrin-pack).
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PATH_LIMIT = 259


def measure(argv):
    """Wall seconds, peak resident KiB and exit status of one process, by GNU time (a
    child forked from Python would count Python's own pages); the output is discarded
    (valkrin-host writes every line of its window to standard error)."""
    report = os.path.join(os.environ.get("TMPDIR", "/tmp"), "valkrin-bench-scale.time")
    with open(os.devnull, "w") as null:
        code = subprocess.call(["/usr/bin/time", "-o", report, "-f", "%e %M %x"] + argv,
                               stdin=subprocess.DEVNULL, stdout=null, stderr=null)
    with open(report) as f:
        fields = f.read().split()[-3:]
    return float(fields[0]), int(fields[1]), int(fields[2])


def text(size, seed):
    words = ["install ", "archive ", "folder ", "setup ", "\r\n", "version 2.1 "]
    out = []
    length = 0
    while length < size:
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        word = words[(seed >> 16) % len(words)]
        out.append(word)
        length += len(word)
    return "".join(out)[:size]


def make_files_tree(source, count):
    os.makedirs(source)
    for i in range(count):
        folder = os.path.join(source, "d%03d" % (i // 10000), "e%03d" % (i // 100 % 100))
        if i % 100 == 0:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%06d.txt" % i), "w") as out:
            out.write(text(40 + i * 7919 % 361, i))


def make_deep_tree(source, count, room):
    """`count` folders in chains of 4-byte components ("nnn/") that fit `room` bytes."""
    depth = max(1, (room - len("c0000/") - len("/x.txt")) // 4)
    os.makedirs(source)
    made = 0
    chain = 0
    while made < count:
        path = os.path.join(source, "c%04d" % chain)
        made += 1
        for level in range(min(depth, count - made)):
            path = os.path.join(path, "%03d" % level)
            made += 1
        os.makedirs(path)
        with open(os.path.join(path, "x.txt"), "w") as out:
            out.write(text(100, chain))
        chain += 1
    return depth


def pack(lzh_tool, pack_tool, lzh, exe, destination, source, stub=None):
    """The plain archive with valkrin-lzh, then the packed file around it; the entry count."""
    names = sorted(os.listdir(source))
    subprocess.run([lzh_tool, "-m", "lh5", "-o", lzh] + names, cwd=source, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([pack_tool, "-o", exe, "--no-confirm", "--folder", destination, "--archive", lzh]
                   + (["--stub", stub] if stub else []), check=True, stdout=subprocess.DEVNULL)
    return sum(len(dirs) + len(files) for _, dirs, files in os.walk(source))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Wine:
    """valkrin.exe under Wine: a private prefix, Xvfb per run, code page 932."""

    def __init__(self, work):
        self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEARCH="win32",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="ja_JP.UTF-8")
        if not os.path.exists(os.path.join(self.env["WINEPREFIX"], "system.reg")):
            subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True)
        # A persistent server, so that no run pays for starting one.
        subprocess.run(["wineserver", "-p"], env=self.env)  # 2: one runs already
        os.environ.update(self.env)

    def argv(self, exe, destination=None):
        command = ["xvfb-run", "-a", "wine", exe]
        return command + (["-n", windows_path(destination)] if destination else [])


def best(repeat, run):
    results = [run() for _ in range(repeat)]
    return min(results, key=lambda r: r[0])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default=os.path.join(ROOT, "build/host-release/valkrin-host"))
    parser.add_argument("--pack", default=os.path.join(ROOT, "build/host-release/tools/valkrin-pack"))
    parser.add_argument("--lzh", default=os.path.join(ROOT, "build/host-release/tools/lzh/valkrin-lzh"))
    parser.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "valkrin-bench-scale"))
    parser.add_argument("--counts", default="10000,100000")
    parser.add_argument("--deep", default="10000")
    parser.add_argument("--wine", help="run this valkrin.exe under Wine instead of valkrin-host")
    args = parser.parse_args()
    repeat = int(os.environ.get("REPEAT", "1"))
    for program in (args.host, args.pack, args.lzh):
        if not os.access(program, os.X_OK):
            sys.exit("no %s (build the host-release preset)" % program)
    if shutil.which("7z") is None or not os.access("/usr/bin/time", os.X_OK):
        sys.exit("7z and GNU time (packages p7zip-full, time) are needed")
    os.makedirs(args.work, exist_ok=True)
    work = os.path.realpath(args.work)
    out = os.path.join(work, "out")  # every destination, emptied before each run
    blocked = os.path.join(work, "blocked")  # a plain file: nothing can be created below it
    open(blocked, "w").close()

    wine = Wine(work) if args.wine else None
    # The destination of every run; Wine sees it through drive Z:.
    stub = os.path.realpath(args.wine) if args.wine else None
    suffix = "-wine" if wine else ""

    archives = []
    for count in [int(c) for c in args.counts.split(",") if c]:
        archives.append(("files-%d" % count, count, lambda s, c=count: make_files_tree(s, c)))
    for count in [int(c) for c in args.deep.split(",") if c]:
        room = PATH_LIMIT - len(out) - 1
        archives.append(("deep-%d" % count, count, lambda s, c=count, r=room: make_deep_tree(s, c, r)))

    print("| archive | entries | run | seconds | entries/s | peak MiB | exit |")
    print("|---|---:|---|---:|---:|---:|---:|")
    if wine:
        probe = os.path.join(os.path.dirname(stub), "version-probe.exe")
        seconds, peak, code = best(repeat, lambda: measure(["xvfb-run", "-a", "wine", probe]))
        print("| - | 0 | wine, start | %.2f | - | %.1f | %d |" % (seconds, peak / 1024.0, code), flush=True)
    for name, count, make in archives:
        exe = os.path.join(work, name + suffix + ".exe")
        lzh = os.path.join(work, name + ".lzh")
        counted = os.path.join(work, name + ".entries")
        if os.path.exists(counted) and not os.path.exists(exe):
            subprocess.run([args.pack, "-o", exe, "--no-confirm", "--folder", out, "--archive", lzh]
                           + (["--stub", stub] if stub else []), check=True, stdout=subprocess.DEVNULL)
        if not os.path.exists(counted):
            source = os.path.join(work, name + ".src")
            shutil.rmtree(source, ignore_errors=True)
            make(source)
            entries = pack(args.lzh, args.pack, lzh, exe, out, source, stub)
            shutil.rmtree(source)
            with open(counted, "w") as f:
                f.write("%d\n" % entries)
        with open(counted) as f:
            entries = int(f.read())
        if wine:
            # Under Wine the test pass alone cannot be had this way: the
            # blocked destination ends in a box that waits for the user.
            runs = [("ours, all", wine.argv(exe, out))]
        else:
            runs = [
                ("ours, test", [args.host, exe, "-n", os.path.join(blocked, "out")]),
                ("ours, all", [args.host, exe, "-n", out]),
            ]
        runs += [("7z t", ["7z", "t", lzh]), ("7z x", ["7z", "x", "-y", "-o" + out, lzh])]
        for label, argv in runs:
            def once():
                shutil.rmtree(out, ignore_errors=True)
                return measure(argv)
            seconds, peak, code = best(repeat, once)
            print("| %s | %d | %s | %.2f | %.0f | %.1f | %d |"
                  % (name, entries, label, seconds, entries / seconds, peak / 1024.0, code), flush=True)
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
