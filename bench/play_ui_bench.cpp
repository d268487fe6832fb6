// Play through the main window, for bench/play_bench.sh: the window shown (offscreen unless a
// platform is set), every feature connected, the catalogue of MISSION_DIR scanned and the row
// of ARCHIVE_NAME selected; then the Play button clicked and timed until the game program
// has been started (the return of launcher::startProgram, through a link wrap set in
// bench/CMakeLists.txt), as play_bench times the same operation without a window.
//   play_ui_bench BIN_DIR WORK_DIR GAME_DIR MISSION_DIR ARCHIVE_NAME
// BIN_DIR holds the engines and the sound plug-in; WORK_DIR becomes the program directory
// (settings, the real language file). Prints "total SECONDS", "refreshed SECONDS" (until the
// window is usable again) and "peak KB"; a message the window would have shown goes out as
// "message TEXT" with exit status 3.

#include <sys/resource.h>

#include <QApplication>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Launcher.h"
#include "platform/TextUtil.h"
#include "platform/ui/QtPrompter.h"
#include "state/LanguageTable.h"

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point g_started;
int g_starts = 0;

// The window's prompter, except that a message box is printed instead of waiting for a
// click that never comes.
class PrintingPrompter final : public QtPrompter {
  public:
    PrintingPrompter() : QtPrompter(nullptr) {}
    int messages = 0;
    PromptResult message(const std::string& text, PromptButtons, PromptIcon, const std::string&,
                         PromptResult defaultButton) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::printf("message %s\n", line.c_str());
        ++messages;
        return defaultButton;
    }
};

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

// The link wrap: --wrap=SYMBOL sends the program's calls of SYMBOL to __wrap_SYMBOL and names
// the original __real_SYMBOL.
launcher::StartResult
realStartProgram(const std::string& program, const std::string& workingDir, const std::string& windowsCommand, const std::vector<std::string>& arguments) __asm__(
    "__real__ZN8launcher12startProgramERKNSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEES7_S7_RKSt6vectorIS5_SaIS5_EE");
launcher::StartResult
wrappedStartProgram(const std::string& program, const std::string& workingDir, const std::string& windowsCommand, const std::vector<std::string>& arguments) __asm__(
    "__wrap__ZN8launcher12startProgramERKNSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEES7_S7_RKSt6vectorIS5_SaIS5_EE");

launcher::StartResult wrappedStartProgram(const std::string& program, const std::string& workingDir,
                                          const std::string& windowsCommand,
                                          const std::vector<std::string>& arguments) {
    const launcher::StartResult result =
        realStartProgram(program, workingDir, windowsCommand, arguments);
    g_started = Clock::now();
    ++g_starts;
    return result;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s BIN_DIR WORK_DIR GAME_DIR MISSION_DIR ARCHIVE_NAME\n",
                     argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const std::string binDir = text::withTrailingDelim(argv[1]);
    const std::string work = text::withTrailingDelim(argv[2]);
    fsx::copyFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat", work + "Tallowmere.dat");
    openAppFiles(work);
    app().exeDir = binDir;  // the sound plug-in
    {
        IniFile& s = *app().settings;
        IniBatch batch(s);
        s.WriteString("options", "thief2dir", text::withTrailingDelim(argv[3]));
        s.WriteString("options", "compression level", "5");
        s.WriteString("mission directories", text::withTrailingDelim(argv[4]), "1");
        batch.Commit();
    }
    PrintingPrompter prompts;
    setPrompter(&prompts);
    InstallFeatureHooks();
    LoadLanguageTable();
    int rc = 0;
    {
        Tmainform form;
        for (TZipArchiver* z : {form.Zip.get(), form.Zip2.get()}) z->SetDLLDirectory(binDir);
        form.resize(1000, 700);
        form.show();
        form.ScanCatalogue(false);
        TMissionGrid& grid = *form.QuestGrid;
        int row = 0;
        for (int r = 1; r < grid.RowCount() && row == 0; ++r)
            if (grid.Cell(2, r) == argv[5]) row = r;
        if (row == 0) {
            std::printf("message no row %s\n", argv[5]);
            return 3;
        }
        bool canSelect = true;
        mainFormHooks().selectCell(form.QuestGrid, 0, row, canSelect);
        grid.SetRow(row);
        application.processEvents();

        const Clock::time_point click = Clock::now();
        form.playbutton->click();
        const Clock::time_point usable = Clock::now();
        if (g_starts != 1 || prompts.messages != 0) {
            std::printf("message the game was started %d times\n", g_starts);
            rc = 3;
        } else {
            std::printf("total %.3f\nrefreshed %.3f\n", seconds(click, g_started),
                        seconds(click, usable));
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak %ld\n", usage.ru_maxrss);
    mainFormHooks() = {};
    setPrompter(nullptr);
    closeAppFiles();
    return rc;
}
