# Sourced by play_bench.sh and folder_bench.sh: packs $CORPUS/play.zip once, the big tree
# with its stand-in .mp3 files replaced by real tracks and the Thief 2 mark in its mission
# files (so that the window decides the same game the drivers assume). Needs WORK.
pack_play_zip() {
    ZIP=$CORPUS/play.zip
    if [ -f "$ZIP" ] && unzip -p "$ZIP" miss20.mis | grep -q SKYOBJVAR; then return; fi
    echo "== packing $ZIP"
    rm -rf "$WORK/tree"
    cp -r "$CORPUS/big" "$WORK/tree"
    for f in "$WORK"/tree/snd/music/*.mp3; do cp "$CORPUS/mp3/music.mp3" "$f"; done
    for f in "$WORK"/tree/*.mis; do printf 'SKYOBJVAR' >> "$f"; done
    (cd "$WORK/tree" && zip -5 -r -q -X "$ZIP.tmp" .)
    mv "$ZIP.tmp" "$ZIP"
    rm -rf "$WORK/tree"
}
