#!/usr/bin/env python3
"""Mission archives for the catalogue scan and selection benchmarks.

    bench/make_missions.py [DIR]        (default /tmp/tm-bench/missions)

Makes, deterministically (fixed seed, fixed member dates):
  DIR/one/, DIR/two/   2,000 mission archives (1,000 per directory), about 20 KB to 2 MB
                       each (log-uniform), 5 to 60 members laid out as fan missions are: a
                       missNN.mis, strings/titles.str, intrface/<language>/goals.str, obj/,
                       mesh/, snd/, fam/ textures, books, maps, a read-me; half of the mission
                       files carry the Thief 2 marker near their end; a few archives hold a
                       20 MB mission file (and so are larger).
  DIR/select/big.zip   about 3,000 members with a 20 MB mission file (marker "SKYOBJVAR"
                       near its end), strings/titles.str and the read-me big.txt;
  DIR/select/         also two small mission archives, the other rows of the selection.
  DIR/.complete        written last, holding the corpus version; an existing corpus of the
                       same version is left as it is.
"""

import math
import os
import random
import shutil
import sys
import zipfile

VERSION = "missions-3"
SEED = 20240611
COUNT = 2000
DATE = (2004, 3, 14, 12, 0, 0)
MARKER = b"SKYOBJVAR"
BIG_MISSION = 20 * 1024 * 1024

WORDS = ["Shadow", "Vault", "Keeper", "Lost", "City", "Ink", "Bell", "Mansion", "Thieves",
         "Guild", "Hammer", "Rust", "Cathedral", "Night", "Crystal", "Bonehoard", "Widow",
         "Lantern", "Harbour", "Tower", "Sewer", "Brass", "Relic", "Heist", "Moon", "Ash"]
LANGS = ["english", "german", "french", "spanish"]
TAGS = [b"P$ModelName", b"P$PhysAttr", b"P$Position", b"MetaProp", b"LinkData", b"BRLIST",
        b"ObjMap", b"QUEST_DB", b"ROOM_DB", b"AI_CONV", b"ACTREACT", b"TXLIST", b"GAM_FILE"]


def mission_pool(rng, size):
    """Mission-file-like bytes: records of a few random bytes, small integers, zero runs
    and chunk tags; deflates to about a third, as mission files do."""
    parts = []
    total = 0
    while total < size:
        tag = TAGS[rng.randrange(len(TAGS))]
        rec = (tag + b"\0" * (16 - len(tag)) + rng.randbytes(12) +
               bytes([rng.randrange(4)]) * 20 + rng.randrange(65536).to_bytes(4, "little") +
               b"\0" * rng.randrange(8, 24))
        parts.append(rec)
        total += len(rec)
    data = b"".join(parts)[:size]
    assert MARKER not in data
    return data


def mission_file(pool, rng, size, thief2):
    start = rng.randrange(0, max(1, len(pool) - size))
    body = bytearray(pool[start:start + size])
    if len(body) < size:
        body += bytes(size - len(body))
    if thief2:
        at = max(0, size - rng.randrange(64, 4096))
        body[at:at + len(MARKER)] = MARKER
    return bytes(body[:size])


def add(zf, name, data, level=6):
    info = zipfile.ZipInfo(name, DATE)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    zf.writestr(info, data, compresslevel=level)


def text_member(rng, lines):
    return "".join(
        " ".join(rng.choice(WORDS).lower() for _ in range(rng.randrange(6, 14))) + "\r\n"
        for _ in range(lines)).encode("latin-1")


