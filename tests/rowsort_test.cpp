#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "catalogue/RowSort.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// A title row and one data row per value, the value in column `col`, a row tag in column 9.
Rows rowsWith(const std::vector<std::string>& values, int col = 0) {
    Rows rows{std::vector<std::string>(10, "title")};
    int n = 0;
    for (const auto& v : values) {
        std::vector<std::string> r(10);
        r[static_cast<size_t>(col)] = v;
        r[9] = std::to_string(n++);
        rows.push_back(r);
    }
    return rows;
}

std::vector<std::string> columnOf(const Rows& rows, int col) {
    std::vector<std::string> out;
    for (size_t r = 1; r < rows.size(); ++r) out.push_back(rows[r][static_cast<size_t>(col)]);
    return out;
}

std::vector<std::string> sorted(Rows rows, int col, SortDirType dir) {
    SortRowRange(rows, 1, static_cast<int>(rows.size()) - 1, col, dir);
    return columnOf(rows, col);
}

}  // namespace

TEST(RowSort, CellToNumber) {
    double v = 0;
    EXPECT_TRUE(CellToNumber("1048576", v));
    EXPECT_EQ(v, 1048576.0);
    EXPECT_TRUE(CellToNumber(" -3.5 ", v));
    EXPECT_EQ(v, -3.5);
    EXPECT_TRUE(CellToNumber("+4", v));
    EXPECT_EQ(v, 4.0);
    EXPECT_TRUE(CellToNumber("1e3", v));
    EXPECT_EQ(v, 1000.0);
    EXPECT_TRUE(CellToNumber(".5", v));
    EXPECT_EQ(v, 0.5);
    for (const char* bad : {"", " ", "abc", "1.2.3", "-", "+", "inf", "nan", "-inf", "0x10", "1e",
                            "1e999", "12abc", "1 2", "--1", "+-1"}) {
        EXPECT_FALSE(CellToNumber(bad, v)) << bad;
    }
}

TEST(RowSort, NumericOnlyWhenEveryCellConverts) {
    EXPECT_TRUE(IsNumericColumn(rowsWith({"10", "", "9"}), 1, 3, 0));
    EXPECT_FALSE(IsNumericColumn(rowsWith({"10", "x", "9"}), 1, 3, 0));
    // The title row is outside the range and does not count.
    EXPECT_TRUE(IsNumericColumn(rowsWith({"1", "2"}), 1, 2, 0));
    EXPECT_EQ(sorted(rowsWith({"10", "9", "100"}), 0, SortDirType::Ascending),
              (std::vector<std::string>{"9", "10", "100"}));
    EXPECT_EQ(sorted(rowsWith({"10", "9", "x"}), 0, SortDirType::Ascending),
              (std::vector<std::string>{"10", "9", "x"}));
}

TEST(RowSort, SizeColumnPutsGameRowsFirstAscendingLastDescending) {
    const Rows rows = rowsWith({"300", "", "20", "", "1000", "-1"}, 4);
    EXPECT_EQ(sorted(rows, 4, SortDirType::Ascending),
              (std::vector<std::string>{"", "", "-1", "20", "300", "1000"}));
    EXPECT_EQ(sorted(rows, 4, SortDirType::Descending),
              (std::vector<std::string>{"1000", "300", "20", "-1", "", ""}));
}

TEST(RowSort, FinishedColumnSortsAsText) {
    const Rows rows = rowsWith({"F", "", "F", ""}, 5);
    EXPECT_EQ(sorted(rows, 5, SortDirType::Ascending),
              (std::vector<std::string>{"", "", "F", "F"}));
    EXPECT_EQ(sorted(rows, 5, SortDirType::Descending),
              (std::vector<std::string>{"F", "F", "", ""}));
}

TEST(RowSort, TypeCodesSortNumerically) {
    EXPECT_EQ(sorted(rowsWith({"21", "10", "01", "20", "11", "01"}), 0, SortDirType::Ascending),
              (std::vector<std::string>{"01", "01", "10", "11", "20", "21"}));
}

