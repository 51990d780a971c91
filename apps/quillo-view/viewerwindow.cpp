#include "apps/quillo-view/viewerwindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>
#include <set>

#include "apps/quillo/commands.h"
#include "apps/quillo/paramtable.h"
#include "apps/quillo/session.h"
#include "quillo/backends/qt/qthost.h"
#include "quillo/io/fileformats.h"
#include "quillo/lzw/lzw.h"
#include "quillo/platform/printer.h"

namespace quillo::view {

namespace {

QString Q(const std::string& S) {
  return QString::fromStdString(S);
}

// The operations of the Image menu by submenu; those working on coordinates typed in (crop,
// select, the magic wand at a point) are the mouse's work here and are left out.
const std::vector<std::pair<const char*, std::vector<const char*>>>& OperationMenus() {
  static const std::vector<std::pair<const char*, std::vector<const char*>>> Menus = {
      {"&Colour",
       {"negative", "gray", "contrast", "hsl", "hsv", "intensity", "threshold", "equalize",
        "levels"}},
      {"&Filters",
       {"convolve", "maximum", "minimum", "opening", "closing", "bump", "lens", "wave"}},
      {"&Geometry", {"resample", "resize", "rotate", "flip"}},
      {"Colour &reduction", {"reduce", "dither", "bw"}},
      {"Fo&urier", {"lowpass", "highpass"}},
  };
  return Menus;
}

// Shortcuts of the operations used most.
QKeySequence OperationKey(const std::string& Name) {
  if (Name == "negative") return QKeySequence(Qt::CTRL | Qt::Key_I);
  if (Name == "gray") return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G);
  if (Name == "rotate") return QKeySequence(Qt::CTRL | Qt::Key_R);
  if (Name == "resample") return QKeySequence(Qt::CTRL | Qt::Key_E);
  return {};
}

const TQLMouseInteract kSelectFreehand = miSelectPolygon;

}  // namespace

TViewerWindow::TViewerWindow() : FView(std::make_unique<TImageControl>()) {
  // GIF and LZW-compressed TIFF need the application's LZW coders.
  QLInstallLZWCoders();
  setAcceptDrops(true);
  FView->Proc().SetAutoUndo(true);
  FView->SetCenter(true);
  FView->SetBackGround(TColor(0x404040));
  FView->SetZoomFilter(rfTriangle);
  FView->SetDelayZoomFilter(true);
  FView->SetMouseInteract(miSelect);
  // Bars show where a zoomed-in picture lies and reach every part of it; they go when it fits.
  FView->SetScrollBars(ssBoth);
  // The wheel turned away from the user enlarges, as in other viewers.
  FView->MouseWheelParams().InvertDirection = true;
  // Text annotations are sized by their box.
  FView->SetObjFontHeight(TQuilloVect::kTemplate, 0);
  // A click picks an annotation within a few pixels of it; elsewhere it clears the choice.
  FView->SetMaxSelectionDistance(8);
  FView->OnMouseMove = [this](TObject*, TShiftState, int32_t X, int32_t Y) { ShowPointer(X, Y); };
  FView->OnViewChange = [this](TObject*, int32_t) { ShowZoom(); };
  FView->OnSelectionChange = [this](TObject*) { UpdateActions(); };
  FView->OnVectorialChanged = [this](TObject*) { ImageChanged(true); };
  FView->OnDragLenEnd = [this](TObject*, double Length) {
    statusBar()->showMessage(QString("Distance: %1 %2")
                                 .arg(QString::fromStdString(FView->FormatMeasure(Length)))
                                 .arg(strunits[FView->GetMUnit()]),
                             8000);
  };
  FHost = new TQtControlWidget(*FView, this);
  FHost->setMinimumSize(200, 150);
  setCentralWidget(FHost);
  FHost->installEventFilter(this);
  BuildMenus();
  BuildStatusBar();
  BuildFacts();
  tool::SetQuiet(false);
  tool::SetProgressSink([this](const std::string& Label) { return Progress(Label); });
  tool::SetWarningSink([this](const std::string& Text) { Warn(Text); });
  if (const QScreen* S = QGuiApplication::primaryScreen()) {
    const QSize Room = S->availableSize();
    resize(std::min(1100, Room.width()), std::min(760, Room.height()));
  }
  UpdateTitle();
  UpdateActions();
  FHost->setFocus();
}

TViewerWindow::~TViewerWindow() {
  tool::SetProgressSink(nullptr);
  tool::SetWarningSink(nullptr);
  // The hosting widgets refer to the controls; they go first.
  std::unique_ptr<QWidget> Host(takeCentralWidget());
  std::unique_ptr<QWidget> Strip(FStripHost);
}

QAction* TViewerWindow::AddAction(QMenu* Menu, const QString& Text, const QKeySequence& Key,
                                  std::function<void()> Run) {
  QAction* A = Menu->addAction(Text);
  if (!Key.isEmpty()) A->setShortcut(Key);
  connect(A, &QAction::triggered, this, [this, Run = std::move(Run)] {
    if (!FBusy) Run();
  });
  return A;
}

// ---------------------------------------------------------------------------------------------
// Menus and bars

