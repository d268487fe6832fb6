#!/usr/bin/env python3
"""Builds the demo setup of the run command.

Usage: make_demo.py DEMO_DIR BIN_DIR

DEMO_DIR receives a stand-in Thief 2 game directory ("thief2") and a mission directory
("missions") with a few small sample mission archives. BIN_DIR/Tallowmere.ini is written
to point at them with the setup completed, unless that file exists already (a user's own
settings are never replaced).
"""

import os
import stat
import sys
import zipfile

GAME_SCRIPT = r"""#!/bin/sh
# Stand-in for the Thief 2 executable of the demo: notes each start in thief2.log beside
# itself and shows a short message when a message tool is available, without waiting.
here=$(cd "$(dirname "$0")" && pwd)
echo "$(date '+%Y-%m-%d %H:%M:%S') started in $(pwd) with: $*" >> "$here/thief2.log"
msg="Thief 2 (demo stand-in) was started in $(pwd)"
if command -v notify-send >/dev/null 2>&1; then
    notify-send "Tallowmere demo" "$msg" >/dev/null 2>&1 &
elif command -v zenity >/dev/null 2>&1; then
    zenity --info --title="Tallowmere demo" --text="$msg" --timeout=5 >/dev/null 2>&1 &
elif command -v xmessage >/dev/null 2>&1; then
    xmessage -timeout 5 "$msg" >/dev/null 2>&1 &
fi
exit 0
"""

INSTALL_CFG = """\
; Thief 2 installation settings (demo)
language english
install_path .
cd_path .
resname_base ./RES+./
load_path ./
script_module_path ./
movie_path ./movies
"""

# name, title, (game 2 = Thief 2 mission file with SKYOBJVAR, 1 = Thief 1 style), readme
MISSIONS = [
    ("TheLostCourier", "The Lost Courier", 2,
     "A courier carrying the Baron's seal never reached the keep.\r\n"
     "Find him, take the seal and leave the Old Quarter unseen.\r\n\r\n"
     "Difficulty: normal\r\nLength: about an hour\r\n"),
    ("AshesOfStonemarket", "Ashes of Stonemarket", 2,
     "The fire in Stonemarket left the watch house empty for one night.\r\n"
     "Its evidence room will not stay empty for long.\r\n\r\n"
     "Contains new textures and two new ambient sounds.\r\n"),
    ("CellarOfTheMechanist", "Cellar of the Mechanist", 1,
     "A small mission in the style of the original game.\r\n"
     "Break into the cellar of a retired Mechanist and steal his plans.\r\n"),
    ("Grauturm", "Der graue Turm", 2,
     "Ein Auftrag im Turm des Kaufmanns Grauweg.\r\n"
     "Mission with German and English texts.\r\n"),
]


def mission_file(game):
    body = bytearray(b"LG\x00\x00DARKFILE" + bytes(range(64)) * 8)
    if game == 2:
        body += b"\x00\x00SKYOBJVAR\x00\x00" + bytes(48)
    body += b"BRLIST\x00\x00" + bytes(range(32)) * 4
    return bytes(body)


def make_archive(path, name, title, game, readme, number):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("miss%d.mis" % number, mission_file(game))
        z.writestr("strings/titles.str", 'title_%d: "%s"\r\n' % (number, title))
        goals = 'goal_0: "Find the way in."\r\ngoal_1: "Steal what you came for."\r\n' \
                'goal_2: "Leave the way you came."\r\n'
        z.writestr("intrface/english/goals.str", goals)
        if name == "Grauturm":
            z.writestr("intrface/german/goals.str",
                       'goal_0: "Finde den Eingang."\r\ngoal_1: "Stiehl das Siegel."\r\n')
            z.writestr("strings/german/titles.str", 'title_%d: "%s"\r\n' % (number, title))
        if game == 1:
            z.writestr("intrface/miss%d/english/page000.pcx" % number, bytes(256))
        z.writestr("obj/chest_%d.bin" % number, bytes(range(200)))
        z.writestr("mesh/guard_%d.bin" % number, bytes(range(120)) * 2)
        z.writestr("mesh/txt16/guard_%d.pcx" % number, bytes(300))
        z.writestr("snd/ambient_%d.wav" % number, b"RIFF" + bytes(400))
        z.writestr("fam/custom/stone%d.pcx" % number, bytes(500))
        z.writestr(name + ".txt", readme)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    demo, bindir = (os.path.abspath(a) for a in sys.argv[1:3])
    game = os.path.join(demo, "thief2")
    missions = os.path.join(demo, "missions")
    for d in (game, os.path.join(game, "strings"), os.path.join(game, "SAVES"), missions):
        os.makedirs(d, exist_ok=True)

    exe = os.path.join(game, "thief2.exe")
    with open(exe, "w") as f:
        f.write(GAME_SCRIPT)
    os.chmod(exe, os.stat(exe).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    with open(os.path.join(game, "install.cfg"), "w", newline="\r\n") as f:
        f.write(INSTALL_CFG)
    with open(os.path.join(game, "strings", "missflag.str"), "w", newline="\r\n") as f:
        f.write('miss_1: "no_briefing, no_loadout"\nmiss_2: "no_briefing"\n')
    for i in range(3):
        with open(os.path.join(game, "SAVES", "game%04d.sav" % i), "wb") as f:
            f.write(b"DEMOSAVE" + bytes([i]) * 512)

    for i, (name, title, kind, readme) in enumerate(MISSIONS):
        make_archive(os.path.join(missions, name + ".zip"), name, title, kind, readme, 20 + i)

    ini = os.path.join(bindir, "Tallowmere.ini")
    if not os.path.exists(ini):
        os.makedirs(bindir, exist_ok=True)
        with open(ini, "w", newline="\r\n") as f:
            f.write("[options]\n"
                    "thief2dir=%s%s\n" % (game, os.sep) +
                    "language=1\n"
                    "compression level=5\n"
                    "\n[mission directories]\n"
                    "%s=1\n" % missions)
        print("Demo settings written to " + ini)
    else:
        print("Keeping the existing settings " + ini)
    print("Demo game directory: " + game)
    print("Demo missions: " + missions)
    return 0


if __name__ == "__main__":
    sys.exit(main())
