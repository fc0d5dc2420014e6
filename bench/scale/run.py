#!/usr/bin/env python3
"""Time and peak memory of the stub on archives of many entries, beside 7z.

    bench/scale/run.py [--host VALKRIN_HOST] [--pack VALKRIN_PACK] [--work FOLDER]
                       [--counts 10000,100000] [--deep 10000]

Archives, made once with valkrin-pack (-lh5-) and kept in the work folder:
  files-N  N small files (40 to 400 bytes of text) in two levels of folders,
           100 files to a folder;
  deep-N   N folders in chains nested as deep as the output path allows
           (259 bytes, counted from this run's destination), with one small
           file at the bottom of each chain.
For each archive it runs, in this order and each in a fresh destination:
  ours, test   the test pass alone (the extract pass stops at its first file:
               the destination lies below a plain file);
  ours, all    both passes, everything written;
  7z t, 7z x   p7zip on the same archive.
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


def pack(lzh_tool, pack_tool, lzh, exe, destination, source):
    """The plain archive with valkrin-lzh, then the packed file around it; the entry count."""
    names = sorted(os.listdir(source))
    subprocess.run([lzh_tool, "-m", "lh5", "-o", lzh] + names, cwd=source, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([pack_tool, "-o", exe, "--no-confirm", "--folder", destination, "--archive", lzh],
                   check=True, stdout=subprocess.DEVNULL)
    return sum(len(dirs) + len(files) for _, dirs, files in os.walk(source))


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

    archives = []
    for count in [int(c) for c in args.counts.split(",") if c]:
        archives.append(("files-%d" % count, count, lambda s, c=count: make_files_tree(s, c)))
    for count in [int(c) for c in args.deep.split(",") if c]:
        room = PATH_LIMIT - len(out) - 1
        archives.append(("deep-%d" % count, count, lambda s, c=count, r=room: make_deep_tree(s, c, r)))

    print("| archive | entries | run | seconds | entries/s | peak MiB | exit |")
    print("|---|---:|---|---:|---:|---:|---:|")
    for name, count, make in archives:
        exe = os.path.join(work, name + ".exe")
        lzh = os.path.join(work, name + ".lzh")
        counted = os.path.join(work, name + ".entries")
        if not os.path.exists(counted):
            source = os.path.join(work, name + ".src")
            shutil.rmtree(source, ignore_errors=True)
            make(source)
            entries = pack(args.lzh, args.pack, lzh, exe, out, source)
            shutil.rmtree(source)
            with open(counted, "w") as f:
                f.write("%d\n" % entries)
        with open(counted) as f:
            entries = int(f.read())
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
