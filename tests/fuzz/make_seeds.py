#!/usr/bin/env python3
"""Makes the seed corpus of the fuzz targets.

    make_seeds.py [TARGET...]   (default: every target)

header, decode: small trees packed by jlha (level-2 headers, -lh5-, -lh6-,
-lh7-, stored entries, folders, empty files). Header seeds are whole
archives, with hand-made ones whose names have UTF-16 records (0x44, 0x45),
sound and broken, and one by valkrin-lzh of names without a Shift-JIS form
(`make_seeds.py header-names` makes only these); decode seeds are the compressed data of each entry behind the five
bytes the decode target reads first (method, original size, trailing count).
run: archives by jlha and by valkrin-lzh, and hand-made archives with the
names and damage of the unit and flow tests, each behind the byte that
chooses the run; and an archive with a program behind the bytes that choose
the install command, a cancel, the command line and a system failure. names, expand: the names and texts of the unit tests behind
the target's control bytes. compress: texts, tables, noise and runs behind
the bytes that choose method, parse, threads and repetition."""
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


def make_header_and_decode():
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
    count += write_window_seeds(out_decode)
    print('decode seeds:', count)
    make_unicode_names()


def write_window_seeds(out_decode):
    """Two -lh7- entries of more than 64 KiB, so that the window fills and
    wraps (a literal and a match at its end), with literals rare enough for
    codes longer than the first lookup: text among random bytes, and bytes
    of geometric frequency."""
    rng = random.Random(5)
    words = [b'setup ', b'window ', b'archive ', b'data\r\n', b'0123 ']

    def geometric():
        depth = 0
        while depth < 22 and rng.random() < 0.5:
            depth += 1
        return 0x41 + depth if depth < 20 else rng.randrange(256)

    texts = {'window-text-o7': b''.join(rng.choice(words + [bytes([rng.randrange(256)])]) for _ in range(12500)),
             'window-geometric-o7': bytes(geometric() for _ in range(67000))}
    for name, text in texts.items():
        work = tempfile.mkdtemp()
        try:
            with open(os.path.join(work, 'f'), 'wb') as f:
                f.write(text)
            subprocess.run(['jlha', 'a2qo7', 'a.lzh', 'f'], cwd=work, check=True, stdout=subprocess.DEVNULL)
            method, original, data = next(entries(open(os.path.join(work, 'a.lzh'), 'rb').read()))
            with open(os.path.join(out_decode, name), 'wb') as f:
                f.write(bytes([METHOD_INDEX[method]]) + struct.pack('<I', original)[:3] + b'\x00' + data)
        finally:
            shutil.rmtree(work)
    return len(texts)


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def extended(kind, data):
    return bytes([kind]) + data + b'\0\0'


def level2_entry(name, data=b'', method=b'0', attributes=0x20, crc=None, sizes=None, more=(), stamp=1000000000,
                 after=()):
    """One level-2 entry: header and data, as the test archives build them;
    `more`: further extended headers before the names, `after`: behind them."""
    directory, _, file = name.rpartition(b'/')
    parts = [extended(0x00, b'\0\0')] + list(more)
    if file:
        parts.append(extended(0x01, file))
    if directory:
        parts.append(extended(0x02, (directory + b'/').replace(b'/', b'\xff')))
    parts += list(after)
    packed = b'' if method == b'd' else data
    compressed, original = sizes if sizes else (len(packed), len(data))
    header = bytearray(struct.pack('<H', 0) + b'-lh' + method + b'-' +
                       struct.pack('<IIIBBH', compressed, original, stamp, attributes, 2,
                                   crc16(data) if crc is None else crc) + b'M')
    header += struct.pack('<H', len(parts[0]))
    for i, part in enumerate(parts):
        following = len(parts[i + 1]) if i + 1 < len(parts) else 0
        header += part[:-2] + struct.pack('<H', following)
    struct.pack_into('<H', header, 0, len(header))
    struct.pack_into('<H', header, 27, crc16(bytes(header)))
    return bytes(header) + packed


