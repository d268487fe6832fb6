#pragma once
// Valve's KeyValues text (Steam's libraryfolders.vdf, appmanifest_<id>.acf): quoted keys,
// each followed by a quoted value or a braced block of further pairs; "\\" and "\"" escape
// inside quotes; "//" starts a comment. The reader is strict (no unquoted words, no other
// escapes) and bounded in depth and size, so damaged files are refused, never followed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keyvalues {

struct Node {
    std::string key;
    std::string value;           // a pair's value; empty for a block
    std::vector<Node> children;  // a block's pairs, in file order
    bool block = false;

    // The first pair named `name` (ASCII case ignored, as Steam reads its keys); null if none.
    const Node* child(std::string_view name) const;
    // The value of the pair `name`; empty when there is none or it is a block.
    std::string text(std::string_view name) const;
};

// The pairs of `text` as one block; nothing when the text is malformed, `error` then says
// where ("line 3: unterminated string").
std::optional<Node> parse(std::string_view text, std::string& error);

}  // namespace keyvalues