void TViewerWindow::BuildMenus() {
  QMenu* File = menuBar()->addMenu("&File");
  AddAction(File, "&Open...", QKeySequence::Open, [this] { OpenDialog(); });
  FSave = AddAction(File, "&Save", QKeySequence::Save, [this] { Save(); });
  AddAction(File, "Save &As...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
            [this] { SaveAsDialog(); });
  File->addSeparator();
  FPrevFrame = AddAction(File, "Pre&vious Image in File", QKeySequence(Qt::Key_PageUp),
                         [this] { ShowFrame(-1); });
  FNextFrame = AddAction(File, "&Next Image in File", QKeySequence(Qt::Key_PageDown),
                         [this] { ShowFrame(1); });
  File->addSeparator();
  AddAction(File, "A&cquire from Scanner...", {}, [this] { Acquire(); });
  AddAction(File, "C&hoose Scanner...", {}, [this] { ChooseScanner(); });
  File->addSeparator();
  AddAction(File, "&Print...", QKeySequence::Print, [this] { Print(false); });
  AddAction(File, "Print to P&DF...", {}, [this] { Print(true); });
  File->addSeparator();
  AddAction(File, "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });

  QMenu* Edit = menuBar()->addMenu("&Edit");
  FUndo = AddAction(Edit, "&Undo", QKeySequence::Undo, [this] {
    FView->Proc().Undo();
    ImageChanged(true);
  });
  Edit->addSeparator();
  AddAction(Edit, "Cu&t", QKeySequence::Cut, [this] {
    if (!FView->GetSelected()) return;
    FView->Proc().SaveUndo();
    FView->Proc().SelCutToClip();
    ImageChanged(true);
  });
  AddAction(Edit, "&Copy", QKeySequence::Copy, [this] {
    if (FView->GetSelected())
      FView->Proc().SelCopyToClip();
    else
      FView->Proc().CopyToClipboard();
    statusBar()->showMessage("Copied to the clipboard", 2000);
  });
  AddAction(Edit, "&Paste as New Image", QKeySequence::Paste, [this] {
    FView->Proc().SaveUndo();
    const int32_t W = FView->Bitmap().GetWidth(), H = FView->Bitmap().GetHeight();
    FView->Proc().PasteFromClipboard();
    if (FView->Bitmap().GetWidth() != W || FView->Bitmap().GetHeight() != H) FView->Fit();
    ImageChanged(true);
  });
  AddAction(Edit, "Paste &into Selection", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), [this] {
    FView->Proc().SaveUndo();
    FView->Proc().SelPasteFromClipStretch();
    ImageChanged(true);
  });
  AddAction(Edit, "&Erase Selection", QKeySequence::Delete, [this] {
    // Selected annotations go first; otherwise the selected area is erased.
    if (FView->SelObjectsCount() > 0) {
      while (FView->SelObjectsCount() > 0) FView->RemoveObject(FView->SelObjects(0));
      ImageChanged(true);
      return;
    }
    FView->Proc().SaveUndo();
    FView->Proc().ClearSel();
    ImageChanged(true);
  });
  Edit->addSeparator();
  AddAction(Edit, "Select &All", QKeySequence::SelectAll, [this] {
    FView->Select(0, 0, FView->Bitmap().GetWidth(), FView->Bitmap().GetHeight(), qlspReplace);
  });
  AddAction(Edit, "&Deselect", QKeySequence(Qt::CTRL | Qt::Key_D), [this] { FView->DeSelect(); });
  AddAction(Edit, "C&rop to Selection", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X), [this] {
    if (!FView->GetSelected()) return;
    FView->Proc().CropSel();
    FView->DeSelect();
    FView->Fit();
    ImageChanged(true);
  });

  QMenu* ViewMenu = FViewMenu = menuBar()->addMenu("&View");
  AddAction(ViewMenu, "&Fit in Window", QKeySequence(Qt::CTRL | Qt::Key_0),
            [this] { FView->Fit(); });
  AddAction(ViewMenu, "&Actual Size", QKeySequence(Qt::CTRL | Qt::Key_1),
            [this] { FView->SetZoom(100); });
  AddAction(ViewMenu, "Zoom &In", QKeySequence::ZoomIn,
            [this] { FView->SetZoom(FView->GetZoom() * 1.25); });
  AddAction(ViewMenu, "Zoom &Out", QKeySequence::ZoomOut,
            [this] { FView->SetZoom(FView->GetZoom() / 1.25); });
  ViewMenu->addSeparator();
  QAction* AutoFit = AddAction(ViewMenu, "Fit &Automatically", {}, [] {});
  AutoFit->setCheckable(true);
  connect(AutoFit, &QAction::toggled, this, [this](bool On) { FView->SetAutoFit(On); });
  FSmooth = AddAction(ViewMenu, "&Smooth Zoom", {}, [] {});
  FSmooth->setCheckable(true);
  FSmooth->setChecked(true);
  connect(FSmooth, &QAction::toggled, this,
          [this](bool On) { FView->SetZoomFilter(On ? rfTriangle : rfNone); });
  QAction* Grid = AddAction(ViewMenu, "Pixel &Grid", {}, [] {});
  Grid->setCheckable(true);
  connect(Grid, &QAction::toggled, this, [this](bool On) { FView->SetDisplayGrid(On); });

  QMenu* Tools = menuBar()->addMenu("&Tools");
  FTools = new QActionGroup(this);
  const std::vector<std::tuple<const char*, Qt::Key, TQLMouseInteract>> Modes = {
      {"&Rectangle Selection", Qt::Key_M, miSelect},
      {"&Ellipse Selection", Qt::Key_E, miSelectCircle},
      {"&Polygon and Freehand Selection", Qt::Key_L, kSelectFreehand},
      {"&Magic Wand", Qt::Key_W, miSelectMagicWand},
      {"Zoom to &Selection", Qt::Key_S, miSelectZoom},
      {"&Zoom by Click (right button: out)", Qt::Key_Z, miZoom},
      {"&Hand: Scroll by Drag", Qt::Key_H, miScroll},
  };
  for (const auto& [Text, Key, Mode] : Modes) {
    const TQLMouseInteract M = Mode;
    QAction* A = AddAction(Tools, Text, QKeySequence(Key), [this, M] { SetTool(M); });
    A->setCheckable(true);
    A->setChecked(M == miSelect);
    FTools->addAction(A);
    FToolActions[M] = A;
  }
  Tools->addSeparator();
  AddAction(Tools, "Magic Wand &Settings...", {}, [this] { MagicWandSettings(); });

  BuildAnnotateMenu(menuBar()->addMenu("&Annotate"));
  BuildOperationMenus(menuBar()->addMenu("&Image"));

  QMenu* Help = menuBar()->addMenu("&Help");
  AddAction(Help, "&About", {}, [this] {
    QMessageBox::about(this, "About quillo-view",
                       "quillo-view: an image viewer and editor built on the Quillo "
                       "components.\n\nOpen images from the File menu, by dragging them onto "
                       "the window or from the command line.");
  });
}

void TViewerWindow::BuildOperationMenus(QMenu* Image) {
  for (const auto& [Title, Names] : OperationMenus()) {
    QMenu* Sub = Image->addMenu(Title);
    for (const char* Name : Names) {
      const tool::TOp* Op = tool::FindOp(Name);
      if (!Op) continue;
      QString Text = Q(Op->Summary);
      Text[0] = Text[0].toUpper();
      if (!Op->Args.empty()) Text += "...";
      QAction* A = AddAction(Sub, Text, OperationKey(Name), [this, Op] { RunOperation(*Op); });
      A->setToolTip(Q(Op->Name));
    }
  }
}