def test_archives():
    """The names, attributes and damage of the unit and flow tests."""
    table = b'\x95\x5c'
    good = [level2_entry(b'doc/readme.txt', b'read me\r\n'),
            level2_entry(b'docs/' + table + b'/readme.txt', b'read me', attributes=0x21),
            level2_entry(b'bin/', method=b'd', attributes=0x10),
            level2_entry(b'hidden.dat', b'h' * 300, attributes=0x22),
            level2_entry(b'empty', b'')]
    corrupt = bytearray(level2_entry(b'a.txt', b'a'))
    corrupt[30] ^= 1
    # Two dots and a lead byte, then '/' in the file part: "..", once fitted.
    fitted_climb = bytearray(level2_entry(b'..\x81Xevil.txt', b'x'))
    fitted_climb[fitted_climb.index(b'\x81X') + 1] = ord('/')
    struct.pack_into('<H', fitted_climb, 27, 0)
    size = struct.unpack_from('<H', fitted_climb, 0)[0]
    struct.pack_into('<H', fitted_climb, 27, crc16(bytes(fitted_climb[:size])))
    return {
        'tests-good': b''.join(good) + b'\0',
        'tests-names': b''.join(level2_entry(n, b'x') for n in [
            b'a?b/c:d.txt', b'C:/x', b'Long File Name.html', b'archive.tar.gz', b'.profile',
            b'./a/.hidden/..x/x../a.b', b'x' * 255, b'y' * 254 + table,
            b'abcdefg' + table + b'.tx' + table, b'\xb1\xb2']) + b'\0',
        'tests-climb': level2_entry(b'../evil.txt', b'x') + b'\0',
        'tests-climb-fitted': bytes(fitted_climb) + b'\0',
        'tests-climb-blank': level2_entry(b'ok.txt', b'x') + level2_entry(b'a/.. /evil.txt', b'x') + b'\0',
        'tests-bad-crc': level2_entry(b'a.txt', b'aaaa') + level2_entry(b'b.txt', b'bbbb', crc=0x1234) + b'\0',
        'tests-sizes-differ': level2_entry(b'odd.bin', b'12345678', sizes=(8, 4)) + b'\0',
        'tests-folder-data': level2_entry(b'withdata/', b'', method=b'd', sizes=(3, 0)) + b'xyz\0',
        'tests-method': level2_entry(b'x', b'x', method=b'1') + b'\0',
        'tests-header-crc': bytes(corrupt) + b'\0',
        'tests-no-end': level2_entry(b'a.txt', b'a'),
        'tests-huge': level2_entry(b'huge.bin', b'AAA', sizes=(3, 0xFFFFFFFF)) + b'\0',
    }


def utf16(text):
    """UTF-16LE of a name part: '/' becomes the folder separator 0xFFFF."""
    return text.encode('utf-16-le').replace(b'/\0', b'\xff\xff')


def unicode_entry(sjis, name, data=b'x', method=b'0', file_record=True, dir_record=True):
    """An entry with the UTF-16 records of `name` behind its Shift-JIS ones."""
    directory, _, file = name.rpartition('/')
    after = []
    if file and file_record:
        after.append(extended(0x44, utf16(file)))
    if directory and dir_record:
        after.append(extended(0x45, utf16(directory + '/')))
    return level2_entry(sjis, data, method=method, after=after)


