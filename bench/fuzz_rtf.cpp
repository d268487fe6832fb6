// Fuzz target for RTF read-mes: every input goes through the converter alone (rtfToText)
// and as a ".rtf" member (readmeFromBytes), whose plain text must keep its bounds
// (FuzzReadme.h). Built as a libFuzzer target with -DTM_FUZZ=ON (clang, bench/fuzz.sh rtf);
// otherwise a replay program: fuzz_rtf FILE... converts each file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzReadme.h"
#include "FuzzSupport.h"

namespace {

void convertOnce(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = rtfToText(bytes);
    // Every character of the text comes from at least one byte of the input, or from a
    // \uN of at least three bytes (four bytes of UTF-8 at most).
    if (text.size() > 4 * size + 4) __builtin_trap();
    fuzzreadme::show(readmeFromBytes("readme.rtf", bytes));
}

}  // namespace

TM_FUZZ_TARGET(convertOnce, "converted")