void TViewerWindow::BuildStatusBar() {
  FPosition = new QLabel;
  FColour = new QLabel;
  FZoom = new QLabel;
  FPosition->setMinimumWidth(110);
  FColour->setMinimumWidth(150);
  FProgress = new QProgressBar;
  FProgress->setRange(0, 100);
  FProgress->setMaximumWidth(260);
  FProgress->setTextVisible(true);
  FCancel = new QPushButton("Cancel");
  connect(FCancel, &QPushButton::clicked, this, [this] {
    FCancelled = true;
    if (FAbort) *FAbort = true;
  });
  statusBar()->addPermanentWidget(FProgress);
  statusBar()->addPermanentWidget(FCancel);
  statusBar()->addPermanentWidget(FPosition);
  statusBar()->addPermanentWidget(FColour);
  statusBar()->addPermanentWidget(FZoom);
  FProgress->hide();
  FCancel->hide();
}

void TViewerWindow::BuildFacts() {
  auto* Dock = new QDockWidget("Image", this);
  Dock->setObjectName("facts");
  FFacts = new QTreeWidget(Dock);
  FFacts->setColumnCount(2);
  FFacts->setHeaderLabels({"Property", "Value"});
  FFacts->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  FFacts->setRootIsDecorated(true);
  Dock->setWidget(FFacts);
  addDockWidget(Qt::RightDockWidgetArea, Dock);
  FViewMenu->addAction(Dock->toggleViewAction());
  resizeDocks({Dock}, {330}, Qt::Horizontal);

  FStrip = std::make_unique<TQuilloMView>();
  FStrip->SetThumbWidth(96);
  FStrip->SetThumbHeight(72);
  // One row of thumbnails: a bar reaches those past the right edge.
  FStrip->SetScrollBars(ssHorizontal);
  FStripIO = std::make_unique<TQuilloMIO>();
  FStripIO->SetAttachedMView(FStrip.get());
  FStrip->OnImageSelect = [this](TObject*, int32_t Index) {
    if (FBusy || Index == FFrame || Index < 0) return;
    // Deferred: the strip is inside its own mouse handling here.
    QTimer::singleShot(0, this, [this, Index] {
      if (!MayDiscard()) return;
      if (FVideo)
        ShowVideoFrame(FFile, Index);
      else
        OpenFile(FFile, Index);
    });
  };
  FStripDock = new QDockWidget("Images in the File", this);
  FStripDock->setObjectName("strip");
  FStripHost = new TQtControlWidget(*FStrip, FStripDock);
  FStripHost->setMinimumHeight(100);
  FStripDock->setWidget(FStripHost);
  addDockWidget(Qt::BottomDockWidgetArea, FStripDock);
  FStripDock->hide();
}

bool TViewerWindow::LoadStrip(const QString& Path) {
  if (Path == FStripFile && FStrip->GetImageCount() > 1) return true;
  FStrip->Clear();
  FStripFile.clear();
  const std::string Ext = QFileInfo(Path).suffix().toLower().toStdString();
  if (Ext != "gif" && Ext != "tif" && Ext != "tiff" && Ext != "avi") return false;
  FStripIO->Aborting = false;
  try {
    FStripIO->LoadFromFile(Path.toStdString());
  } catch (const std::exception&) {
    FStrip->Clear();
    return false;
  }
  if (FStripIO->Aborting || FStrip->GetImageCount() < 2) {
    if (Ext != "avi") FStrip->Clear();
    return FStrip->GetImageCount() > 0 && Ext == "avi";
  }
  FStripFile = Path;
  return true;
}

void TViewerWindow::SelectInStrip(int32_t Index) {
  FStrip->SetSelectedItem(Index);
  // Stepping through the file with the keys keeps the shown image's thumbnail in sight; a
  // strip just shown has its size once Qt has laid it out.
  auto Reveal = [this, Index] {
    if (FStrip->GetSelectedItem() == Index && FStrip->GetImageVisibility(Index) < 2)
      FStrip->CenterSelected();
  };
  Reveal();
  QTimer::singleShot(0, this, Reveal);
}

bool TViewerWindow::ShowVideoFrame(const QString& Path, int32_t Index) {
  TBitmap* Frame = FStrip->GetBitmap(Index);
  if (!Frame) {
    Tell("quillo-view", QFileInfo(Path).fileName() + ": this frame cannot be read.");
    return false;
  }
  TBitmap Copy;
  Copy.Assign(*Frame);
  FStrip->ReleaseBitmap(Index);
  if (Copy.GetPixelFormat() != pf24bit) Copy.SetPixelFormat(pf24bit);
  FView->DeSelect();
  FView->Bitmap() = std::move(Copy);
  if (const TIOParamsVals* P = FStripIO->GetParams(Index)) FView->IO().AssignParams(*P);
  FView->Proc().ClearUndo();
  FFile = Path;
  FVideo = true;
  FSource = tool::TSourceInfo{};
  FSource.Name = Path.toStdString();
  FSource.Images = FStrip->GetImageCount();
  FFrame = Index;
  SelectInStrip(Index);
  FView->Update();
  if (FView->Bitmap().GetWidth() > FView->GetClientWidth() ||
      FView->Bitmap().GetHeight() > FView->GetClientHeight())
    FView->Fit();
  ImageChanged(false);
  return true;
}

void TViewerWindow::Acquire() {
  if (!MayDiscard()) return;
  TQLTWainParams& TW = FView->IO().TWainParams();
  if (TW.GetSourceCount() == 0) {
    Tell("Acquire", "No scanner was found.");
    return;
  }
  TBitmap Before;
  Before.Assign(FView->Bitmap());
  bool Ok = false;
  RunBusy("Scanning", &FView->IO().Aborting, [&] { Ok = FView->IO().Acquire(); });
  if (!Ok) {
    FView->Bitmap() = std::move(Before);
    FView->Update();
    statusBar()->showMessage("Nothing was scanned", 4000);
    return;
  }
  FView->DeSelect();
  FView->Proc().ClearUndo();
  FFile.clear();
  FVideo = false;
  FSource = tool::TSourceInfo{};
  FSource.Name = "scan";
  FFrame = 0;
  FStripDock->hide();
  FView->Fit();
  ImageChanged(true);
}

