#!/usr/bin/env python3
"""Decode throughput of ours beside lhasa and 7z.

Makes a text-like and a binary-like corpus at run time, packs each with jlha
as -lh5- and as -lh7- (level-2 headers), then decodes every archive with
  ours   valkrin-decode-bench (the header reader, block decoder and stored
         copier of the product, host build, output to the null device)
  lhasa  `lhasa t` (test: decode and check CRCs) and `lhasa p` (print to a
         pipe that is thrown away)
  7z     `7z t`
Each tool runs as a whole process, timed by wall clock, best of N rounds;
MB/s counts original (decoded) bytes, 1 MB = 10^6 bytes.

usage: decode_bench.py BENCH_BINARY [--size MIB] [--rounds N] [--work DIR]
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time


def text_like(size, seed):
    """Words with a Zipf-like frequency, punctuation and line breaks."""
    rng = random.Random(seed)
    syllables = ['ka', 'ri', 'on', 'ste', 'lar', 'in', 'ex', 'to', 'pro', 'gram', 'al', 'de', 'ver', 'sion',
                 'the', 'and', 'ment', 'tion', 'ing', 'ed', 'es', 'wa', 'chi']
    vocabulary = [''.join(rng.choice(syllables) for _ in range(rng.randint(1, 4))) for _ in range(5000)]
    weights = [1.0 / (rank + 1) for rank in range(len(vocabulary))]
    out = bytearray()
    while len(out) < size:
        line = rng.choices(vocabulary, weights, k=rng.randint(6, 16))
        out += (' '.join(line).capitalize() + rng.choice(['.', ',', ';', '.']) + '\r\n').encode()
    return bytes(out[:size])


def binary_like(size, seed):
    """Records like those of executables and data files: small integers,
    repeated structures, pointers, zero padding and compressed-looking noise."""
    rng = random.Random(seed)
    out = bytearray()
    base = 0x401000
    while len(out) < size:
        kind = rng.random()
        if kind < 0.35:  # code-like: opcodes and little-endian addresses
            for _ in range(rng.randint(8, 64)):
                out += bytes([rng.choice([0x8B, 0x89, 0xE8, 0xFF, 0x83, 0x55, 0xC3, 0x6A, 0x50])])
                out += (base + rng.randint(0, 0xFFFF) * 4).to_bytes(4, 'little')
        elif kind < 0.6:  # tables of small integers
            out += b''.join(rng.randint(0, 300).to_bytes(2, 'little') for _ in range(rng.randint(16, 128)))
        elif kind < 0.75:  # padding
            out += bytes(rng.randint(16, 512))
        elif kind < 0.9:  # a repeated record with a counter
            record = bytes(rng.getrandbits(8) for _ in range(rng.randint(8, 32)))
            for i in range(rng.randint(4, 40)):
                out += record + i.to_bytes(4, 'little')
        else:  # noise
            out += rng.getrandbits(8 * 256).to_bytes(256, 'little')
    return bytes(out[:size])


def best_time(command, rounds, stdout=subprocess.DEVNULL):
    best = None
    for _ in range(rounds):
        start = time.perf_counter()
        result = subprocess.run(command, stdout=stdout, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        if result.returncode != 0:
            raise RuntimeError('%s failed: %s' % (' '.join(command), result.stderr.decode(errors='replace')))
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('bench', help='path of valkrin-decode-bench (host-release build)')
    parser.add_argument('--size', type=int, default=24, help='MiB of each corpus')
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--work', default=None, help='folder for corpora and archives (default: a temporary one)')
    args = parser.parse_args()
    for tool in ('jlha', 'lhasa', '7z'):
        if shutil.which(tool) is None:
            sys.exit('%s is not installed' % tool)

    work = args.work or tempfile.mkdtemp(prefix='valkrin-bench-')
    os.makedirs(work, exist_ok=True)
    size = args.size * 1024 * 1024
    corpora = {'text': text_like(size, 1), 'binary': binary_like(size, 2)}
    rows = []
    for corpus, data in corpora.items():
        source = os.path.join(work, corpus)
        os.makedirs(source, exist_ok=True)
        with open(os.path.join(source, corpus + '.dat'), 'wb') as f:
            f.write(data)
        for method in ('5', '7'):
            archive = os.path.join(work, '%s-lh%s.lzh' % (corpus, method))
            if not os.path.exists(archive):
                subprocess.run(['jlha', 'a2qo' + method, archive, corpus], cwd=work, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            packed = os.path.getsize(archive)
            mb = len(data) / 1e6
            ours = mb / best_time([args.bench, archive], args.rounds)
            lhasa_t = mb / best_time(['lhasa', 't', archive], args.rounds)
            lhasa_p = mb / best_time(['lhasa', 'p', archive], args.rounds)
            seven = mb / best_time(['7z', 't', archive], args.rounds)
            rows.append((corpus, '-lh%s-' % method, packed / len(data), ours, lhasa_t, lhasa_p, seven))

    header = ('corpus', 'method', 'ratio', 'ours MB/s', 'lhasa t', 'lhasa p', '7z t', 'ours/lhasa t', 'ours/7z',
              'ours/best')
    print('%d MiB corpora, best of %d rounds, whole-process wall time' % (args.size, args.rounds))
    print('| ' + ' | '.join(header) + ' |')
    print('|' + '---|' * len(header))
    for corpus, method, ratio, ours, lhasa_t, lhasa_p, seven in rows:
        best_peer = max(lhasa_t, lhasa_p, seven)
        print('| %s | %s | %.3f | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f | %.2f |' %
              (corpus, method, ratio, ours, lhasa_t, lhasa_p, seven, ours / lhasa_t, ours / seven, ours / best_peer))
    if args.work is None:
        shutil.rmtree(work)


if __name__ == '__main__':
    main()