TEST(RowSort, TextKeys) {
    // Upper-casing of a-z only ("_" then sorts after the letters); other bytes compare
    // unsigned, so UTF-8 letters come last; a prefix comes first.
    const Rows rows = rowsWith({"zeta", "\xC3\xA9t\xC3\xA9", "Alpha", "alp", "ALPHA", "_x", "Zz"});
    EXPECT_EQ(sorted(rows, 0, SortDirType::Ascending),
              (std::vector<std::string>{"alp", "ALPHA", "Alpha", "zeta", "Zz", "_x",
                                        "\xC3\xA9t\xC3\xA9"}));
}

TEST(RowSort, DescendingIsExactReverseAndASecondSortReversesAgain) {
    std::mt19937 rng(7);
    std::vector<std::string> values;
    for (int i = 0; i < 300; ++i) values.push_back(std::to_string(rng() % 7));
    for (int i = 0; i < 20; ++i) values.push_back("");
    Rows rows = rowsWith(values);
    std::shuffle(rows.begin() + 1, rows.end(), rng);

    Rows asc = rows;
    SortRowRange(asc, 1, static_cast<int>(asc.size()) - 1, 0, SortDirType::Ascending);
    Rows desc = rows;
    SortRowRange(desc, 1, static_cast<int>(desc.size()) - 1, 0, SortDirType::Descending);
    std::reverse(desc.begin() + 1, desc.end());
    EXPECT_EQ(columnOf(asc, 9), columnOf(desc, 9));  // ties included

    // Clicking the title again: sorting the sorted rows the other way reverses exactly.
    Rows again = asc;
    SortRowRange(again, 1, static_cast<int>(again.size()) - 1, 0, SortDirType::Descending);
    std::reverse(again.begin() + 1, again.end());
    EXPECT_EQ(columnOf(again, 9), columnOf(asc, 9));
    // And once more.
    std::reverse(again.begin() + 1, again.end());
    SortRowRange(again, 1, static_cast<int>(again.size()) - 1, 0, SortDirType::Ascending);
    EXPECT_EQ(columnOf(again, 9), columnOf(asc, 9));
    EXPECT_EQ(again[0][0], "title");  // the title row is never moved
}

TEST(RowSort, AgreesWithReferenceSortOnRandomRows) {
    std::mt19937 rng(42);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> values;
        const int n = 1 + static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i) {
            std::string s;
            const int len = static_cast<int>(rng() % 4);
            for (int k = 0; k < len; ++k) s += "aAbB\xFF"[rng() % 5];
            values.push_back(s);
        }
        Rows rows = rowsWith(values);
        const Rows original = rows;
        const std::vector<int> newRow =
            SortRowRange(rows, 1, static_cast<int>(rows.size()) - 1, 0, SortDirType::Ascending);
        auto up = [](std::string s) {
            for (auto& c : s)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            return s;
        };
        for (size_t i = 1; i + 1 < rows.size(); ++i) ASSERT_LE(up(rows[i][0]), up(rows[i + 1][0]));
        // The returned mapping names every row's new place.
        for (size_t old = 1; old < original.size(); ++old)
            EXPECT_EQ(rows[static_cast<size_t>(newRow[old - 1])], original[old]);
    }
}

TEST(RowSort, ShortRowsAndRanges) {
    Rows rows{{"title"}, {"b"}, {}, {"a", "x"}};
    const std::vector<int> newRow = SortRowRange(rows, 1, 3, 0, SortDirType::Ascending);
    EXPECT_TRUE(rows[1].empty());  // a missing cell is an empty cell
    EXPECT_EQ(rows[2][0], "a");
    EXPECT_EQ(rows[3][0], "b");
    EXPECT_EQ(newRow, (std::vector<int>{3, 1, 2}));
    EXPECT_TRUE(SortRowRange(rows, 1, 9, 0, SortDirType::Ascending).empty());
    EXPECT_TRUE(SortRowRange(rows, 2, 1, 0, SortDirType::Ascending).empty());
    Rows one{{"t"}, {"only"}};
    EXPECT_EQ(SortRowRange(one, 1, 1, 0, SortDirType::Descending), (std::vector<int>{1}));
}