void TViewerWindow::ChooseScanner() {
  TQLTWainParams& TW = FView->IO().TWainParams();
  TW.RefreshSourceList();
  QStringList Names;
  for (int32_t I = 0; I < TW.GetSourceCount(); ++I) Names << Q(TW.GetSourceName(I));
  if (Names.isEmpty()) {
    Tell("Choose Scanner", "No scanner was found.");
    return;
  }
  bool Ok = false;
  const QString Name = QInputDialog::getItem(this, "Choose Scanner", "Scanner", Names,
                                             std::max(TW.GetSelectedSource(), 0), false, &Ok);
  if (Ok) TW.SetSelectedSource(static_cast<int32_t>(Names.indexOf(Name)));
}

// ---------------------------------------------------------------------------------------------
// Files

bool TViewerWindow::OpenFile(const QString& Path, int32_t Frame) {
  // Videos are read frame by frame through the strip.
  if (QFileInfo(Path).suffix().toLower() == "avi") {
    bool Ok = false;
    RunBusy("Reading " + QFileInfo(Path).fileName(), &FStripIO->Aborting,
            [&] { Ok = LoadStrip(Path); });
    if (!Ok) {
      Tell("quillo-view", QFileInfo(Path).fileName() + ": not a video this build reads.");
      return false;
    }
    FStripFile = Path;
    FStripDock->setVisible(FStrip->GetImageCount() > 1);
    return ShowVideoFrame(Path, std::clamp(Frame, 0, FStrip->GetImageCount() - 1));
  }
  TBitmap Loaded;
  TQuilloIO Loader;
  Loader.SetAttachedBitmap(&Loaded);
  tool::TSourceInfo Info;
  const std::string Name = Path.toStdString();
  if (!RunBusy("Reading " + QFileInfo(Path).fileName(), &Loader.Aborting, [&] {
        const tool::TInputFile In(Name);
        Info = tool::LoadImage(Loader, In, Frame);
      }))
    return false;
  if (Loaded.GetPixelFormat() != pf24bit && Loaded.GetPixelFormat() != pf1bit)
    Loaded.SetPixelFormat(pf24bit);
  FView->DeSelect();
  FView->Bitmap() = std::move(Loaded);
  FView->IO().AssignParams(Loader);
  FView->Proc().ClearUndo();
  FFile = Path;
  FVideo = false;
  FSource = Info;
  FFrame = Frame;
  // A file of several images shows them in the strip, the one shown selected.
  if (FSource.Images > 1 && LoadStrip(Path)) {
    FStripDock->show();
    SelectInStrip(Frame);
  } else {
    FStrip->Clear();
    FStripFile.clear();
    FStripDock->hide();
  }
  // The new image is shown plain at once and smoothed right after: a large photograph appears
  // as soon as it is decoded.
  FView->SetZoomFilter(rfNone);
  FView->Update();
  // Larger than the window: fitted; otherwise pixel for pixel.
  if (FView->Bitmap().GetWidth() > FView->GetClientWidth() ||
      FView->Bitmap().GetHeight() > FView->GetClientHeight())
    FView->Fit();
  else
    FView->SetZoom(100);
  QTimer::singleShot(0, this, [this] {
    if (FSmooth->isChecked()) FView->SetZoomFilter(rfTriangle);
  });
  ImageChanged(false);
  return true;
}

void TViewerWindow::OpenDialog() {
  if (!MayDiscard()) return;
  QString Filter = "Images (";
  for (const auto& Row : qlgFileFormats())
    for (const QString& E : Q(Row->Extensions).split(';', Qt::SkipEmptyParts))
      Filter += "*." + E.toLower() + " *." + E.toUpper() + " ";
  Filter += ");;All files (*)";
  const QString Path =
      QFileDialog::getOpenFileName(this, "Open Image", QFileInfo(FFile).path(), Filter);
  if (!Path.isEmpty()) OpenFile(Path);
}

void TViewerWindow::ShowFrame(int32_t Step) {
  const int32_t Next = FFrame + Step;
  if (FFile.isEmpty() || Next < 0 || Next >= FSource.Images || !MayDiscard()) return;
  if (FVideo)
    ShowVideoFrame(FFile, Next);
  else
    OpenFile(FFile, Next);
}

bool TViewerWindow::SaveTo(const QString& Path) {
  TQuilloIO& IO = FView->IO();
  const std::string Name = Path.toStdString();
  // The file gets what the window shows: annotations are drawn into the picture written, and
  // stay editable over the image kept here.
  struct TBurnt {
    TImageControl& View;
    TBitmap Kept;
    bool Active = false;
    explicit TBurnt(TImageControl& V) : View(V) {
      if (View.ObjectsCount() == 0) return;
      Kept.Assign(View.Bitmap());
      View.CopyObjectsToBack();
      Active = true;
    }
    ~TBurnt() {
      if (!Active) return;
      View.Bitmap() = std::move(Kept);
      View.Update();
    }
  } Burnt(*FView);
  tool::ParamsFollowBitmap(IO.IOParams(), FView->Bitmap());
  int32_t Type = ioUnknown;
  try {
    Type = tool::OutputType(Name, "");
  } catch (const tool::TUsageError& E) {
    Tell("Save", Q(E.Message));
    return false;
  }
  // What the file will not hold is said before it is written, while the user can still choose
  // another format or name.
  TIOParamsVals Trial;
  Trial.Assign(IO.IOParams());
  tool::FitParams(Trial, Type, Name);
  FWarnings.clear();
  tool::ForgetWarnings();
  tool::ReportLosses(FSource, FView->Bitmap(), Type, Trial,
                     QFileInfo(Path).fileName().toStdString());
  if (!FWarnings.empty()) {
    QString Text = "This file will not keep everything:\n";
    for (const std::string& W : FWarnings) Text += "\n" + Q(W);
    if (!Ask("Save", Text + "\n\nSave anyway?")) return false;
  }
  IO.Aborting = false;
  if (!RunBusy("Writing " + QFileInfo(Path).fileName(), &IO.Aborting,
               [&] { tool::SaveImage(IO, Name); }))
    return false;
  // From here on the facts are those of the file written: its depth and parameters.
  const int32_t Quality = IO.IOParams().JpegQuality;
  IO.ParamsFromFile(Name);
  IO.IOParams().JpegQuality = Quality;
  FFile = Path;
  FSource = tool::TSourceInfo{};
  FSource.Name = Name;
  FSource.FileType = Type;
  FSource.JpegQuality = Quality;
  FFrame = 0;
  FModified = false;
  statusBar()->showMessage("Saved " + QFileInfo(Path).fileName(), 3000);
  UpdateTitle();
  UpdateFacts();
  UpdateActions();
  return true;
}

