#!/usr/bin/env bash
# End-to-end check of a game start through Wine, run by hand (Wine's first start in a new
# prefix takes a minute, too long for CI): a stand-in thief2.exe built with mingw-w64,
# in a game directory inside a Wine prefix, writes the WINEPREFIX it was started with to
# started.txt; Play in the main window must start it in that prefix. A second stand-in,
# with a version resource made by windres, writes its command line: in a NewDark game
# directory it must be started with -fm=<name> of the mission's folder.
#   bench/wine_play_check.sh [build folder, default build/asan]
# The prefix is kept in <build>/wine-check/prefix for the next run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/asan}" && pwd)
for tool in wine x86_64-w64-mingw32-gcc x86_64-w64-mingw32-windres; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 0; }
done
cmake --build "$build" --target ui_installwiring_test folderinstall_test zipeng unzeng >/dev/null

work=$build/wine-check
prefix=$work/prefix
mkdir -p "$work"
cat > "$work/standin.c" <<'C'
#include <stdio.h>
#include <stdlib.h>
int main(void) {
    const char* prefix = getenv("WINEPREFIX");
    FILE* f = fopen("started.txt", "wb");
    if (!f) return 1;
    fprintf(f, "%s\n", prefix ? prefix : "(none)");
    return fclose(f) != 0;
}
C
x86_64-w64-mingw32-gcc -O2 -o "$work/thief2.exe" "$work/standin.c"
cat > "$work/newdark.c" <<'C'
#include <stdio.h>
#include <windows.h>
int main(void) {
    FILE* f = fopen("started.txt", "wb");
    if (!f) return 1;
    fprintf(f, "%s\n", GetCommandLineA());
    return fclose(f) != 0;
}
C
cat > "$work/newdark.rc" <<'RC'
1 VERSIONINFO
FILEVERSION 1,27,0,0
PRODUCTVERSION 1,27,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileVersion", "1.27"
      VALUE "ProductName", "Thief 2 stand-in"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
x86_64-w64-mingw32-windres "$work/newdark.rc" -O coff -o "$work/newdark.res"
x86_64-w64-mingw32-gcc -O2 -o "$work/newdark.exe" "$work/newdark.c" "$work/newdark.res"

display=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then display=(xvfb-run -a); fi
if [ ! -f "$prefix/system.reg" ]; then
    echo "Creating the Wine prefix $prefix (takes a while the first time)..."
    WINEPREFIX=$prefix WINEDEBUG=-all "${display[@]}" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w
fi
TM_WINE_PREFIX=$prefix TM_WINE_STANDIN=$work/thief2.exe QT_QPA_PLATFORM=offscreen \
    WINEDEBUG=-all "${display[@]}" "$build/bin/ui_installwiring_test" \
    --gtest_filter='*WinePrefixHoldingIt'
TM_WINE_PREFIX=$prefix TM_WINE_STANDIN=$work/newdark.exe QT_QPA_PLATFORM=offscreen \
    WINEDEBUG=-all "${display[@]}" "$build/bin/folderinstall_test" \
    --gtest_filter='*ThroughWine*'
