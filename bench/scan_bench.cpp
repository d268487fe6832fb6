// Catalogue scan speed on 2,000 mission archives in two mission directories (made by
// bench/make_missions.py), with the main window offscreen and every feature connected, on a
// fresh program directory (settings, language file, Thief 1 and Thief 2 game directories)
// for each run:
// - first full scan: every archive is new, so each one's member list is read and its "type"
//   written; beside it, in the same run, a loop of `unzip -Z1` over the same archives.
//   Goal: under 1.5 s. Then most records get a title, some a date and the finished mark,
//   as after a while of use.
// - second full scan: every "type" cached; includes the sort and the grid fill (and the
//   first store of the column layout); a third one as every later one. Goal: under 0.25 s.
// - sorting the rows by each of the seven columns (a title click, then the reverse click).
//   Goal: under 20 ms each.
// - the game decision of a 20 MB mission file on a fresh record (extraction into memory and
//   the marker search), as the content analysis makes it (inside its batch of writes).
//   Goal: under 60 ms.
// The archives are read from the page cache (they were just made or read).
//
// Usage: scan_bench [CORPUS_DIR] [RUNS]   (default /tmp/tm-bench/missions, 3 runs)

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "game/Games.h"
#include "game/TypeDetection.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

extern char** environ;

namespace {

using bench::Clock;
using bench::median;
using bench::msSince;
using bench::writeFile;

// A program directory of its own: language file, settings naming both games and the two
// mission directories, a main window with every feature connected. Removed at the end.
class Bench {
  public:
    Bench(const std::string& corpus, const std::vector<std::string>& missionDirs) {
        char tmpl[] = "/tmp/tm-scanbench.XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        dir_ = std::string(tmpl) + "/";
        fsx::copyFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat", dir_ + "Tallowmere.dat");
        for (const char* g : {"Thief1", "Thief2"}) {
            fsx::forceDirectories(dir_ + g);
            writeFile(dir_ + g + "/install.cfg", "language english\r\n");
        }
        openAppFiles(dir_);
        IniFile& s = *app().settings;
        IniBatch batch(s);
        s.WriteString("options", "thief1dir", dir_ + "Thief1/");
        s.WriteString("options", "thief2dir", dir_ + "Thief2/");
        s.WriteString("options", "compression level", "5");
        for (const std::string& d : missionDirs)
            s.WriteString("mission directories", corpus + d + "/", "1");
        batch.Commit();
        InstallFeatureHooks();
        LoadLanguageTable();
        form = std::make_unique<Tmainform>();
    }
    ~Bench() {
        form.reset();
        mainFormHooks() = {};
        closeAppFiles();
        app() = AppState{};
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    TMissionGrid& grid() { return *form->QuestGrid; }
    std::unique_ptr<Tmainform> form;

  private:
    std::string dir_;
};

std::vector<std::string> archivesOf(const std::string& corpus,
                                    const std::vector<std::string>& dirs) {
    std::vector<std::string> out;
    for (const std::string& d : dirs) {
        for (const fsx::DirEntry& e : fsx::listDirectory(corpus + d + "/", "*.zip")) {
            if (!e.isDirectory) out.push_back(corpus + d + "/" + e.name);
        }
    }
    return out;
}

// `unzip -Z1 ARCHIVE > /dev/null` for each archive, one process after another.
double unzipListLoop(const std::vector<std::string>& archives) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const auto t = Clock::now();
    for (const std::string& a : archives) {
        char* argv[] = {const_cast<char*>("unzip"), const_cast<char*>("-Z1"),
                        const_cast<char*>(a.c_str()), nullptr};
        pid_t pid;
        if (posix_spawnp(&pid, "unzip", &fa, nullptr, argv, environ) != 0) return -1;
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    const double ms = msSince(t);
    posix_spawn_file_actions_destroy(&fa);
    return ms;
}

// The records as after a while of use: most archives analysed (title), some played (date),
// some finished. Written in one store, between the first and the second scan.
void playedAWhile(Bench& p) {
    static const char* words[] = {"The", "Lost", "City", "of", "Vault", "Keeper", "Shadow", "Ink"};
    TMissionGrid& g = p.grid();
    IniFile& s = *app().settings;
    IniBatch batch(s);
    unsigned x = 12345;
    for (int r = 1; r < g.RowCount(); ++r) {
        if (g.Cell(3, r).empty()) continue;
        const std::string key = text::removeChars(g.Cell(2, r) + "." + g.Cell(4, r), "]");
        x = x * 1103515245u + 12345u;
        if (x % 10 < 7) {
            std::string title;
            for (unsigned w = 0; w < 3 + x % 3; ++w)
                title += std::string(words[(x >> (w * 3 + 8)) % 8]) + " ";
            s.WriteString(key, "title", "\"" + title + g.Cell(2, r).substr(0, 4) + "\"");
        }
        if (x % 7 < 3) s.WriteString(key, "date", std::to_string(44000 + (x >> 12) % 2000));
        if (x % 5 < 2) s.WriteString(key, "finished", "1");
    }
    batch.Commit();
}

// Milliseconds from the end of the first scan until the background has read what every
// archive says of itself (its release date, at least from its members' dates), the window
// idle meanwhile; -1 when it has not after a minute.
double factsRead(Bench& p) {
    const auto start = Clock::now();
    const auto allRead = [&p] {
        const TMissionGrid& g = p.grid();
        for (int r = 1; r < g.RowCount(); ++r) {
            const Mission* m = g.MissionAt(r);
            if (m && !m->gameRow && m->releaseDate.empty()) return false;
        }
        return true;
    };
    while (!allRead()) {
        if (msSince(start) > 60000) return -1;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return msSince(start);
}

int checkScan(Bench& p, size_t archives, const char* what) {
    TMissionGrid& g = p.grid();
    const size_t rows = static_cast<size_t>(g.RowCount() - 1);
    size_t typed = 0;
    for (int r = 1; r < g.RowCount(); ++r) {
        if (g.Cell(3, r).empty()) continue;
        const std::string key = text::removeChars(g.Cell(2, r) + "." + g.Cell(4, r), "]");
        typed += app().settings->ReadString(key, "type", "") == "0";
    }
    if (rows != archives + 2 || typed != archives) {
        std::printf("%s: WRONG RESULT: %zu rows (want %zu), %zu types stored (want %zu)\n", what,
                    rows, archives + 2, typed, archives);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const std::string corpus =
        text::withTrailingDelim(argc > 1 ? argv[1] : "/tmp/tm-bench/missions");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::vector<std::string> dirs = {"one", "two"};
    const std::vector<std::string> archives = archivesOf(corpus, dirs);
    if (archives.empty()) {
        std::printf("no archives under %s (run bench/make_missions.py)\n", corpus.c_str());
        return 2;
    }
    int failures = 0;

    std::vector<double> first, second, third, unzipLoop, facts;
    std::vector<std::vector<double>> sorts(7);
    static const char* colNames[7] = {"type", "title", "name", "dir", "size", "finished", "date"};
    for (int run = 0; run < runs; ++run) {
        unzipLoop.push_back(unzipListLoop(archives));
        Bench p(corpus, dirs);
        auto t = Clock::now();
        p.form->ScanCatalogue(false);
        first.push_back(msSince(t));
        failures += checkScan(p, archives.size(), "first scan");
        facts.push_back(factsRead(p));
        playedAWhile(p);

        t = Clock::now();
        p.form->ScanCatalogue(false);
        second.push_back(msSince(t));
        failures += checkScan(p, archives.size(), "second scan");

        t = Clock::now();
        p.form->ScanCatalogue(false);
        third.push_back(msSince(t));
        failures += checkScan(p, archives.size(), "third scan");

        for (int c = 0; c < 7; ++c) {
            TMissionGrid& g = p.grid();
            g.SortIndex = c;
            g.SortDirection = SortDirType::Ascending;
            t = Clock::now();
            g.SortRows();
            sorts[static_cast<size_t>(c)].push_back(msSince(t));
            g.SortDirection = SortDirType::Descending;
            t = Clock::now();
            g.SortRows();
            sorts[static_cast<size_t>(c)].push_back(msSince(t));
        }
        std::printf(
            "run %d: first scan %.0f ms (facts of every archive read %.0f ms after it), second "
            "scan %.0f ms, third scan %.0f ms, unzip -Z1 loop %.0f ms\n",
            run + 1, first.back(), facts.back(), second.back(), third.back(), unzipLoop.back());
    }

    std::printf("\n== catalogue scan, %zu archives in 2 mission directories, median of %d runs\n",
                archives.size(), runs);
    const double f = median(first), u = median(unzipLoop), s = median(second);
    std::printf("first full scan    %8.1f ms  (goal < 1500 ms)  %s\n", f,
                f < 1500 ? "ok" : "MISSED");
    std::printf("unzip -Z1 loop     %8.1f ms  ratio scan/unzip %.3f\n", u, f / u);
    std::printf("facts of every archive read in the background %8.1f ms after the first scan "
                "(2 s of it the wait for the list to settle)\n",
                median(facts));
    std::printf("second full scan   %8.1f ms  (goal < 250 ms)   %s\n", s,
                s < 250 ? "ok" : "MISSED");
    double worstSort = 0;
    for (int c = 0; c < 7; ++c) {
        const auto& v = sorts[static_cast<size_t>(c)];
        const double worst = *std::max_element(v.begin(), v.end());
        worstSort = std::max(worstSort, worst);
        std::printf("sort by %-8s   median %6.2f ms, worst %6.2f ms\n", colNames[c], median(v),
                    worst);
    }
    std::printf("sorts, worst       %8.2f ms  (goal < 20 ms each) %s\n", worstSort,
                worstSort < 20 ? "ok" : "MISSED");

    // The game decision of a 20 MB mission file, each time on a fresh record.
    {
        Bench p(corpus, {"select"});
        TZipArchiver& zip = *p.form->Zip2;
        zip.SetZipFileName(corpus + "select/big.zip");
        IniFile& settings = *app().settings;
        std::vector<double> decide, extract, search, commit;
        int64_t size = 0;
        for (int i = 0; i < 7; ++i) {
            const std::string section = "big" + std::to_string(i) + ".1";
            IniBatch batch(settings);
            auto t = Clock::now();
            const uint8_t game = DecideGame(settings, section, "miss20.mis", zip);
            decide.push_back(msSince(t));
            t = Clock::now();
            batch.Commit();
            commit.push_back(msSince(t));
            if (game != 2) {
                std::printf("game decision: WRONG RESULT %d (want 2)\n", game);
                ++failures;
            }
            // Its two halves apart.
            t = Clock::now();
            const TZipStream* stream = zip.ExtractToStream("miss20.mis");
            extract.push_back(msSince(t));
            size = stream ? stream->Size() : 0;
            t = Clock::now();
            if (!ContainsMarker(games::find(2)->missionMarker, stream)) ++failures;
            search.push_back(msSince(t));
        }
        const double d = median(decide);
        std::printf("\n== game decision of a %.1f MB mission file, median of %zu\n",
                    static_cast<double>(size) / (1 << 20), decide.size());
        std::printf("DecideGame         %8.1f ms  (goal < 60 ms)    %s\n", d,
                    d < 60 ? "ok" : "MISSED");
        std::printf(
            "  extraction %.1f ms, marker search %.1f ms; storing the batch after it %.1f ms\n",
            median(extract), median(search), median(commit));
    }
    if (failures) std::printf("\n%d WRONG RESULTS\n", failures);
    return failures ? 1 : 0;
}