def write_mission(path, rng, pool, target, members, mission_size, thief2):
    base = os.path.basename(path)[:-4]
    num = rng.randrange(20, 40)
    title = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(2, 5)))
    lang = "english" if rng.random() < 0.8 else rng.choice(LANGS[1:])
    fixed = [
        ("miss%d.mis" % num, None),
        ("strings/titles.str", ('title_%d: "%s"\r\n' % (num, title)).encode("latin-1")),
        ("intrface/%s/goals.str" % lang,
         ('goal_0: "Steal the %s"\r\ngoal_1: "Do not kill"\r\n' %
          rng.choice(WORDS)).encode("latin-1")),
        ((base + ".txt") if rng.random() < 0.7 else "readme.txt",
         ("%s\r\nA fan mission for Thief %d.\r\n\r\n" % (title, 2 if thief2 else 1)).encode(
             "latin-1") + text_member(rng, rng.randrange(10, 80))),
    ]
    if rng.random() < 0.15:
        fixed.append(("dark.gam", rng.randbytes(2048)))
    if rng.random() < 0.1:
        fixed.append(("strings/missflag.str", b'miss_%d: "no_briefing, no_loadout"\r\n' % num))
    extra = max(0, members - len(fixed))
    # What the members outside the mission file may weigh, compressed (random bytes keep
    # their size).
    mis_share = 0.45 if mission_size is None else 0.0
    rest = max(extra * 200, int(target * (1 - mis_share)) - 2048)
    kinds = ["obj/%s%02d.bin", "mesh/%s%02d.bin", "snd/%s%02d.wav", "fam/%s/tex%02d.pcx",
             "books/english/%s%02d.str", "intrface/miss%d/page%03d.pcx", "snd/%s%02d.mp3",
             "intrface/miss%d/ra%03d.bin", "movies/%s%02d.avi", "obj/txt16/%s%02d.pcx"]
    weights = [rng.random() ** 2 + 0.05 for _ in range(extra)]
    wsum = sum(weights) or 1.0
    names = set(n for n, _ in fixed)
    with zipfile.ZipFile(path, "w") as zf:
        for name, data in fixed:
            if data is None:
                size = mission_size if mission_size is not None else max(
                    4096, int(target * mis_share * 3.3))
                data = mission_file(pool, rng, size, thief2)
            add(zf, name, data)
        for i in range(extra):
            while True:
                pattern = rng.choice(kinds)
                word = rng.choice(WORDS).lower()
                name = pattern % ((num if "miss%d" in pattern else word), i)
                if name not in names:
                    break
            names.add(name)
            size = max(64, int(rest * weights[i] / wsum))
            if name.endswith(".str"):
                data = text_member(rng, max(1, size // 60))
            else:
                data = rng.randbytes(size)
            add(zf, name, data, level=1)


def write_big(path, rng, pool):
    with zipfile.ZipFile(path, "w") as zf:
        add(zf, "miss20.mis", mission_file(pool, rng, BIG_MISSION, True))
        add(zf, "strings/titles.str", b'title_20: "The Big Heist of the Bonehoard"\r\n')
        add(zf, "big.txt", b"The Big Heist\r\n\r\n" + text_member(rng, 300))
        add(zf, "intrface/english/goals.str", b'goal_0: "Steal everything"\r\n')
        kinds = ["obj/o%04d.bin", "mesh/m%04d.bin", "fam/city/t%04d.pcx", "snd/s%04d.wav",
                 "books/english/b%04d.str", "obj/txt16/x%04d.pcx"]
        for i in range(2996):
            name = kinds[i % len(kinds)] % i
            size = rng.randrange(200, 6000)
            data = text_member(rng, size // 60 + 1) if name.endswith(".str") else rng.randbytes(size)
            add(zf, name, data, level=1)


def archive_name(rng, i):
    name = "".join(rng.choice(WORDS) for _ in range(rng.randrange(1, 4)))
    if rng.random() < 0.2:
        name += " " + rng.choice(WORDS)
    ext = ".zip" if rng.random() < 0.9 else ".ZIP"
    return "%s_%04d%s" % (name, i, ext)


def main():
    out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "/tmp/tm-bench/missions")
    stamp = os.path.join(out, ".complete")
    if os.path.exists(stamp) and open(stamp).read().strip() == VERSION:
        print("corpus up to date:", out)
        return
    shutil.rmtree(out, ignore_errors=True)
    rng = random.Random(SEED)
    pool = mission_pool(rng, BIG_MISSION + (1 << 20))
    dirs = [os.path.join(out, d) for d in ("one", "two", "select")]
    for d in dirs:
        os.makedirs(d)
    big_ones = set(rng.sample(range(COUNT), 4))
    for i in range(COUNT):
        target = int(math.exp(rng.uniform(math.log(24 * 1024), math.log(1900 * 1024))))
        members = rng.randrange(5, 61)
        path = os.path.join(dirs[i % 2], archive_name(rng, i))
        write_mission(path, rng, pool, target, members,
                      BIG_MISSION if i in big_ones else None, rng.random() < 0.5)
        if (i + 1) % 500 == 0:
            print("%d archives" % (i + 1), flush=True)
    write_big(os.path.join(dirs[2], "big.zip"), rng, pool)
    for name in ("Another Mission.zip", "Small.zip"):
        write_mission(os.path.join(dirs[2], name), rng, pool, 60 * 1024, 12, None, True)
    with open(stamp, "w") as f:
        f.write(VERSION + "\n")
    print("corpus made:", out)


if __name__ == "__main__":
    main()
