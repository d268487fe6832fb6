#pragma once
// The filter above the mission grid: a row stays when its title or archive name contains
// the typed text, compared without regard to case and accents.

#include <QString>
#include <string>
#include <string_view>
#include <unordered_map>

// The text as the filter compares it: decoded as the grid shows it, accents removed
// (compatibility decomposition less its combining marks; Ł, Ø, Đ, Æ, Œ, ß and their
// kin as their plain letters), case folded.
QString foldForSearch(std::string_view s);

class RowFilter {
  public:
    // The typed text; empty keeps every row.
    void setText(const QString& typed);
    bool active() const { return !needle_.isEmpty(); }
    bool matches(const std::string& title, const std::string& archive);

  private:
    const QString& folded(const std::string& s);

    QString needle_;
    // Folded cell texts: a grid of thousands of rows folds each text once, not per key.
    std::unordered_map<std::string, QString> cache_;
};