void TViewerWindow::Save() {
  // A file of several images, or one this library cannot write, is not overwritten by one
  // image: the user picks a name.
  bool Writable = false;
  try {
    tool::OutputType(FFile.toStdString(), "");
    Writable = !FFile.isEmpty();
  } catch (const tool::TUsageError&) {
  }
  if (!Writable || FSource.Images > 1) {
    if (FSource.Images > 1)
      statusBar()->showMessage(QString("%1 holds %2 images; saving writes this one to a new file")
                                   .arg(QFileInfo(FFile).fileName())
                                   .arg(FSource.Images),
                               5000);
    SaveAsDialog();
    return;
  }
  SaveTo(FFile);
}

void TViewerWindow::SaveAsDialog() {
  QStringList Filters;
  for (const auto& Row : qlgFileFormats()) {
    const QStringList Exts = Q(Row->Extensions).split(';', Qt::SkipEmptyParts);
    if (Exts.isEmpty()) continue;
    try {
      tool::OutputType("x." + Exts[0].toLower().toStdString(), "");
    } catch (const tool::TUsageError&) {
      continue;
    }
    QString F = Q(Row->FullName) + " (";
    for (const QString& E : Exts) F += "*." + E.toLower() + " ";
    Filters << F.trimmed() + ")";
  }
  QString Selected;
  QString Path =
      QFileDialog::getSaveFileName(this, "Save Image As", FFile, Filters.join(";;"), &Selected);
  if (Path.isEmpty()) return;
  // A name without an extension takes the chosen type's first one.
  if (QFileInfo(Path).suffix().isEmpty() && !Selected.isEmpty()) {
    const int32_t Star = static_cast<int32_t>(Selected.indexOf("*."));
    if (Star >= 0) Path += Selected.mid(Star + 1).section(' ', 0, 0).remove(')');
  }
  int32_t Type = ioUnknown;
  try {
    Type = tool::OutputType(Path.toStdString(), "");
  } catch (const tool::TUsageError& E) {
    Tell("Save Image As", Q(E.Message));
    return;
  }
  if (FSource.Images > 1 && QFileInfo(Path) == QFileInfo(FFile)) {
    Tell("Save Image As",
         "This file holds several images; writing one image over it would lose "
         "the others. Choose another name.");
    return;
  }
  if (!AskSaveParams(this, Type, FView->IOParams())) return;
  SaveTo(Path);
}

