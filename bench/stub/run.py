#!/usr/bin/env python3
"""The stub's decoder and valkrin.exe under Wine, beside the host build, 7z and lhasa.

Corpora as in bench/decode_bench.py (text-like and binary-like), packed by jlha as -lh5-, -lh7-
and stored (-lh0-), level-2 headers. In one run, taking turns within every round, best of N:

  decoder (MB/s of decoded bytes, 1 MB = 10^6 bytes)
    --driver LABEL=EXE   valkrin-decode-bench.exe (the stub's decoder sources built with the
                         stub's compiler and flags by the windows preset, memory to memory)
                         under Wine: the time it measures itself, best of 3 passes a process
    --host LABEL=BIN     valkrin-decode-bench of the host-release build (file to /dev/null),
                         its own measure likewise
    7z t, lhasa t        whole processes (they decode and check the CRCs, writing nothing)
  whole programs (seconds)
    --stub LABEL=EXE     valkrin.exe packed by --pack (valkrin-pack --archive, folder mode,
                         --no-confirm) around the same jlha archive and run as `wine setup.exe`
                         (the test pass reads the headers, the extract pass decodes and writes
                         to disk, with the progress window), less Wine's start-up: the quickest
                         run in the whole run of the same stub around a one-byte file
    7z x                 extraction of the same archive to the same disk (the work folder)
Before every whole-program run the last one's output is removed and the disk synced.

Every Wine program runs on one display (the script runs itself under `xvfb-run -a` when no
DISPLAY is set) and one wineserver kept alive for the whole run, in a private prefix under
--work (made on the first run) whose windows are not managed: with no window manager on the
display, Wine would otherwise wait 2 s for the progress window to be withdrawn.

usage: bench/stub/run.py --pack VALKRIN-PACK [--driver L=EXE]... [--host L=BIN]... [--stub L=EXE]...
                         [--size MIB] [--rounds N] [--work DIR] [--log FILE]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from decode_bench import binary_like, text_like  # noqa: E402

WINE = shutil.which('wine') or '/usr/lib/wine/wine'


def labelled(values):
    pairs = []
    for value in values:
        label, _, path = value.partition('=')
        if not path:
            sys.exit('expected LABEL=PATH, got %s' % value)
        pairs.append((label, os.path.abspath(path)))
    return pairs


def wall(command, cwd=None, expect=(0,)):
    """Seconds of one whole process; output goes to the null device, never to a pipe (a
    wineserver that a Wine program starts would hold a pipe open)."""
    start = time.perf_counter()
    code = subprocess.call(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if code not in expect:
        raise RuntimeError('%s exited %d' % (' '.join(command), code))
    return elapsed


def own_measure(command, work):
    """Seconds that a bench driver prints for its best round ("N bytes S s R MB/s")."""
    out_path = os.path.join(work, 'driver.out')
    with open(out_path, 'w') as out:
        code = subprocess.call(command, stdout=out, stderr=subprocess.DEVNULL)
    text = open(out_path).read().split()
    if code != 0 or len(text) < 3:
        raise RuntimeError('%s exited %d: %s' % (' '.join(command), code, ' '.join(text)))
    return float(text[2])


def clear(folder):
    """Removes the output of the last run and writes everything back to the disk first, so that
    no program pays for the writes of the one before it."""
    shutil.rmtree(folder, ignore_errors=True)
    os.sync()


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--pack', required=True, help='valkrin-pack of the host build')
    parser.add_argument('--driver', action='append', default=[])
    parser.add_argument('--host', action='append', default=[])
    parser.add_argument('--stub', action='append', default=[])
    parser.add_argument('--size', type=int, default=24, help='MiB of each corpus')
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--work', default=None)
    parser.add_argument('--log', type=argparse.FileType('w'), help='every single timing, one a line')
    args = parser.parse_args()
    if not os.environ.get('DISPLAY') and args.stub:
        os.execvp('xvfb-run', ['xvfb-run', '-a', sys.executable] + sys.argv)

    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix='valkrin-stub-bench-'))
    os.makedirs(work, exist_ok=True)
    env = os.environ
    env['WINEPREFIX'] = os.path.join(work, 'wine-prefix')
    env['WINEDEBUG'] = '-all'
    if not os.path.isdir(env['WINEPREFIX']):
        subprocess.call([WINE, 'wineboot', '-i'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server = subprocess.Popen(['wineserver', '-f', '-p'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Without a window manager on the display, Wine waits 2 s for every managed window it
    # hides to be withdrawn; unmanaged windows are hidden at once.
    subprocess.call([WINE, 'reg', 'add', 'HKCU\\Software\\Wine\\X11 Driver', '/v', 'Managed', '/d', 'N', '/f'],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        run(args, work)
    finally:
        subprocess.call(['wineserver', '-k'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        server.wait()


def run(args, work):
    drivers, hosts, stubs = labelled(args.driver), labelled(args.host), labelled(args.stub)
    size = args.size * 1024 * 1024
    tiny = os.path.join(work, 'tiny')
    os.makedirs(tiny, exist_ok=True)
    with open(os.path.join(tiny, 'a.txt'), 'wb') as f:
        f.write(b'x')
    tiny_archive = os.path.join(work, 'tiny.lzh')
    if not os.path.exists(tiny_archive):
        subprocess.run(['jlha', 'a2qo5', tiny_archive, 'tiny'], cwd=work, check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(work, 'out')

    def package(stub_label, stub, archive):
        name = os.path.join(work, 'setup-%s-%s.exe' % (stub_label, os.path.basename(archive)[:-4]))
        subprocess.run([args.pack, '-o', name, '--folder', windows_path(out), '--no-confirm', '--stub', stub,
                        '--archive', archive], check=True, stdout=subprocess.DEVNULL)
        return name

    # Wine's start-up: a console program that prints its usage, and each stub around one byte.
    start = {}
    tiny_packages = {label: package(label, stub, tiny_archive) for label, stub in stubs}

    decoder_rows, program_rows, results = [], [], []
    for corpus, make in (('text', text_like), ('binary', binary_like)):
        source = os.path.join(work, corpus)
        os.makedirs(source, exist_ok=True)
        data_path = os.path.join(source, corpus + '.dat')
        if not os.path.exists(data_path) or os.path.getsize(data_path) != size:
            with open(data_path, 'wb') as f:
                f.write(make(size, 1 if corpus == 'text' else 2))
        for method in ('5', '7', '0'):
            archive = os.path.join(work, '%s-lh%s.lzh' % (corpus, method))
            if not os.path.exists(archive) or os.path.getmtime(archive) < os.path.getmtime(data_path):
                if os.path.exists(archive):
                    os.remove(archive)
                # -lh0-: the same bytes stored, so that what is not decoding shows.
                options = 'a2qz' if method == '0' else 'a2qo' + method
                subprocess.run(['jlha', options, archive, corpus], cwd=work, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            packages = {label: package(label, stub, archive) for label, stub in stubs}
            name = '%s -lh%s-' % (corpus, method)
            best = {}

            def keep(key, seconds):
                best[key] = min(best.get(key, seconds), seconds)
                if args.log:
                    args.log.write('%s %s %.4f\n' % (name, key, seconds))
                    args.log.flush()

            for _ in range(args.rounds):
                for label, exe in drivers:
                    keep(('driver', label), own_measure([WINE, exe, archive, '3'], work))
                    keep(('driver-start', label), wall([WINE, exe], expect=(2,)))
                for label, exe in hosts:
                    keep(('host', label), own_measure([exe, archive, '3'], work))
                keep('7z t', wall(['7z', 't', archive]))
                keep('lhasa t', wall(['lhasa', 't', archive]))
                for label, _ in stubs:
                    clear(out)
                    keep(('stub-start', label), wall([WINE, tiny_packages[label]], expect=(1,)))
                    clear(out)
                    keep(('stub', label), wall([WINE, packages[label]], expect=(1,)))
                clear(out)
                keep('7z x', wall(['7z', 'x', '-y', '-o' + out, archive]))
            shutil.rmtree(out, ignore_errors=True)
            for label, _ in drivers:
                start[label] = min(start.get(label, 99), best[('driver-start', label)])
            for label, _ in stubs:
                start['stub ' + label] = min(start.get('stub ' + label, 99), best[('stub-start', label)])
            results.append((corpus, method, archive, best))

    # Wine's start-up of a stub: its quickest run around one byte in the whole run, the same
    # work wherever it was timed (the quickest is the least taken off: against ourselves).
    for corpus, method, archive, best in results:
        mb = size / 1e6
        name = '%s -lh%s-' % (corpus, method)
        seven = mb / best['7z t']
        cells = [name, '%.3f' % (os.path.getsize(archive) / size)]
        for label, _ in drivers:
            speed = mb / best[('driver', label)]
            cells += ['%.0f' % speed, '%.2f' % (speed / seven)]
        for label, _ in hosts:
            speed = mb / best[('host', label)]
            cells += ['%.0f' % speed, '%.2f' % (speed / seven)]
        cells += ['%.0f' % seven, '%.0f' % (mb / best['lhasa t'])]
        decoder_rows.append(cells)
        cells = [name, '%.3f' % best['7z x']]
        for label, _ in stubs:
            seconds = best[('stub', label)] - start['stub ' + label]
            cells += ['%.3f' % best[('stub', label)], '%.3f' % seconds, '%.2f' % (best['7z x'] / seconds)]
        program_rows.append(cells)

    print('%d MiB corpora, best of %d rounds taken in turns, one run' % (args.size, args.rounds))
    print()
    header = ['archive', 'ratio']
    for label, _ in drivers:
        header += ['i686 %s MB/s' % label, '÷ 7z t']
    for label, _ in hosts:
        header += ['host %s MB/s' % label, '÷ 7z t']
    header += ['7z t MB/s', 'lhasa t MB/s']
    table(header, decoder_rows)
    print()
    header = ['archive', '7z x s']
    for label, _ in stubs:
        header += ['valkrin.exe %s s' % label, 'less start-up s', '7z x ÷ it']
    table(header, program_rows)
    print()
    print('Wine start-up (best): ' + ', '.join(
        '%s %.3f s' % (('console ' + k) if not k.startswith('stub ') else k + ' around 1 byte', v)
        for k, v in start.items()))


def table(header, rows):
    print('| ' + ' | '.join(header) + ' |')
    print('|' + '---|' * len(header))
    for row in rows:
        print('| ' + ' | '.join(row) + ' |')


if __name__ == '__main__':
    main()
