#!/usr/bin/env python3
"""Makes the seed corpus of the fuzz targets from real archives: small trees
packed by jlha (level-2 headers, -lh5-, -lh6-, -lh7-, stored entries,
folders, empty files). Header seeds are whole archives; decode seeds are the
compressed data of each entry behind the five bytes the decode target reads
first (method, original size, trailing count)."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
METHOD_INDEX = {'0': 0, '4': 1, '5': 2, '6': 3, '7': 4}


def make_tree(root, seed):
    rng = random.Random(seed)
    os.makedirs(os.path.join(root, 'd', 'sub'))
    words = [b'setup ', b'archive ', b'window ', b'\x82\xa0\x82\xa2 ', b'data\r\n', b'0123 ']
    text = b''.join(rng.choice(words) for _ in range(rng.randint(50, 900)))
    with open(os.path.join(root, 'd', 'readme.txt'), 'wb') as f:
        f.write(text)
    with open(os.path.join(root, 'd', 'sub', 'table.bin'), 'wb') as f:
        f.write(bytes(rng.randint(0, 15) * 17 for _ in range(rng.randint(100, 3000))))
    with open(os.path.join(root, 'd', 'noise.bin'), 'wb') as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(rng.randint(10, 600))))
    open(os.path.join(root, 'd', 'empty'), 'wb').close()


def entries(archive):
    """(method letter, original size, compressed data) of each entry."""
    at = 0
    while at + 26 <= len(archive) and archive[at] != 0:
        size = struct.unpack_from('<H', archive, at)[0]
        method = chr(archive[at + 5])
        packed, original = struct.unpack_from('<II', archive, at + 7)
        data = archive[at + size:at + size + packed]
        yield method, original, data
        at += size + packed


def main():
    out_header = os.path.join(HERE, 'corpus', 'header')
    out_decode = os.path.join(HERE, 'corpus', 'decode')
    os.makedirs(out_header, exist_ok=True)
    os.makedirs(out_decode, exist_ok=True)
    count = 0
    for seed, option in enumerate(['o5', 'o6', 'o7', 'z', 'o5', 'o7']):
        work = tempfile.mkdtemp()
        try:
            make_tree(work, seed)
            archive_path = os.path.join(work, 'seed.lzh')
            subprocess.run(['jlha', 'a2q' + option, archive_path, 'd'], cwd=work, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            archive = open(archive_path, 'rb').read()
            with open(os.path.join(out_header, 'jlha-%d-%s.lzh' % (seed, option)), 'wb') as f:
                f.write(archive)
            for index, (method, original, data) in enumerate(entries(archive)):
                if method not in METHOD_INDEX or original >= 1 << 18:
                    continue
                seed_bytes = bytes([METHOD_INDEX[method]]) + struct.pack('<I', original)[:3] + b'\x00' + data
                with open(os.path.join(out_decode, 'jlha-%d-%s-%d' % (seed, option, index)), 'wb') as f:
                    f.write(seed_bytes)
                count += 1
        finally:
            shutil.rmtree(work)
    print('decode seeds:', count)


if __name__ == '__main__':
    sys.exit(main())
