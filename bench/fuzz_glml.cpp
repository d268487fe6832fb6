// Fuzz target for GLML read-mes: every input is converted as a ".glml" member
// (readmeFromBytes) and the result shown as the memo would take it (FuzzReadme.h: rich text
// through Qt's parser and layout). Built as a libFuzzer target with -DTM_FUZZ=ON (clang,
// bench/fuzz.sh glml); otherwise a replay program: fuzz_glml FILE... converts each file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzReadme.h"
#include "FuzzSupport.h"

namespace {

void convertOnce(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzzreadme::show(readmeFromBytes("readme.glml", bytes));
}

}  // namespace

TM_FUZZ_TARGET(convertOnce, "shown")