def make_unicode_names():
    """Archives whose names have UTF-16 records: sound ones, one part only,
    and broken data (odd length, unpaired surrogates, a NUL unit, no
    separator at the end, a first zero byte)."""
    broken = [extended(0x44, b'a\0b'), extended(0x44, b'\x00\xd8'), extended(0x44, b'\x00\xdcx\0'),
              extended(0x44, b'a\0\0\0b\0'), extended(0x44, b''), extended(0x45, b'a\0'),
              extended(0x45, b'\xff\xff\xff\xff'), extended(0x44, utf16('\u0100.txt'))]
    seeds = {
        'unicode-names': b''.join([
            unicode_entry(b'_ber.txt', 'Über.txt'),
            unicode_entry(b'\x92\x86\x95\xb6_\x91\xcc/', '中文简体/', b'', method=b'd'),
            unicode_entry(b'\x92\x86\x95\xb6_\x91\xcc/_\x96\xbe.txt', '中文简体/说明.txt', b'readme'),
            unicode_entry(b'_b/x.txt', '\u0100b/x.txt', dir_record=False),
            unicode_entry(b'r_sum_/x', 'résumé/x', file_record=False),
            unicode_entry(b'_', '\U0001F600')]) + b'\0',
        'unicode-broken': b''.join(level2_entry(b'n%d' % i, b'x', after=[record])
                                   for i, record in enumerate(broken)) + b'\0',
    }
    tool = find_valkrin_lzh()
    if tool is not None:
        work = tempfile.mkdtemp()
        try:
            for name in ['Über.txt', 'résumé.pdf', '中文简体/说明.txt', '한국어.txt', '一覧/表.txt']:
                os.makedirs(os.path.join(work, 'd', os.path.dirname(name)), exist_ok=True)
                with open(os.path.join(work, 'd', name), 'wb') as f:
                    f.write(name.encode() * 20)
            path = os.path.join(work, 'seed.lzh')
            subprocess.run([tool, '-o', path, 'd'], cwd=work, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            seeds['valkrin-lzh-unicode'] = open(path, 'rb').read()
        finally:
            shutil.rmtree(work)
    write_seeds('header', seeds)


def find_valkrin_lzh():
    for build in ('host', 'fuzz', 'host-release'):
        path = os.path.join(HERE, '..', '..', 'build', build, 'tools', 'lzh', 'valkrin-lzh')
        if os.path.exists(path):
            return path
    return None


def tool_archives():
    """Small trees packed by jlha and by valkrin-lzh."""
    archives = {}
    tool = find_valkrin_lzh()
    for seed, option in enumerate(['o5', 'o6', 'o7', 'z']):
        work = tempfile.mkdtemp()
        try:
            make_tree(work, 100 + seed)
            path = os.path.join(work, 'seed.lzh')
            subprocess.run(['jlha', 'a2q' + option, path, 'd'], cwd=work, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            archives['jlha-' + option] = open(path, 'rb').read()
            if tool is not None:
                method = {'o5': 'lh5', 'o6': 'lh6', 'o7': 'lh7', 'z': 'lh0'}[option]
                os.remove(path)
                subprocess.run([tool, '-m', method, '-o', path, 'd'], cwd=work, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                archives['valkrin-lzh-' + method] = open(path, 'rb').read()
        finally:
            shutil.rmtree(work)
    if tool is None:
        print('valkrin-lzh not built: only jlha archives')
    return archives


def write_seeds(target, seeds):
    out = os.path.join(HERE, 'corpus', target)
    os.makedirs(out, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
    print(target, 'seeds:', len(seeds))


def make_run():
    # Run bytes: folder mode, temporary mode, a volume without long names
    # with Windows 98 and the question, temporary mode with the class wait.
    modes = {'folder': 0x01, 'temp': 0x00, 'short-98-ask': 0x0F, 'temp-wait': 0x10}
    seeds = {}
    archives = dict(tool_archives())
    archives.update(test_archives())
    for index, (name, archive) in enumerate(sorted(archives.items())):
        chosen = list(modes.items()) if name.startswith('tests-') else [list(modes.items())[index % 4]]
        for label, mode in chosen[:2] if name.startswith('tests-') else chosen:
            seeds['%s-%s' % (name, label)] = bytes([mode]) + archive
    seeds.update(install_seeds())
    write_seeds('run', seeds)


def install_seeds():
    """Temporary-mode runs whose archive holds the program setup.exe, behind
    the first byte with bit 7 and the four option bytes: install command,
    cancel, command line, system failure."""
    # The folder's time stamp has the top bit set: such a time is now.
    archive = (level2_entry(b'setup.exe', b'MZ program') +
               level2_entry(b'sub/', method=b'd', attributes=0x10, stamp=0x90000000) +
               level2_entry(b'sub/readme.txt', b'read me', attributes=0x21) + b'\0')
    # (name, first byte, install, cancel, command line, failure)
    runs = [('bare', 0x80, 0x01, 0, 0, 0), ('variable-wide', 0x80, 0x02 | 0x20, 0, 0, 0),
            ('quoted-elevated-class-grace', 0x90, 0x03 | 0x04 | 0x40 | 0x80, 0, 0, 0),
            ('declined', 0x80, 0x01 | 0x08, 0, 0, 0), ('no-export', 0x80, 0x01 | 0x0C, 0, 0, 0),
            ('no-shell', 0x80, 0x01 | 0x10, 0, 0, 0), ('missing-wide', 0x80, 0x20, 0, 0, 0),
            ('base-folder-ask', 0x88, 0x01, 0, 3, 0), ('base-near-limit', 0x80, 0x01, 0, 4, 0),
            ('argument-too-long', 0x80, 0x01, 0, 5, 0), ('switch-n-ask', 0x88, 0x01, 0, 1, 0),
            ('switch-q-wide', 0x80, 0x21, 0, 2, 0), ('folder-argument-wide-ask', 0x89, 0x20, 0, 3, 0),
            ('cancel-install', 0x80, 0x01, 5, 0, 0), ('cancel-class-esc', 0x90, 0x41, 0x46, 0, 0),
            ('cancel-grace-close', 0x80, 0x81, 0x87, 0, 0), ('cancel-test-session', 0x80, 0x01, 0xC1, 0, 0),
            ('write-fails', 0x80, 0x01, 0, 0, 1), ('write-short', 0x80, 0x01, 0, 0, 2 | 8),
            ('read-fails', 0x80, 0x01, 0, 0, 3 | 16), ('allocation-fails', 0x80, 0x01, 0, 0, 4),
            ('close-fails', 0x80, 0x01, 0, 0, 5 | 16), ('folder-refused', 0x80, 0x01, 0, 0, 6),
            ('folder-taken-wide', 0x80, 0x21, 0, 0, 7), ('temp-path-too-long', 0x80, 0x01, 0, 6, 0),
            ('numbers-taken', 0x80, 0x01, 0, 7, 0)]
    seeds = {'install-' + name: bytes([mode, install, cancel, line, failure]) + archive
             for name, mode, install, cancel, line, failure in runs}
    # Packages of the extended switches and the installer's exit codes (bit
    # 5): each line of extended switches once, in temporary mode.
    for switches in range(16):
        seeds['unattended-%02d' % switches] = bytes([0xA0, 0x01, 0, switches << 3, 0]) + archive
    # A file where a folder was made, and a name too long for any path below
    # a base folder near the limit.
    clash = level2_entry(b'sub/', method=b'd', attributes=0x10) + level2_entry(b'sub', b'x') + b'\0'
    deep = level2_entry(b'd' * 200 + b'/' + b'e' * 58, b'x') + b'\0'
    seeds['install-file-over-folder'] = bytes([0x80, 0x01, 0, 0, 0]) + clash
    seeds['install-name-too-long'] = bytes([0x80, 0x01, 0, 4, 0]) + deep
    # Compressed data said to be 2^63 bytes long: no seek gets past it.
    endless = level2_entry(b'big', b'', method=b'5', more=[extended(0x42, struct.pack('<QQ', 1 << 63, 1))])
    seeds['install-endless-data'] = bytes([0x80, 0x01, 0, 0, 0]) + endless + b'\0'
    return seeds


def make_names():
    table = b'\x95\x5c'
    names = [b'doc/readme.txt', b'bin/', b'a?b/c:d.txt', b'Long File Name.html', b'archive.tar.gz',
             b'.profile', b'c:d<e>f|g"h*i', b'Program Files+,;=[]', b'x' * 300, b'x' * 254 + table,
             b'\xb1\xb2', b'.', b'', b'..', b'tab\there', b'x\xffy', b'abcdefg' + table + b'.tx' + table,
             b'ab' + table + b'c.txt', b'./a/.hidden/..x/x../a.b', b'/abs/path', b'../evil.txt',
             b'a/../../evil.txt', b'a/.../b', b'a/.. /b', b'. ./x', b'C:\\x', b'\x83\x2f/y',
             b'end\x95', b'docs/' + table + b'/readme.txt']
    seeds = {}
    for index, name in enumerate(names):
        # Long names on a drive, 8.3 names on UNC, relative and near-limit folders.
        control = [0x01, 0x02, 0x05, 0x0F, 0x06][index % 5]
        length = [12, 30, 0, 250, 255][index % 5]
        seeds['tests-%02d' % index] = bytes([control, length]) + name
    write_seeds('names', seeds)


def make_expand():
    texts = [(b'%ExtractDir%\\setup.exe', b'C:\\TEMP\\valkrin.000'),
             (b'%SystemDir%|%windir%|%TEMP%x', None), (b'%TEMP%\\x', None), (b'', None),
             (b'%extractdir%', b'C:\\X'), (b'%WINDIR%', None), (b'100%', None), (b'a%b', None),
             (b'%FOO%TEMP%', None), (b'%ExtractDirX%\\a', None), (b'%ExtractDir%%TEMP%', None),
             (b'%ExtractDirX%', b'C:\\NO\\SUCH'),
             (b'%ProgramFilesDir%;%CommonFilesDir%;%MyDocuments%', None),
             (b'%ExtractDir%' * 8, b'f' * 259), (b'%TEMP%abc', None), (b'ab\x95\x5c', None),
             (b'w%windir%ir', None)]
    capacities = [1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024,
                  1024, 6, 4, 9]
    seeds = {}
    for index, ((text, folder), capacity) in enumerate(zip(texts, capacities)):
        flag = 1 if folder is not None else 0
        seeds['tests-%02d' % index] = (struct.pack('<H', capacity) + bytes([flag]) + text +
                                       (b'\0' + folder if folder else b''))
    write_seeds('expand', seeds)


def make_compress():
    rng = random.Random(17)
    words = [b'setup ', b'archive ', b'window ', b'\x82\xa0\x82\xa2 ', b'data\r\n', b'0123 ']
    text = b''.join(rng.choice(words) for _ in range(600))
    noise = bytes(rng.getrandbits(8) for _ in range(700))
    table = bytes(rng.randint(0, 15) * 17 for _ in range(2000))
    # (name, method 0-2 | best 4 | two threads 8, repeat byte, data)
    inputs = [
        ('one-byte', 0, 0, b'x'),
        ('text-lh5', 0, 0, text),
        ('text-lh7-best', 2 | 4, 0, text),
        ('table-lh6-best-threads', 1 | 4 | 8, 0, table),
        ('noise-lh7', 2, 0, noise),
        ('noise-repeated-9k-lh5-best', 0 | 4, 0x80 | 9, noise),
        ('text-repeated-65k-lh7-best', 2 | 4 | 8, 0x80 | 65, text),
        ('zeros-127k-lh6', 1 | 8, 0x80 | 127, b'\0'),
        ('zeros-127k-lh7-best', 2 | 4, 0x80 | 127, b'\0'),
        ('table-repeated-33k-lh6', 1, 0x80 | 33, table + noise[:3]),
    ]
    write_seeds('compress', {name: bytes([control, repeat]) + data for name, control, repeat, data in inputs})


def main():
    makers = {'header': make_header_and_decode, 'decode': make_header_and_decode, 'header-names': make_unicode_names,
              'run': make_run, 'names': make_names, 'expand': make_expand, 'compress': make_compress}
    chosen = sys.argv[1:] or ['header', 'run', 'names', 'expand', 'compress']
    for target in dict.fromkeys(makers[t] for t in chosen):
        target()


if __name__ == '__main__':
    sys.exit(main())
