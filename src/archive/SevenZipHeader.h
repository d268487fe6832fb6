#pragma once
// The memory a .7z archive asks of its decoders, read from the archive's own header before
// anything is unpacked: the LZMA/LZMA2 dictionary and the PPMd model size of every coder.
// libarchive allocates and fills what the header declares, so an archive is checked here
// and refused before libarchive decodes a byte of it. A compressed header is unpacked with
// liblzma or zlib (after its own coder has passed the same check).

#include <cstdint>
#include <string>

namespace sevenzip {

// True when `head` (the first bytes of a file) carries the .7z signature.
bool hasSignature(const std::string& head);

struct Demand {
    enum Verdict {
        Fits,        // every coder stays within the limits
        TooLarge,    // a coder needs more memory than allowed (see `memory`, `coder`)
        Unchecked,   // packed in a way that cannot be checked here (filters on the header,
                     // encrypted header, external folders)
        Unreadable,  // not a readable .7z header: libarchive reports what is wrong
    };
    Verdict verdict = Unreadable;
    uint64_t memory = 0;  // the largest decoder memory found, bytes
    std::string coder;    // what needs it: "LZMA dictionary", "PPMd model"
};

// Reads the header of the .7z archive in `data` (the whole file) or at `path` and tells the
// largest memory one of its decoders takes: for LZMA and LZMA2 the dictionary (allocated
// whole, however little data it produces), for PPMd its model size. Coders above `limit`
// make it TooLarge; a compressed header larger than `limit` as well.
Demand decoderDemand(const std::string& path, uint64_t limit);
Demand decoderDemandOfBytes(const std::string& data, uint64_t limit);

}  // namespace sevenzip
