#pragma once
// The main window: mission grid, information panel, read-me text, two status lines, the
// command buttons and the progress bar.

#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/ZipTypes.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "inspect/InfoPanel.h"
#include "install/InstallLaunch.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QMenu;
class QPainter;
class QProgressBar;
class QPushButton;
class QToolButton;
class LibraryPanel;
class ReadmeView;
class TStringGridEx;
class TMissionGrid;
class TZipArchiver;

// A status line with one simple panel and no size grip.
class TStatusLine : public QLabel {
    Q_OBJECT
  public:
    explicit TStatusLine(QWidget* parent = nullptr);
    std::string SimpleText() const { return text_; }
    void SetSimpleText(const std::string& text);

  private:
    std::string text_;
};

// The actions of later features behind the main window's events. Each one that is not
// set does nothing.
struct MainFormHooks {
    std::function<void(bool refreshOnly)> scanCatalogue;
    std::function<void(TStringGridEx* sender, int col, int row, bool& canSelect)> selectCell;
    std::function<void(TStringGridEx* sender, int col, int row, const QRect& rect,
                       QPainter& painter, bool selected)>
        drawCell;
    std::function<void()> finishedClick;
    std::function<void(InstallAction action)> installAndLaunch;
    // Removes the selected mission's installed mission folder.
    std::function<void()> removeMissionFolder;
    // Brings back an older saved game of the selected mission.
    std::function<void()> bringBackSavedGame;
    // Shows the about box modally (its OK button captioned with slot 73).
    std::function<void()> aboutBox;
    // Shows the about box as a splash while `whileShown` runs; without it the function
    // simply runs.
    std::function<void(const std::function<void()>& whileShown)> splash;
    // Asks for the password of the selected archive (the panel's password button).
    std::function<void()> enterPassword;
    // While held, a full scan leaves the row it chose unhandled by the selection handler;
    // the start-up holds it until interrupted operations are recovered, then selects.
    std::function<void(bool held)> holdSelection;
};
MainFormHooks& mainFormHooks();

class Tmainform : public QWidget {
    Q_OBJECT
  public:
    explicit Tmainform(QWidget* parent = nullptr);
    ~Tmainform() override;

    // Controls, named as the program knows them.
    TStatusLine* CurrentBar;
    QFrame* Panel1;
    TMissionGrid* QuestGrid;
    QLineEdit* FilterEdit;  // narrows the grid's rows
    QFrame* Panel3;
    QLabel* Questinfo;
    QCheckBox* goalscheck;
    QCheckBox* mapcheck;
    QCheckBox* automapcheck;
    QCheckBox* texturecheck;
    QCheckBox* soundscheck;
    QCheckBox* objectscheck;
    QCheckBox* creaturescheck;
    QCheckBox* gamesyscheck;
    QCheckBox* bookscheck;
    QCheckBox* moviescheck;
    QLabel* NotesCaption;
    QLabel* noteslabel;
    QComboBox* LanguageCombo;
    QPushButton* PasswordButton;  // asks for the password of an encrypted archive
    QFrame* OrigPanel;
    QCheckBox* finished;
    ReadmeView* questMemo;
    // Beside the read-me, below the information panel: the player's library of the mission.
    LibraryPanel* Library;
    QFrame* Panel2;
    QToolButton* playbutton;
    QToolButton* dromedbutton;
    QToolButton* installonlybutton;
    // The remove command, as a button and in the grid's context menu of a mission row: one
    // action, enabled while the selected mission is installed in its mission folder.
    QToolButton* removebutton;
    QMenu* GridMenu;
    QAction* removeaction;
    // In the grid's context menu: bring back an older saved game of the selected mission.
    QAction* oldersavesaction;
    QToolButton* SetupButton;
    QToolButton* AboutButton;
    QProgressBar* ProgressBar;
    TStatusLine* StatusBar;
    // The bars the mouse drags: between the list and the read-me, the list and the panel.
    QWidget* ListSplit;
    QWidget* PanelSplit;

    // Images of the grid: each game's mark and the finished mark (16 x 16).
    QuestGridImages ImageList;

    // The archive components: Zip holds the selected archive and does every extraction;
    // Zip2 tests archives for missions and creates the backup and saves archives.
    std::unique_ptr<TZipArchiver> Zip;
    std::unique_ptr<TZipArchiver> Zip2;

    // The progress bar in bytes. Byte counts beyond the bar's int range are scaled down
    // for display; a value set on ProgressBar directly is taken over.
    int64_t ProgressPosition() const;
    void SetProgressPosition(int64_t bytes);
    int64_t ProgressMax() const { return progressMax_; }
    void SetProgressMax(int64_t bytes);

    // Applies the language table to captions and hints.
    void ApplyLanguage();
    // The content boxes' captions, by language slot in the boxes' order (InfoPanel's), kept
    // through a change of language.
    void setContentCaptions(const std::array<int, 10>& captionSlots);
    // The locale and Qt's own translation of the interface's language.
    static void applyInterfaceLocale();
    // Window geometry in section "window": top and left of the frame, client height and
    // width.
    void SaveWindowGeometry();
    void RestoreWindowGeometry();

    // Events.
    void FormCreate();
    void FormResize();
    void FormClose();
    void playbuttonClick();
    void DromedButtonClick();
    void installonlybuttonClick();
    void removeactionTriggered();
    void oldersavesactionTriggered();
    void SetupButtonClick();
    void AboutButtonClick();
    void finishedClick();
    void QuestGridDrawCell(TStringGridEx* sender, int col, int row, const QRect& rect,
                           QPainter& painter, bool selected);
    void QuestGridSelectCell(TStringGridEx* sender, int col, int row, bool& canSelect);
    // A right click on a mission row (`pos` in the grid's viewport) selects it as a left
    // click does, then opens the grid's menu.
    void QuestGridContextMenu(const QPoint& pos);

    // Operations of later features.
    void ScanCatalogue(bool refreshOnly);
    void InstallAndLaunch(InstallAction action);

    // Height of Panel1 for a client height: 5/11 of it, rounded half to even.
    static int Panel1HeightFor(int clientHeight);

    // Runs an event handler; an error escaping it is shown and the program goes on.
    static void RunHandler(const std::function<void()>& handler);

  protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

  private:
    void createControls();
    void createGridPanel();
    void createInfoPanel();
    void createMemoAndCommands();
    void createSplitHandles();
    int listHeightFor(int clientHeight) const;
    QCheckBox* makeContentBox(const char* name, int x, int y, int width);
    QToolButton* makeButton(const char* name, const char* glyph, int x, int width);
    void setUpArchiver(TZipArchiver& zip);

    std::array<QCheckBox*, 10> contentBoxes_{};
    std::array<int, 10> contentCaptions_ = kThiefBoxCaptions;
    uint16_t autoPlayMessage_ = 0;
    mutable int64_t progressPosition_ = 0;
    int64_t progressMax_ = 100;
    int progressShift_ = 0;  // bar units = bytes >> progressShift_
    int listShare_ = 0;      // the list's height in thousandths of the window's; 0: 5/11
    int panelWidth_ = 0;     // the information panel's width as dragged
};

// The one main window while it exists, else nullptr.
extern Tmainform* mainform;

// The main window's geometry persistence, for callers outside the window.
void SaveWindowGeometry();
void RestoreWindowGeometry();
