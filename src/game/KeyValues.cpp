#include "game/KeyValues.h"

#include <cstddef>

#include "platform/TextUtil.h"

namespace keyvalues {

namespace {

constexpr int kMaxDepth = 32;          // Steam's files nest four levels
constexpr size_t kMaxPairs = 200'000;  // far above any library list or manifest

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Node> run(std::string& error) {
        Node top;
        top.block = true;
        if (!readPairs(top, 0)) {
            error = "line " + std::to_string(line_) + ": " + why_;
            return std::nullopt;
        }
        return top;
    }

  private:
    bool fail(const char* why) {
        why_ = why;
        return false;
    }
    bool atEnd() const { return pos_ >= text_.size(); }

    // Skips blanks, line ends and "//" comments; a single "/" is an error.
    bool skipSpace() {
        while (!atEnd()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '/') {
                if (pos_ + 1 >= text_.size() || text_[pos_ + 1] != '/') return fail("stray '/'");
                while (!atEnd() && text_[pos_] != '\n') ++pos_;
            } else {
                break;
            }
        }
        return true;
    }

    bool readString(std::string& out) {
        if (atEnd() || text_[pos_] != '"') return fail("expected a quoted string");
        ++pos_;
        while (!atEnd()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (c == '\n') ++line_;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (atEnd() || (text_[pos_] != '\\' && text_[pos_] != '"'))
                return fail("unknown escape");
            out.push_back(text_[pos_++]);
        }
        return fail("unterminated string");
    }

    // The pairs of a block up to its "}" (depth > 0) or to the end of the text (depth 0).
    bool readPairs(Node& block, int depth) {
        for (;;) {
            if (!skipSpace()) return false;
            if (atEnd()) return depth == 0 || fail("missing '}'");
            if (text_[pos_] == '}') {
                if (depth == 0) return fail("unexpected '}'");
                ++pos_;
                return true;
            }
            if (++pairs_ > kMaxPairs) return fail("too many entries");
            Node node;
            if (!readString(node.key) || !skipSpace()) return false;
            if (!atEnd() && text_[pos_] == '{') {
                if (depth + 1 > kMaxDepth) return fail("nested too deeply");
                ++pos_;
                node.block = true;
                if (!readPairs(node, depth + 1)) return false;
            } else if (!readString(node.value)) {
                return false;
            }
            block.children.push_back(std::move(node));
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;
    size_t pairs_ = 0;
    const char* why_ = "";
};

}  // namespace

const Node* Node::child(std::string_view name) const {
    for (const Node& node : children)
        if (text::equalsNoCase(node.key, name)) return &node;
    return nullptr;
}

std::string Node::text(std::string_view name) const {
    const Node* node = child(name);
    return node && !node->block ? node->value : std::string();
}

std::optional<Node> parse(std::string_view text, std::string& error) {
    return Parser(text).run(error);
}

}  // namespace keyvalues
