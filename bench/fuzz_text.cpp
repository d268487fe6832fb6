// Fuzz target for the text decoder and the text utilities: every input is decoded as a
// read-me's text (byte-order mark, UTF-8, the detected code page), shown as a program text
// (text::display), converted to and from the OEM code page, read as an integer setting and
// read as a text file line by line. Built as a libFuzzer target with -DTM_FUZZ=ON (clang,
// bench/fuzz.sh text); otherwise a replay program: fuzz_text FILE... runs each file.

#include <QStringDecoder>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "inspect/ReadmeText.h"
#include "platform/TextDecode.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"

namespace {

bool validUtf8(const std::string& s) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = decoder(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    return !decoder.hasError();
}

void decodeOnce(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // A text without a byte-order mark always comes out as UTF-8.
    const std::string decoded = text::decodeText(bytes);
    const bool marked = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    if (!marked && !validUtf8(decoded)) __builtin_trap();
    (void)text::display(bytes);
    (void)text::ansiToOem(bytes);
    // OEM to ANSI and back keeps every byte of the OEM page.
    if (text::ansiToOem(text::oemToAnsi(bytes)) != bytes) __builtin_trap();
    int32_t value = 0;
    if (text::tryStrToInt(bytes, value) && std::to_string(value).size() > size + 11)
        __builtin_trap();
    (void)text::trim(bytes);

    static const std::string path = fuzzsupport::scratchPath("fuzz_text", ".txt");
    if (!fuzzsupport::writeInput(path, data, size)) return;
    size_t total = 0;
    for (const std::string& line : textfile::readLines(path)) total += line.size();
    if (total > size) __builtin_trap();
    std::remove(path.c_str());
}

}  // namespace

TM_FUZZ_TARGET(decodeOnce, "decoded")
