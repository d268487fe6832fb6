#include "catalogue/RowSort.h"

#include <QLocale>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <utility>

namespace {

const std::string& cellOf(const std::vector<std::vector<std::string>>& rows, int row, int col) {
    static const std::string empty;
    const auto& r = rows[static_cast<size_t>(row)];
    if (col < 0 || static_cast<size_t>(col) >= r.size()) return empty;
    return r[static_cast<size_t>(col)];
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The user's decimal point when it is a single byte other than "."; 0 otherwise.
char localeDecimalPoint() {
    static const char point = [] {
        const QString dp = QLocale::system().decimalPoint();
        if (dp.size() == 1 && dp.at(0).unicode() < 0x80 && dp.at(0) != QLatin1Char('.'))
            return static_cast<char>(dp.at(0).unicode());
        return '\0';
    }();
    return point;
}

// Orders work-list elements by key; equal keys by the rows' cells in column order, so that
// the order is a function of the rows alone and a second sort of the same column in the
// other direction is the exact reverse of the first, ties included.
template <typename Key>
struct ElementLess {
    const std::vector<std::vector<std::string>>& rows;
    bool operator()(const std::pair<int, Key>& a, const std::pair<int, Key>& b) const {
        if (a.second < b.second) return true;
        if (b.second < a.second) return false;
        return rows[static_cast<size_t>(a.first)] < rows[static_cast<size_t>(b.first)];
    }
};

template <typename Key>
void quickSort(std::vector<std::pair<int, Key>>& list, int lo, int hi,
               const ElementLess<Key>& less) {
    // Partition as a classic Hoare quicksort with the middle element as pivot. The smaller
    // part is sorted by recursion and the larger one by the loop, which bounds the depth;
    // the parts are disjoint, so the result equals that of recursing on both.
    while (lo < hi) {
        const std::pair<int, Key> pivot = list[static_cast<size_t>((lo + hi) / 2)];
        int i = lo;
        int j = hi;
        do {
            while (less(list[static_cast<size_t>(i)], pivot)) ++i;
            while (less(pivot, list[static_cast<size_t>(j)])) --j;
            if (i <= j) {
                std::swap(list[static_cast<size_t>(i)], list[static_cast<size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - lo < hi - i) {
            quickSort(list, lo, j, less);
            lo = i;
        } else {
            quickSort(list, i, hi, less);
            hi = j;
        }
    }
}

template <typename Key, typename MakeKey>
std::vector<int> orderBy(const std::vector<std::vector<std::string>>& rows, int first, int last,
                         int col, SortDirType dir, MakeKey makeKey) {
    std::vector<std::pair<int, Key>> list;
    list.reserve(static_cast<size_t>(last - first + 1));
    for (int r = first; r <= last; ++r) list.emplace_back(r, makeKey(cellOf(rows, r, col)));
    quickSort(list, 0, static_cast<int>(list.size()) - 1, ElementLess<Key>{rows});
    std::vector<int> order(list.size());
    const size_t n = list.size();
    for (size_t p = 0; p < n; ++p) {
        const size_t target = dir == SortDirType::Ascending ? p : n - 1 - p;
        order[target] = list[p].first;
    }
    return order;
}

}  // namespace

bool CellToNumber(std::string_view text, double& out) {
    size_t b = 0;
    size_t e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    if (b == e) return false;
    std::string s(text.substr(b, e - b));
    const char dp = localeDecimalPoint();
    bool sawPoint = false;
    for (char& c : s) {
        if (c == '.' || (dp != '\0' && c == dp)) {
            if (sawPoint) return false;
            sawPoint = true;
            c = '.';
        }
    }
    const char* p = s.data();
    const char* end = s.data() + s.size();
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (digits == end || !(std::isdigit(static_cast<unsigned char>(*digits)) || *digits == '.'))
        return false;
    if (*p == '+') ++p;  // from_chars takes "-" only
    double v = 0;
    const auto res = std::from_chars(p, end, v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != end) return false;
    out = v;
    return true;
}

bool IsNumericColumn(const std::vector<std::vector<std::string>>& rows, int first, int last,
                     int col) {
    for (int r = first; r <= last; ++r) {
        const std::string& c = cellOf(rows, r, col);
        double v;
        if (!c.empty() && !CellToNumber(c, v)) return false;
    }
    return true;
}

std::vector<int> SortOrder(const std::vector<std::vector<std::string>>& rows, int first, int last,
                           int col, bool numeric, SortDirType dir, const SortTextKey& textKey) {
    if (first < 0 || last >= static_cast<int>(rows.size()) || first > last) return {};
    if (numeric) {
        return orderBy<double>(rows, first, last, col, dir, [](const std::string& c) {
            double v = kEmptySortValue;
            if (!c.empty()) CellToNumber(c, v);
            return v;
        });
    }
    // std::string compares through char_traits<char>, i.e. as unsigned bytes (memcmp), and a
    // prefix comes before the longer text.
    return orderBy<std::string>(rows, first, last, col, dir, [&textKey](const std::string& c) {
        std::string k = textKey ? textKey(c) : c;
        for (char& ch : k)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        return k;
    });
}

std::vector<int> SortRowRange(std::vector<std::vector<std::string>>& rows, int first, int last,
                              int col, SortDirType dir, const SortTextKey& textKey) {
    if (first < 0 || last >= static_cast<int>(rows.size()) || first > last) return {};
    const bool numeric = IsNumericColumn(rows, first, last, col);
    const std::vector<int> order = SortOrder(rows, first, last, col, numeric, dir, textKey);
    std::vector<std::vector<std::string>> moved(order.size());
    std::vector<int> newRow(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const auto from = static_cast<size_t>(order[i]);
        moved[i] = std::move(rows[from]);
        newRow[from - static_cast<size_t>(first)] = first + static_cast<int>(i);
    }
    for (size_t i = 0; i < moved.size(); ++i)
        rows[static_cast<size_t>(first) + i] = std::move(moved[i]);
    return newRow;
}
