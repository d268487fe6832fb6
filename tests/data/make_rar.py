#!/usr/bin/env python3
"""Writes the files under TREE as a RAR archive of stored members, as RAR writes them:
make_rar.py ARCHIVE TREE [VOLUME_SIZE [5]]. With a volume size the members are split across
volumes named after ARCHIVE: "x.part1.rar" gives x.part2.rar, ...; "x.rar" gives x.r00, ...
A final 5 writes RAR 5 (which names volumes x.partN.rar only), else RAR 4."""
import os, struct, sys, zlib

def header4(kind, flags, body):
    rest = struct.pack('<BHH', kind, flags, 7 + len(body)) + body
    return struct.pack('<H', zlib.crc32(rest) & 0xFFFF) + rest

def vint(n):
    out = bytearray()
    while True:
        out.append((n & 0x7F) | (0x80 if n >> 7 else 0))
        n >>= 7
        if not n:
            return bytes(out)

def header5(kind, flags, fields, data_size=None):
    body = vint(kind) + vint(flags) + (b'' if data_size is None else vint(data_size)) + fields
    sized = vint(len(body)) + body
    return struct.pack('<I', zlib.crc32(sized)) + sized

def volume4(items, number, count, parted):
    split = count > 1
    main_flags = (1 | (0x10 if parted else 0) | (0x100 if number == 0 else 0)) if split else 0
    out = b'Rar!\x1a\x07\x00' + header4(0x73, main_flags, bytes(6))
    for name, data, pos, piece, last in items:
        flags = 0x8000 | (1 if pos else 0) | (0 if last else 2)
        body = struct.pack('<IIBIIBBHI', len(piece), len(data), 0, zlib.crc32(data if last else piece),
                           0x21210000, 20, 0x30, len(name.encode()), 0x20) + name.encode()
        out += header4(0x74, flags, body) + piece
    return out + header4(0x7B, 1 if number < count - 1 else 0, b'')

def volume5(items, number, count):
    archive_flags = (1 if count > 1 else 0) | (2 if number else 0)
    out = b'Rar!\x1a\x07\x01\x00' + header5(1, 0, vint(archive_flags) + (vint(number) if number else b''))
    for name, data, pos, piece, last in items:
        flags = 2 | (8 if pos else 0) | (0 if last else 0x10)
        fields = (vint(4) + vint(len(data)) + vint(0x20) + struct.pack('<I', zlib.crc32(data if last else piece))
                  + vint(0) + vint(0) + vint(len(name.encode())) + name.encode())
        out += header5(2, flags, fields, len(piece)) + piece
    return out + header5(5, 0, vint(1 if number < count - 1 else 0))

archive, tree = sys.argv[1], sys.argv[2]
volume_size = int(sys.argv[3]) if len(sys.argv) > 3 else 0
rar5 = len(sys.argv) > 4 and sys.argv[4] == '5'
files = []
for root, _, names in sorted(os.walk(tree)):
    for name in sorted(names):
        path = os.path.join(root, name)
        files.append((os.path.relpath(path, tree).replace('/', '\\'), open(path, 'rb').read()))
volumes, room = [[]], volume_size or float('inf')
for name, data in files:
    pos = 0
    while True:
        take = int(min(room, len(data) - pos))
        volumes[-1].append((name, data, pos, data[pos:pos + take], pos + take == len(data)))
        pos, room = pos + take, room - take
        if pos == len(data):
            break
        volumes.append([])
        room = volume_size
parted = archive.lower().endswith('.part1.rar')
for number, items in enumerate(volumes):
    if rar5:
        out = volume5(items, number, len(volumes))
    else:
        out = volume4(items, number, len(volumes), parted)
    if number == 0:
        path = archive
    elif parted:
        path = archive[:-len('1.rar')] + '%d.rar' % (number + 1)
    else:
        path = archive[:-len('ar')] + '%02d' % (number - 1)
    open(path, 'wb').write(out)