bool TViewerWindow::MayDiscard() {
  if (!FModified) return true;
  const auto Answer = QMessageBox::question(
      this, "quillo-view", QString("Save the changes to %1?").arg(QFileInfo(FFile).fileName()),
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  if (Answer == QMessageBox::Cancel) return false;
  if (Answer == QMessageBox::Discard) return true;
  Save();
  return !FModified;
}

void TViewerWindow::Print(bool PdfOnly) {
  TPrintChoice C = FPrint;
  if (C.Printer.empty() && !Printer().Printers().empty()) C.Printer = Printer().Printers()[0];
  if (!AskPrint(this, C, PdfOnly)) return;
  FPrint = C;
  TPrinter& P = Printer();
  if (!P.SelectPrinter(C.Printer)) {
    Tell("Print", "There is no printer named " + Q(C.Printer) + ".");
    return;
  }
  if (C.Printer == "PDF") P.SetOutputFile(C.PdfFile);
  P.SetOrientation(C.Landscape ? poLandscape : poPortrait);
  P.Title = FFile.isEmpty() ? "Image" : QFileInfo(FFile).fileName().toStdString();
  TQuilloIO& IO = FView->IO();
  IO.Aborting = false;
  if (RunBusy("Printing", &IO.Aborting, [&] {
        P.BeginDoc();
        try {
          IO.PrintImage(P.Canvas(), C.Margin, C.Margin, C.Margin, C.Margin, C.Vertical,
                        C.Horizontal, C.Size, 0, 0, 1.0);
          if (IO.Aborting)
            P.Abort();
          else
            P.EndDoc();
        } catch (...) {
          P.Abort();
          throw;
        }
      }))
    statusBar()->showMessage(
        C.Printer == "PDF" ? "Printed to " + Q(C.PdfFile) : "Sent to " + Q(C.Printer), 4000);
}

void TViewerWindow::closeEvent(QCloseEvent* E) {
  if (FBusy || !MayDiscard())
    E->ignore();
  else
    E->accept();
}

bool TViewerWindow::eventFilter(QObject* Watched, QEvent* E) {
  if (Watched == FHost && E->type() == QEvent::ShortcutOverride && FView->EditingText() >= 0) {
    const auto* K = static_cast<QKeyEvent*>(E);
    if (!(K->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      E->accept();
      return true;
    }
  }
  return QMainWindow::eventFilter(Watched, E);
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* E) {
  if (!FBusy && E->mimeData()->hasUrls() && E->mimeData()->urls().first().isLocalFile())
    E->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* E) {
  const QString Path = E->mimeData()->urls().first().toLocalFile();
  E->acceptProposedAction();
  if (MayDiscard()) OpenFile(Path);
}

// ---------------------------------------------------------------------------------------------
// Processing and tools

void TViewerWindow::RunOperation(const tool::TOp& Op) {
  tool::TValues V;
  if (const auto Last = FLastValues.find(Op.Name); Last != FLastValues.end()) V = Last->second;
  const int32_t W = FView->Bitmap().GetWidth(), H = FView->Bitmap().GetHeight();
  // What a required argument is offered first: the image's own size and centre.
  for (const tool::TArgDef& A : Op.Args) {
    if (A.Default || V.FValues.count(A.Name)) continue;
    const std::string N = A.Name;
    std::string Offer = "0";
    if (N == "Width") Offer = std::to_string(W);
    if (N == "Height") Offer = std::to_string(H);
    if (N == "CX" || N == "X") Offer = std::to_string(W / 2);
    if (N == "CY" || N == "Y") Offer = std::to_string(H / 2);
    if (N == "Radius") Offer = "10";
    if (N == "Angle") Offer = "90";
    if (A.Kind == tool::TKind::Colour) Offer = N == "High" ? "#FFFFFF" : "#000000";
    V.FValues[A.Name] = Offer;
  }
  if (!Op.Args.empty() && !AskOperationValues(this, Op, V)) return;
  try {
    tool::FillDefaults(Op, V);
  } catch (const tool::TUsageError& E) {
    Tell(Q(Op.Name), Q(E.Message));
    return;
  }
  FLastValues[Op.Name] = V;
  FView->SetOnProgress(Progress(Op.Name));
  const bool Done = RunBusy(Q(Op.Name), nullptr, [&] { Op.Run(FView->Proc(), V); });
  FView->SetOnProgress(nullptr);
  if (!Done && FCancelled) {
    // The processing component has no abort flag: a cancelled operation runs to its end and is
    // then taken back.
    FView->Proc().Undo();
    FView->Update();
    statusBar()->showMessage(Q(Op.Name) + " cancelled", 3000);
    return;
  }
  if (Done) ImageChanged(true);
}

void TViewerWindow::SetTool(TQLMouseInteract Mode) {
  FView->SetMouseInteract(Mode);
  if (auto A = FToolActions.find(Mode); A != FToolActions.end()) A->second->setChecked(true);
  ShowMeasureModes();
}

void TViewerWindow::SetVectorTool(TQLMouseInteractVt Mode, TQLShape EndShape) {
  FView->SetObjEndShape(TQuilloVect::kTemplate, EndShape);
  FView->SetMouseInteractVt(Mode);
  ShowMeasureModes();
}

void TViewerWindow::ShowMeasureModes() {
  FMeasureLen->setChecked(FView->GetMouseInteractVt() & miLineLen);
  FMeasureArea->setChecked(FView->GetMouseInteractVt() & miArea);
}

void TViewerWindow::BuildAnnotateMenu(QMenu* Menu) {
  struct TMode {
    const char* Text;
    Qt::Key Key;
    TQLMouseInteractVt Mode;
    TQLShape End;
  };
  const std::vector<TMode> Modes = {
      {"&Line", Qt::Key_N, miPutLine, qlsNONE},
      {"&Arrow", Qt::Key_A, miPutLine, qlsOUTARROW},
      {"&Box", Qt::Key_B, miPutBox, qlsNONE},
      {"&Ellipse", Qt::Key_O, miPutEllipse, qlsNONE},
      {"&Text", Qt::Key_T, miPutText, qlsNONE},
      {"&Ruler", Qt::Key_U, miPutRuler, qlsNONE},
      {"&Picture", Qt::Key_unknown, miPutBitmap, qlsNONE},
      {"&Select and Edit Annotations", Qt::Key_V, miObjectSelect, qlsNONE},
      {"Measure a &Distance", Qt::Key_D, miDragLen, qlsNONE},
  };
  for (const TMode& M : Modes) {
    QAction* A =
        AddAction(Menu, M.Text, M.Key == Qt::Key_unknown ? QKeySequence() : QKeySequence(M.Key),
                  [this, M] { SetVectorTool(M.Mode, M.End); });
    A->setCheckable(true);
    FTools->addAction(A);
  }
  Menu->addSeparator();
  // The measures of a polygon selection, shown beside the pointer while it is drawn.
  FMeasureLen = AddAction(Menu, "Show Selection &Length", {}, [this] {
    FView->SetMouseInteractVt(FMeasureLen->isChecked() ? miLineLen : 0);
    ShowMeasureModes();
  });
  FMeasureLen->setCheckable(true);
  FMeasureArea = AddAction(Menu, "Show Selection A&rea", {}, [this] {
    FView->SetMouseInteractVt(FMeasureArea->isChecked() ? miArea : 0);
    ShowMeasureModes();
  });
  FMeasureArea->setCheckable(true);
  QMenu* Units = Menu->addMenu("&Units");
  auto* UnitGroup = new QActionGroup(this);
  for (TQLUnits U : {qluPIXELS, qluMILLIMETERS, qluCENTIMETERS, qluINCHES}) {
    QAction* A = AddAction(Units, strunits[U], {}, [this, U] { FView->SetMUnit(U); });
    A->setCheckable(true);
    A->setChecked(U == qluPIXELS);
    UnitGroup->addAction(A);
  }
  Menu->addSeparator();
  // Colours and pens apply to the selected annotations and to the next ones made.
  auto ForObjects = [this](const std::function<void(int32_t)>& Set) {
    Set(TQuilloVect::kTemplate);
    for (int32_t I = 0; I < FView->SelObjectsCount(); ++I) Set(FView->SelObjects(I));
    if (FView->SelObjectsCount() > 0) ImageChanged(true);
  };
  auto ToQt = [](TColor C) { return QColor(C & 255, (C >> 8) & 255, (C >> 16) & 255); };
  auto FromQt = [](const QColor& C) {
    return TColor(C.red() | (C.green() << 8) | (C.blue() << 16));
  };
  AddAction(Menu, "&Pen Colour...", {}, [this, ForObjects, ToQt, FromQt] {
    const QColor C =
        QColorDialog::getColor(ToQt(FView->GetObjPenColor(TQuilloVect::kTemplate)), this);
    if (C.isValid()) ForObjects([&](int32_t h) { FView->SetObjPenColor(h, FromQt(C)); });
  });
  AddAction(Menu, "&Fill Colour...", {}, [this, ForObjects, ToQt, FromQt] {
    const QColor C =
        QColorDialog::getColor(ToQt(FView->GetObjBrushColor(TQuilloVect::kTemplate)), this);
    if (C.isValid())
      ForObjects([&](int32_t h) {
        FView->SetObjBrushColor(h, FromQt(C));
        FView->SetObjBrushStyle(h, bsSolid);
      });
  });
  AddAction(Menu, "&No Fill", {}, [ForObjects, this] {
    ForObjects([&](int32_t h) { FView->SetObjBrushStyle(h, bsClear); });
  });
  AddAction(Menu, "Pen &Width...", {}, [this, ForObjects] {
    static const tool::TOp Pen = {"Pen width",
                                  "The width of lines and outlines, in image pixels.",
                                  {{"Width", tool::TKind::Int, "1"}},
                                  nullptr};
    tool::TValues V;
    V.FValues["Width"] = std::to_string(FView->GetObjPenWidth(TQuilloVect::kTemplate));
    if (!AskOperationValues(this, Pen, V)) return;
    const int32_t W = std::clamp(V.Int("Width"), 1, 500);
    ForObjects([&](int32_t h) { FView->SetObjPenWidth(h, W); });
  });
  Menu->addSeparator();
  AddAction(Menu, "B&urn Annotations into Image", {}, [this] {
    if (FView->ObjectsCount() == 0) return;
    FView->Proc().SaveUndo();
    FView->CopyObjectsToBack();
    FView->RemoveAllObjects();
    ImageChanged(true);
  });
  AddAction(Menu, "Save A&nnotations...", {}, [this] {
    const QString F = QFileDialog::getSaveFileName(this, "Save Annotations", QString(),
                                                   "Annotation layers (*.qlv)");
    if (F.isEmpty()) return;
    try {
      FView->SaveToFileQLV(F.endsWith(".qlv") ? F.toStdString() : (F + ".qlv").toStdString());
    } catch (const std::exception& E) {
      Tell("Save Annotations", QString::fromUtf8(E.what()));
    }
  });
  AddAction(Menu, "&Load Annotations...", {}, [this] {
    const QString F = QFileDialog::getOpenFileName(this, "Load Annotations", QString(),
                                                   "Annotation layers (*.qlv);;All files (*)");
    if (F.isEmpty()) return;
    if (!FView->LoadFromFileQLV(F.toStdString()))
      Tell("Load Annotations", F + " is not an annotation layer this program reads.");
    ImageChanged(true);
  });
  AddAction(Menu, "&Import DXF Drawing...", {}, [this] {
    const QString F = QFileDialog::getOpenFileName(this, "Import DXF Drawing", QString(),
                                                   "DXF drawings (*.dxf);;All files (*)");
    if (F.isEmpty()) return;
    if (!FView->ImportDXF(F.toStdString()))
      Tell("Import DXF Drawing", F + " could not be read completely; what was read is shown.");
    ImageChanged(true);
  });
}

void TViewerWindow::MagicWandSettings() {
  static const tool::TOp Wand = {
      "Magic wand",
      "The region grows over neighbours within Tolerance of the "
      "clicked colour; MaxFilter smooths its outline first.",
      {{"Tolerance", tool::TKind::Int, "32"}, {"MaxFilter", tool::TKind::Bool, "false"}},
      nullptr};
  tool::TValues V;
  V.FValues["Tolerance"] = std::to_string(FView->GetMagicWandTolerance());
  V.FValues["MaxFilter"] = FView->GetMagicWandMaxFilter() ? "true" : "false";
  if (!AskOperationValues(this, Wand, V)) return;
  FView->SetMagicWandTolerance(V.Int("Tolerance"));
  FView->SetMagicWandMaxFilter(V.Bool("MaxFilter"));
}

// ---------------------------------------------------------------------------------------------
// Long work

TQLProgressEvent TViewerWindow::Progress(const std::string& Label) {
  return [this, Label](TObject*, int32_t Percent) {
    if (!FBusy) return;
    FProgress->setFormat(Q(Label) + "  %p%");
    FProgress->setValue(std::clamp(Percent, 0, 100));
    // Let the window repaint and Cancel be clicked, a few dozen times a second at most.
    if (FPump.elapsed() >= 40) {
      QApplication::processEvents();
      FPump.restart();
    }
  };
}

bool TViewerWindow::RunBusy(const QString& Label, bool* Abort, const std::function<void()>& Work) {
  FBusy = true;
  FCancelled = false;
  FAbort = Abort;
  FWarnings.clear();
  FProgress->setValue(0);
  FProgress->setFormat(Label + "  %p%");
  FProgress->show();
  FCancel->show();
  menuBar()->setEnabled(false);
  FHost->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  FPump.start();
  QString Error;
  try {
    Work();
  } catch (const tool::TUsageError& E) {
    Error = Q(E.Message);
  } catch (const tool::TInterrupted&) {
    FCancelled = true;
  } catch (const std::exception& E) {
    Error = QString::fromUtf8(E.what());
  }
  QApplication::restoreOverrideCursor();
  menuBar()->setEnabled(true);
  FHost->setEnabled(true);
  FHost->setFocus();
  FProgress->hide();
  FCancel->hide();
  FBusy = false;
  FAbort = nullptr;
  if (!Error.isEmpty()) {
    if (FCancelled) Error = Label + ": cancelled";
    Tell("quillo-view", Error);
    return false;
  }
  return !FCancelled;
}

void TViewerWindow::Tell(const QString& Title, const QString& Text) {
  if (OnTell)
    OnTell(Text);
  else
    QMessageBox::warning(this, Title, Text);
}

bool TViewerWindow::Ask(const QString& Title, const QString& Text) {
  if (OnAsk) return OnAsk(Text);
  return QMessageBox::question(this, Title, Text, QMessageBox::Save | QMessageBox::Cancel) ==
         QMessageBox::Save;
}

void TViewerWindow::Warn(const std::string& Text) {
  FWarnings.push_back(Text);
}

// ---------------------------------------------------------------------------------------------
// What the window shows

void TViewerWindow::ImageChanged(bool Modified) {
  if (Modified) FModified = true;
  UpdateTitle();
  UpdateFacts();
  UpdateActions();
  ShowZoom();
}

void TViewerWindow::UpdateTitle() {
  const QString Name = FFile.isEmpty() ? "untitled" : QFileInfo(FFile).fileName();
  QString Title = Name + "[*]";
  if (FSource.Images > 1) Title += QString(" (%1 of %2)").arg(FFrame + 1).arg(FSource.Images);
  setWindowTitle(Title + " - quillo-view");
  setWindowModified(FModified);
}

void TViewerWindow::UpdateActions() {
  FUndo->setEnabled(FView->Proc().GetCanUndo());
  FPrevFrame->setEnabled(FFrame > 0);
  FNextFrame->setEnabled(FFrame + 1 < FSource.Images);
  if (FView->GetSelected()) {
    const int32_t X1 = FView->GetSelX1(), Y1 = FView->GetSelY1();
    const int32_t X2 = FView->GetSelX2(), Y2 = FView->GetSelY2();
    statusBar()->showMessage(QString("Selection %1,%2 - %3,%4 (%5 x %6)")
                                 .arg(X1)
                                 .arg(Y1)
                                 .arg(X2)
                                 .arg(Y2)
                                 .arg(X2 - X1)
                                 .arg(Y2 - Y1));
  } else {
    statusBar()->clearMessage();
  }
}

void TViewerWindow::UpdateFacts() {
  FFacts->clear();
  auto Section = [this](const QString& Title) {
    auto* Item = new QTreeWidgetItem(FFacts, {Title});
    Item->setExpanded(true);
    QFont F = Item->font(0);
    F.setBold(true);
    Item->setFont(0, F);
    return Item;
  };
  auto Row = [](QTreeWidgetItem* Parent, const QString& Key, const QString& Value) {
    new QTreeWidgetItem(Parent, {Key, Value});
  };
  const TIOParamsVals& P = FView->IOParams();
  const TBitmap& B = FView->Bitmap();
  if (!FFile.isEmpty()) {
    QTreeWidgetItem* File = Section("File");
    const QFileInfo Info(FFile);
    Row(File, "Name", Info.fileName());
    Row(File, "Folder", Info.absolutePath());
    if (const TQLFileFormatInfo* F = QLFileFormatGetInfo(FSource.FileType))
      Row(File, "Format", Q(F->FullName));
    Row(File, "Size on disk", QLocale().formattedDataSize(Info.size()));
    if (FSource.Images > 1)
      Row(File, FSource.FileType == ioTIFF ? "Pages" : "Images",
          QString("%1 (showing %2)").arg(FSource.Images).arg(FFrame + 1));
  }
  QTreeWidgetItem* Image = Section("Image");
  Row(Image, "Size", QString("%1 x %2 pixels").arg(B.GetWidth()).arg(B.GetHeight()));
  Row(Image, "Stored depth",
      QString("%1 bits x %2 samples").arg(P.BitsPerSample).arg(P.SamplesPerPixel));
  Row(Image, "Shown as", B.GetPixelFormat() == pf1bit ? "black and white" : "24-bit colour");
  Row(Image, "Resolution",
      P.DpiX > 0 && P.DpiY > 0 ? QString("%1 x %2 dpi").arg(P.DpiX).arg(P.DpiY) : "not stored");
  if (P.DpiX > 0 && P.DpiY > 0)
    Row(Image, "Printed size",
        QString("%1 x %2 in")
            .arg(double(B.GetWidth()) / P.DpiX, 0, 'f', 2)
            .arg(double(B.GetHeight()) / P.DpiY, 0, 'f', 2));
  if (P.ColorMapCount) Row(Image, "Palette", QString("%1 colours").arg(P.ColorMapCount));
  if (const char* Prefix = tool::FormatParamPrefix(FSource.FileType)) {
    QTreeWidgetItem* Params = Section("Parameters");
    for (const tool::TParamField& F : tool::ParamFields())
      if (std::string(F.Name).starts_with(Prefix))
        Row(Params, QString::fromUtf8(F.Name + std::strlen(Prefix)), Q(F.Get(P)));
  }
  const bool HasMeta =
      P.JpegMarkerList.GetCount() || P.IPTCInfoList.Count() || P.PxmComments.Count();
  if (HasMeta) {
    QTreeWidgetItem* Meta = Section("Metadata");
    for (int32_t K = 0; K < P.JpegMarkerList.GetCount(); ++K)
      Row(Meta, "Marker " + Q(tool::MarkerName(P.JpegMarkerList.GetMarkerType(K))),
          QString("%1 bytes").arg(P.JpegMarkerList.GetMarkerLength(K)));
    for (int32_t K = 0; K < P.IPTCInfoList.Count(); ++K)
      Row(Meta,
          QString("IPTC %1:%2")
              .arg(P.IPTCInfoList.GetRecordNumber(K))
              .arg(P.IPTCInfoList.GetDataSet(K)),
          Q(P.IPTCInfoList.GetStrings(K)));
    for (int32_t K = 0; K < P.PxmComments.Count(); ++K) Row(Meta, "Comment", Q(P.PxmComments[K]));
  }
}

void TViewerWindow::ShowPointer(int32_t X, int32_t Y) {
  const TBitmap& B = FView->Bitmap();
  const int32_t BX = FView->XScr2Bmp(X), BY = FView->YScr2Bmp(Y);
  if (BX < 0 || BY < 0 || BX >= B.GetWidth() || BY >= B.GetHeight()) {
    FPosition->clear();
    FColour->clear();
    return;
  }
  FPosition->setText(QString("%1, %2").arg(BX).arg(BY));
  uint8_t R, G, Bl;
  if (B.GetPixelFormat() == pf1bit) {
    const bool White = (B.ScanLine(BY)[BX >> 3] >> (7 - (BX & 7))) & 1;
    R = G = Bl = White ? 255 : 0;
  } else {
    const uint8_t* Px = B.ScanLine(BY) + BX * 3;
    Bl = Px[0], G = Px[1], R = Px[2];
  }
  const QString Hex = QString("#%1%2%3")
                          .arg(R, 2, 16, QChar('0'))
                          .arg(G, 2, 16, QChar('0'))
                          .arg(Bl, 2, 16, QChar('0'))
                          .toUpper();
  FColour->setText(QString("<span style=\"background:%1\">&nbsp;&nbsp;&nbsp;&nbsp;</span> "
                           "%1 (%2, %3, %4)")
                       .arg(Hex)
                       .arg(R)
                       .arg(G)
                       .arg(Bl));
}

void TViewerWindow::ShowZoom() {
  const double Z = FView->GetZoom();
  FZoom->setText(QString("%1%").arg(Z, 0, 'f', Z < 10 ? 1 : 0));
}

}  // namespace quillo::view
