#!/bin/bash
# What still reads settings, games or grid cells the old way, as counts.
#   tools/structure-counts.sh [PROJECT_DIR]   (default: the current folder)
cd "${1:-.}"
echo "app() below src/app:            $(grep -rn '\bapp()' src --include=*.cpp --include=*.h | grep -v '^src/app/' | wc -l)"
echo "files naming thief.exe/thief2.exe/dromed.exe: $(grep -rlE '"(thief|thief2|dromed)\.exe"' src | wc -l)"
echo "files with \" Original (Thief\": $(grep -rl ' Original (Thief' src | wc -l)"
echo "literal game loops/checks:      $(grep -rnE '(game|i|g|n) <= 2; \+\+|< 1 \|\| [a-z.]+ > 2|thiefdata\[[12]\]' src | wc -l)"
echo "thiefdata[ uses:                $(grep -rn 'thiefdata\[' src | wc -l)"
echo "section/key literals in reads:  $(grep -rnE '(Read|Write)(String|Integer|Bool)\("(options|window|mission directories)"' src | wc -l)"
echo "grid cell access outside grid:  $(grep -rnE '\b(Cell|SetCell|RowCells|SetRowCells)\(' src --include=*.cpp | grep -vE 'src/catalogue/ui/(StringGridEx|MissionGrid)' | wc -l)"
echo "setGeometry in setup dialog:    $(grep -c 'setGeometry' src/dialogs/ui/Setup.cpp)"
