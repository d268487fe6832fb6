#!/usr/bin/env python3
"""Writes the files under TREE as a RAR 4 archive of stored members, as RAR writes them:
make_rar4.py ARCHIVE TREE [VOLUME_SIZE]. With a volume size the members are split across
volumes named after ARCHIVE: "x.part1.rar" gives x.part2.rar, ...; "x.rar" gives x.r00, ..."""
import os, struct, sys, zlib

def header(kind, flags, body):
    rest = struct.pack('<BHH', kind, flags, 7 + len(body)) + body
    return struct.pack('<H', zlib.crc32(rest) & 0xFFFF) + rest

archive, tree = sys.argv[1], sys.argv[2]
volume_size = int(sys.argv[3]) if len(sys.argv) > 3 else 0
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
        volumes[-1].append((name, data, pos, take))
        pos, room = pos + take, room - take
        if pos == len(data):
            break
        volumes.append([])
        room = volume_size
parted = archive.lower().endswith('.part1.rar')
for number, items in enumerate(volumes):
    main_flags = (1 | (0x10 if parted else 0) | (0x100 if number == 0 else 0)) if volume_size else 0
    out = b'Rar!\x1a\x07\x00' + header(0x73, main_flags, bytes(6))
    for name, data, pos, take in items:
        piece, last = data[pos:pos + take], pos + take == len(data)
        flags = 0x8000 | (1 if pos else 0) | (0 if last else 2)
        body = struct.pack('<IIBIIBBHI', len(piece), len(data), 0, zlib.crc32(data if last else piece),
                           0x21210000, 20, 0x30, len(name.encode()), 0x20) + name.encode()
        out += header(0x74, flags, body) + piece
    out += header(0x7B, 1 if number < len(volumes) - 1 else 0, b'')
    if number == 0:
        path = archive
    elif parted:
        path = archive[:-len('1.rar')] + '%d.rar' % (number + 1)
    else:
        path = archive[:-len('ar')] + '%02d' % (number - 1)
    open(path, 'wb').write(out)
