#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/<target>/seeds/.

Archive seeds are small archives written here from scratch (both formats,
stored, packed, solid, folders, an installer bundle); the packed streams in
them and the decoder seeds are lifted from the reference archives and cut to a
few KiB. Run from anywhere: make_fuzz_seeds.py [CORPUS_DIR]."""
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, '..', 'shared', 'corpus')
CUT = 3072  # longest packed stream kept in a seed


def put(target, name, data):
    folder = os.path.join(ROOT, 'fuzz', target, 'seeds')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def corpus(name):
    with open(os.path.join(CORPUS, name), 'rb') as f:
        return f.read()


def block_entries(data):
    """(name, version, method, flags, unpacked, crc, packed bytes) of a block-format archive at 0."""
    out = []
    pos = 7
    pos += struct.unpack_from('<H', data, pos + 5)[0]  # main header
    while pos + 7 <= len(data):
        _, kind, flags, size = struct.unpack_from('<HBHH', data, pos)
        added = struct.unpack_from('<I', data, pos + 7)[0] if flags & 0x8000 else 0
        if kind == 0x74:
            packed, unpacked, _, crc, _, ver, meth, nsize = struct.unpack_from('<IIBIIBBH', data, pos + 7)
            name = data[pos + 32:pos + 32 + nsize]
            out.append((name, ver, meth, flags, unpacked, crc, data[pos + size:pos + size + packed]))
        if size < 7:
            break
        pos += size + added
    return out


def old_entries(data):
    out = []
    pos = struct.unpack_from('<H', data, 4)[0]
    while pos + 21 <= len(data):
        packed, unpacked, csum, hsize, _, _, flags, ver, nsize, meth = struct.unpack_from('<IIHHIBBBBB', data, pos)
        name = data[pos + 21:pos + 21 + nsize]
        out.append((name, ver, meth, flags, unpacked, csum, data[pos + hsize:pos + hsize + packed]))
        pos += hsize + packed
    return out


def decoder_seed(entries):
    """First entry alone, or two entries as a solid run (see fuzz/common/decoder_fuzz.h)."""
    first = entries[0]
    unpacked = min(first[4], 0xFFFF * 4) // 4
    packed = first[6][:CUT]
    if len(entries) == 1:
        return bytes([0]) + struct.pack('<HH', unpacked, 0) + packed
    second = entries[1][6][:CUT]
    unpacked = max(unpacked, min(entries[1][4], 0xFFFF * 4) // 4)
    return bytes([1]) + struct.pack('<HH', unpacked, len(packed)) + packed + second


# ---------------------------------------------------------------- writers

def header_crc(body):
    return zlib.crc32(body) & 0xFFFF


def block_archive(files, main_flags=0, packed_sizes=None):
    """files: (name, version, method, flags, unpacked, crc, packed, attributes); packed_sizes
    replaces the stored packed sizes (headers that claim more than follows)."""
    main = struct.pack('<BHHHI', 0x73, main_flags, 13, 0, 0)
    out = b'Rar!\x1a\x07\x00' + struct.pack('<H', header_crc(main)) + main
    for i, (name, ver, meth, flags, unpacked, crc, packed, attr) in enumerate(files):
        flags |= 0x8000
        packed_size = packed_sizes[i] if packed_sizes else len(packed)
        body = struct.pack('<BHHIIBIIBBHI', 0x74, flags, 32 + len(name), packed_size, unpacked, 2, crc,
                           0x5A8E6B20, ver, meth, len(name), attr) + name
        out += struct.pack('<H', header_crc(body)) + body + packed
    return out


def old_archive(files, flags=0):
    out = b'RE~^' + struct.pack('<HB', 7, flags)
    for name, ver, meth, fflags, unpacked, csum, packed, attr in files:
        out += struct.pack('<IIHHIBBBBB', len(packed), unpacked, csum, 21 + len(name), 0x5A8E6B20, attr, fflags,
                           ver, len(name), meth) + name + packed
    return out


def stored(name, text, attr=0x20):
    return (name, 20, 0x30, 0, len(text), zlib.crc32(text), text, attr)


def bundle(head, members):
    out = head
    directory = b''
    for name, content in members:
        directory += struct.pack('<IB', len(out), len(name)) + name
        out += content
    return out + directory + struct.pack('<I', len(directory))


def main():
    v20_solid = block_entries(corpus('test_v2solid5.rar'))
    v20_audio = block_entries(corpus('BoatModernEnglish-audio-text-unpack20.rar'))
    v20_plain = block_entries(corpus('test_v2.rar'))
    v15_solid = old_entries(corpus('rar14-solid.rar'))
    v15_block = block_entries(corpus('rar15-comment.rar'))
    v15_big = block_entries(corpus('Rar15.rar'))

    # ---- decoders
    put('v20', 'solid_pair', decoder_seed(v20_solid[:2]))
    put('v20', 'audio', decoder_seed(v20_audio[:1]))
    for i, e in enumerate(e for e in v20_plain if e[2] != 0x30):
        put('v20', 'setting_%d' % i, decoder_seed([e]))
    put('v15', 'solid_pair', decoder_seed(v15_solid[1:3]))
    put('v15', 'first_of_solid', decoder_seed(v15_solid[:1]))
    put('v15', 'tiny', decoder_seed(v15_block[:1]))
    put('v15', 'text', decoder_seed([e for e in v15_big if e[4] > 0][-1:]))

    # ---- archives (the walk and the whole extraction)
    def cut(e, attr=0x20):
        return e[:6] + (e[6][:CUT], attr)

    plain = block_archive([stored(b'a.txt', b'hello, world\n'),
                           (b'dir', 20, 0x30, 0xE0, 0, 0, b'', 0x10),
                           stored(b'dir\\b.txt', b'inside a folder\n')])
    packed = block_archive([v15_block[0][:6] + (v15_block[0][6], 0x20), cut(v20_audio[1])])
    solid = block_archive([cut(v20_solid[0]), cut(v20_solid[1])], main_flags=0x08)
    old = old_archive([v15_solid[1][:6] + (v15_solid[1][6], 0x20), v15_solid[2][:6] + (v15_solid[2][6], 0x20)],
                      flags=0x08)
    old_stored = old_archive([(b'R.TXT', 2, 0, 0, 5, 0, b'hello', 0x20)])
    volume = block_archive([stored(b'part.bin', b'first half')[:3] + (0x02,) + stored(b'x', b'first half')[4:]],
                           main_flags=0x01)
    # One solid entry of the 2.0 method with nothing before it, its name
    # refused, declaring 1.5 GB and more packed bytes than the file has.
    noise = bytes((i * 131 + (i * i >> 3) + 7) & 0xFF for i in range(109))
    lying = block_archive([(b'..\\x', 20, 0x33, 0x10, 0x60000000, 0x12345678, noise, 0x20)], main_flags=0x08,
                          packed_sizes=[0x10000000])
    installer = bundle(b'MZ' + bytes(510), [(b'payload.rar', plain), (b'setup.spt', b'[Values]\r\nSetupFile=a.txt\r\n')])
    for target in ('extract', 'headers'):
        for name, data in (('stored_and_folder', plain), ('packed', packed), ('solid', solid), ('old_solid', old),
                           ('old_stored', old_stored), ('volume_start', volume), ('installer', installer),
                           ('lying_size', lying)):
            put(target, name, data)

    # ---- bundles
    put('bundle', 'two_members', bundle(b'MZ' + bytes(62), [(b'a.rar', plain), (b'setup.spt', b'[Values]\n')]))
    put('bundle', 'folder_member', bundle(b'MZ', [(b'sub\\x.txt', b'x'), (b'y.txt', b'')]))
    put('bundle', 'empty_directory', b'MZ' + struct.pack('<I', 0))

    # ---- setup.spt
    put('setup', 'plain', b'\x00[Values]\r\nSetupFile=setup.exe\r\n')
    put('setup', 'spaces', b'\x00; comment\n[Other]\nSetupFile=no.exe\n[Values]\n  SetupFile =  disk1\\setup.exe  \n')
    put('setup', 'own_key', b'\x01[Main]\nRun\n[Main]\nRun=go.exe\n')
    put('setup', 'empty_value', b'\x00[Values]\nSetupFile=\n')

    # ---- command lines
    for i, line in enumerate([b'', b'-?', b'bundle.exe -i a.rar setup.spt', b'bundle.exe -e', b'  x.exe   -e  ',
                              b'-i a', b'out.exe -x', b'a.exe -i ' + b' '.join(b'f%d' % k for k in range(52))]):
        put('command_line', 'line_%d' % i, line)

    # ---- wildcards
    for i, pair in enumerate([b'*.*\x00readme.txt', b'*.\x00noext', b'a?c.t*\x00ABC.TXT', b'*\x00',
                              b'dir\\*.exe\x00dir\\x.exe', b'c:\\a\\..\\b\x00..\\up', b'*.rar\x00..\\..\\x']):
        put('wildcard', 'pair_%d' % i, pair)


if __name__ == '__main__':
    main()
