// The viewer's main window: the all-in-one image control in the middle, the image's facts at
// the side, menus for files, editing, zoom, the mouse tools and every processing operation, and
// a status bar with the pointer's position and colour, the zoom, and the progress of long work.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "apps/quillo-view/forms.h"
#include "apps/quillo-view/imagecontrol.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/operations.h"
#include "quillo/multi/quillomio.h"
#include "quillo/multi/quillomview.h"

class QAction;
class QActionGroup;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QDockWidget;

namespace quillo {
class TQtControlWidget;
}

namespace quillo::view {

class TViewerWindow : public QMainWindow {
 public:
  TViewerWindow();
  ~TViewerWindow() override;

  // Shows image Frame of the file (a GIF frame, a TIFF page); false, after telling the user why,
  // when it cannot be read. The image shown before stays when the new one fails.
  bool OpenFile(const QString& Path, int32_t Frame = 0);
  // Writes the image to Path (format by extension, with the parameters as they stand).
  bool SaveTo(const QString& Path);

  TImageControl& View() { return *FView; }
  // The strip of the file's images (GIF frames, TIFF pages, AVI frames).
  TQuilloMView& Strip() { return *FStrip; }
  // Runs the operation on the image (its selection, when there is one), asking for its numbers
  // first when it has any.
  void RunOperation(const tool::TOp& Op);
  bool Modified() const { return FModified; }

  // Where messages and save-or-cancel questions go instead of message boxes (a program driving
  // the window, or a test).
  std::function<void(const QString& Text)> OnTell;
  std::function<bool(const QString& Text)> OnAsk;

 protected:
  void closeEvent(QCloseEvent* E) override;
  void dragEnterEvent(QDragEnterEvent* E) override;
  void dropEvent(QDropEvent* E) override;
  // While an annotation's text is typed, plain keys go to it rather than to the single-key
  // shortcuts of the tools.
  bool eventFilter(QObject* Watched, QEvent* E) override;

 private:
  // An action that does nothing while long work runs (its progress pumps the event loop).
  QAction* AddAction(QMenu* Menu, const QString& Text, const QKeySequence& Key,
                     std::function<void()> Run);
  void BuildMenus();
  void BuildOperationMenus(QMenu* Image);
  void BuildStatusBar();
  void BuildFacts();

  void OpenDialog();
  // Fills the strip of the file's images (GIF frames, TIFF pages, AVI frames); false when the
  // file holds fewer than two.
  bool LoadStrip(const QString& Path);
  // Selects image Index in the strip and scrolls the strip to it.
  void SelectInStrip(int32_t Index);
  // Shows image Index of an AVI from the strip (videos are read only through it).
  bool ShowVideoFrame(const QString& Path, int32_t Index);
  void Acquire();
  void ChooseScanner();
  void SaveAsDialog();
  void Save();
  void Print(bool PdfOnly);
  void ShowFrame(int32_t Step);
  // Asks whether to keep unsaved changes; false when the user cancels what was under way.
  bool MayDiscard();

  void SetTool(TQLMouseInteract Mode);
  void SetVectorTool(TQLMouseInteractVt Mode, TQLShape EndShape);
  void ShowMeasureModes();
  void BuildAnnotateMenu(QMenu* Menu);
  void MagicWandSettings();

  // Runs Work with the progress bar and its Cancel button shown; Abort is the flag Cancel sets
  // (a codec's), or nullptr for work that is undone when cancelled. False when Work threw (the
  // user is told) or was cancelled.
  bool RunBusy(const QString& Label, bool* Abort, const std::function<void()>& Work);
  TQLProgressEvent Progress(const std::string& Label);

  void ImageChanged(bool Modified);
  void UpdateFacts();
  void UpdateTitle();
  void UpdateActions();
  void ShowPointer(int32_t X, int32_t Y);
  void ShowZoom();
  void Warn(const std::string& Text);
  void Tell(const QString& Title, const QString& Text);
  bool Ask(const QString& Title, const QString& Text);

  std::unique_ptr<TImageControl> FView;
  TQtControlWidget* FHost = nullptr;
  QTreeWidget* FFacts = nullptr;
  // The strip of a multi-image file's images, in a dock below the image.
  std::unique_ptr<TQuilloMView> FStrip;
  std::unique_ptr<TQuilloMIO> FStripIO;
  TQtControlWidget* FStripHost = nullptr;
  QDockWidget* FStripDock = nullptr;
  QString FStripFile;
  bool FVideo = false;
  QLabel *FPosition = nullptr, *FColour = nullptr, *FZoom = nullptr;
  QProgressBar* FProgress = nullptr;
  QPushButton* FCancel = nullptr;
  QAction *FUndo = nullptr, *FSave = nullptr, *FNextFrame = nullptr, *FPrevFrame = nullptr;
  QAction* FSmooth = nullptr;
  QMenu* FViewMenu = nullptr;
  QAction *FMeasureLen = nullptr, *FMeasureArea = nullptr;
  QActionGroup* FTools = nullptr;
  std::map<TQLMouseInteract, QAction*> FToolActions;

  QString FFile;
  tool::TSourceInfo FSource;
  int32_t FFrame = 0;
  bool FModified = false;
  bool FBusy = false, FCancelled = false;
  bool* FAbort = nullptr;
  QElapsedTimer FPump;
  std::vector<std::string> FWarnings;
  // The values last used for each operation, offered again next time.
  std::map<std::string, tool::TValues> FLastValues;
  TPrintChoice FPrint;
};

}  // namespace quillo::view
