#!/usr/bin/env python3
"""Builds the demo setup of the run command.

Usage: make_demo.py DEMO_DIR BIN_DIR

DEMO_DIR receives stand-in Thief 2 and System Shock 2 game directories ("thief2",
"shock2") and a mission directory ("missions") with a few small sample mission archives. BIN_DIR/Tallowmere.ini is written
to point at them with the setup completed, unless that file exists already (a user's own
settings are never replaced).
"""

import os
import stat
import sys
import zipfile

GAME_SCRIPT = r"""#!/bin/sh
# Stand-in for the @GAME@ executable of the demo: notes each start in @LOG@ beside
# itself and shows a short message when a message tool is available, without waiting.
here=$(cd "$(dirname "$0")" && pwd)
echo "$(date '+%Y-%m-%d %H:%M:%S') started in $(pwd) with: $*" >> "$here/@LOG@"
msg="@GAME@ (demo stand-in) was started in $(pwd) with: $*"
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
; @GAME@ installation settings (demo)
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


# A System Shock 2 mission: level files named like the game's own beside its game system,
# no numbered mission file; its title comes from fm.ini.
SHOCK_MISSION = ("DeckSeven", "Deck Seven",
                 "Deck Seven\r\n"
                 "a fan mission for System Shock 2\r\n\r\n"
                 "The Von Braun's seventh deck went dark an hour ago. Find out why.\r\n"
                 "Requires NewDark 2.4 or later.\r\n")


def make_shock_archive(path, name, title, readme):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("shock2.gam", b"LG\x00\x00DARKFILE" + bytes(range(64)) * 4)
        for level in ("medsci1", "medsci2"):
            z.writestr(level + ".mis", b"LG\x00\x00DARKFILE" + bytes(range(64)) * 8)
            z.writestr("intrface/%s/english/map.pcx" % level, bytes(256))
        z.writestr("fm.ini", "NiceName=%s\r\nReleaseDate=2026-10-31\r\n" % title)
        z.writestr("strings/english/misc.str", 'hello: "Deck Seven"\r\n')
        z.writestr("snd2/english/log_medsci1_01.wav", b"RIFF" + bytes(400))
        z.writestr("obj/locker.bin", bytes(range(200)))
        z.writestr("mesh/midwife.bin", bytes(range(120)) * 2)
        z.writestr(name + ".txt", readme)


def make_game(directory, program, game, extra_files):
    os.makedirs(directory, exist_ok=True)
    exe = os.path.join(directory, program)
    log = os.path.splitext(program)[0] + ".log"
    with open(exe, "w") as f:
        f.write(GAME_SCRIPT.replace("@GAME@", game).replace("@LOG@", log))
    os.chmod(exe, os.stat(exe).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    with open(os.path.join(directory, "install.cfg"), "w", newline="\r\n") as f:
        f.write(INSTALL_CFG.replace("@GAME@", game))
    for name, text in extra_files.items():
        with open(os.path.join(directory, name), "w", newline="\r\n") as f:
            f.write(text)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    demo, bindir = (os.path.abspath(a) for a in sys.argv[1:3])
    game = os.path.join(demo, "thief2")
    shock = os.path.join(demo, "shock2")
    missions = os.path.join(demo, "missions")
    for d in (game, os.path.join(game, "strings"), os.path.join(game, "SAVES"), missions):
        os.makedirs(d, exist_ok=True)

    make_game(game, "thief2.exe", "Thief 2", {})
    make_game(shock, "shock2.exe", "System Shock 2",
              {"cam_mod.ini": "; NewDark mission folders (demo)\nfm_path FMs\n"})
    os.makedirs(os.path.join(shock, "FMs"), exist_ok=True)
    with open(os.path.join(game, "strings", "missflag.str"), "w", newline="\r\n") as f:
        f.write('miss_1: "no_briefing, no_loadout"\nmiss_2: "no_briefing"\n')
    for i in range(3):
        with open(os.path.join(game, "SAVES", "game%04d.sav" % i), "wb") as f:
            f.write(b"DEMOSAVE" + bytes([i]) * 512)

    for i, (name, title, kind, readme) in enumerate(MISSIONS):
        make_archive(os.path.join(missions, name + ".zip"), name, title, kind, readme, 20 + i)
    name, title, readme = SHOCK_MISSION
    make_shock_archive(os.path.join(missions, name + ".zip"), name, title, readme)

    ini = os.path.join(bindir, "Tallowmere.ini")
    if not os.path.exists(ini):
        os.makedirs(bindir, exist_ok=True)
        with open(ini, "w", newline="\r\n") as f:
            f.write("[options]\n"
                    "thief2dir=%s%s\n" % (game, os.sep) +
                    "shock2dir=%s%s\n" % (shock, os.sep) +
                    "language=1\n"
                    "compression level=5\n"
                    "\n[mission directories]\n"
                    "%s=1\n" % missions)
        print("Demo settings written to " + ini)
    else:
        print("Keeping the existing settings " + ini)
    print("Demo game directories: " + game + ", " + shock)
    print("Demo missions: " + missions)
    return 0


if __name__ == "__main__":
    sys.exit(main())
