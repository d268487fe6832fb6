// Mission grid sort and mission marker search speed.
// - Row sort: 5,000 and 65,535 rows of seven columns, sorted by the title column (text keys)
//   and the size column (numeric keys, game rows empty), each from a shuffled order and
//   again in the other direction from the sorted order (the second title click).
//   Goal: 5,000 rows (a large collection) under 20 ms, 65,535 rows under 250 ms per sort.
// - Marker search: 64 MB without the marker (the worst case, the whole block is read), of
//   random bytes and of bytes drawn from the marker's letters, against a plain byte-by-byte
//   matcher. Goal: at least 500 MB/s.
//
// Usage: grid_bench

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "catalogue/RowSort.h"
#include "game/Games.h"
#include "game/TypeDetection.h"

namespace {

using Clock = std::chrono::steady_clock;
using Rows = std::vector<std::vector<std::string>>;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Rows makeRows(int n, std::mt19937& rng) {
    Rows rows{{"Type", "Title", "Name", "Dir", "Size", "Fin", "Date"}};
    static const char* words[] = {"the", "Lost", "city", "of", "Vault", "keep", "Shadow", "ink"};
    for (int i = 1; i < n; ++i) {
        std::string title;
        for (int w = 0; w < 3; ++w) title += std::string(words[rng() % 8]) + " ";
        std::vector<std::string> row(7);
        row[0] = std::to_string(rng() % 3);
        row[0].push_back('1');
        row[1] = title;
        row[2] = std::to_string(rng());
        row[3] = "/missions/";
        if (i > 2) row[4] = std::to_string(rng() % 200000000);  // rows 1 and 2: game rows
        if (rng() % 4 == 0) row[5].push_back('F');
        row[6] = std::to_string(40000 + rng() % 6000);
        rows.push_back(std::move(row));
    }
    return rows;
}

void benchSort(int n) {
    std::mt19937 rng(1);
    for (int col : {1, 4}) {
        Rows rows = makeRows(n, rng);
        const int last = static_cast<int>(rows.size()) - 1;
        auto t = Clock::now();
        SortRowRange(rows, 1, last, col, SortDirType::Ascending);
        const double first = msSince(t);
        t = Clock::now();
        SortRowRange(rows, 1, last, col, SortDirType::Descending);
        const double second = msSince(t);
        std::printf("sort %6d rows by %-6s: shuffled %7.2f ms, reverse click %7.2f ms\n", n,
                    col == 1 ? "title" : "size", first, second);
    }
}

bool naiveContains(const std::string& marker, const std::string& data) {
    size_t matched = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        // Restart a partial match at the current byte when it breaks.
        while (matched > 0 && data[i] != marker[matched]) {
            i -= matched - 1;
            matched = 0;
        }
        if (data[i] == marker[matched] && ++matched == marker.size()) return true;
    }
    return false;
}

void benchMarker(bool markerLetters) {
    std::mt19937 rng(2);
    std::string data(64u << 20, '\0');
    for (auto& c : data)
        c = markerLetters ? "SKYOBJVAskyobj\0\x01"[rng() % 16] : static_cast<char>(rng());
    const double mb = static_cast<double>(data.size()) / (1 << 20);
    auto t = Clock::now();
    const bool a = ContainsMarker(games::find(2)->missionMarker, data.data(), data.size());
    const double fast = msSince(t);
    t = Clock::now();
    const bool b = naiveContains(games::find(2)->missionMarker, data);
    const double slow = msSince(t);
    std::printf(
        "marker search %.0f MB of %s: %.1f ms (%.0f MB/s, found %d); byte loop %.1f ms "
        "(%.0f MB/s, found %d)\n",
        mb, markerLetters ? "marker letters" : "random bytes", fast, mb / fast * 1000, a, slow,
        mb / slow * 1000, b);
}

}  // namespace

int main() {
    benchSort(5000);
    benchSort(65535);
    benchMarker(false);
    benchMarker(true);
    return 0;
}
