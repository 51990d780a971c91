// Scanner acquisition: the application's side of the TWAIN protocol, driven against the
// platform's source manager.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillo/core/lists.h"
#include "quillo/core/params.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/controls.h"
#include "quillo/platform/twain.h"

namespace quillo {

// Kept between calls (one per TQLTWainParams): the loaded source manager. The manager stays
// loaded until QLTW_FreeResources.
struct TQLTWainShared {
  std::unique_ptr<IQLSourceManager> Manager;
  // Loads the manager when none is loaded; unset, the system's (QLLoadSourceManager).
  std::function<std::unique_ptr<IQLSourceManager>()> Loader;
};

// The settings a source reports and is sent. Lengths are in inches.
struct TQLTWainCapabilities {
  TQLDoubleList XResolution, YResolution, XScaling, YScaling;
  TQLIntegerList PixelType, Orientation;
  double Gamma = 2.2;
  double PhysicalWidth = 0, PhysicalHeight = 0;
  bool FeederEnabled = false, FeederLoaded = false;
  bool DuplexSupported = false, DuplexEnabled = false;
  bool Indicators = true;
  bool AcquireFrameEnabled = false;
  double AcquireFrameLeft = 0, AcquireFrameTop = 0, AcquireFrameRight = 0, AcquireFrameBottom = 0;
};

// Called for every page of a multi-page acquisition with the complete page. The callback keeps
// the page (it may move the bitmap out) and points Params at the parameters the page's image
// information is to be written into (left nullptr, nothing is written).
using TQLAcquirePageEvent = std::function<void(TBitmap& Page, TIOParamsVals*& Params)>;

// The acquisition settings of an I/O component: the list of sources, the selected one, and its
// capabilities, read from the source the first time any of them is read.
class TQLTWainParams : public TObject {
 public:
  // MultiOwner: owned by the multi-image component (the feeder and duplex default to on).
  explicit TQLTWainParams(bool MultiOwner = false);
  ~TQLTWainParams() override;

  // Back to the defaults: lists empty, gamma 2.2, frame 0, the identity texts empty.
  void SetDefaultParams();

  // --- sources -------------------------------------------------------------------------------
  int32_t GetSourceCount();
  // The product name of source Index (empty outside the list).
  std::string GetSourceName(int32_t Index);
  // The identity of source Index, or nullptr.
  const TW_IDENTITY* GetSource(int32_t Index);
  // Selects the first source whose product name begins with Name (case-insensitive); false
  // when none does.
  bool SelectSourceByName(const std::string& Name);
  int32_t GetSelectedSource() const { return FSelectedSource; }
  // A different source's capabilities are read again on next use.
  void SetSelectedSource(int32_t Index);
  // The index of the manager's default source in the list (-1 when none).
  int32_t GetDefaultSource();
  // Forgets the list, so that the next use asks the manager again.
  void RefreshSourceList();

  // --- capabilities (read from the source on first access) ----------------------------------
  TQLDoubleList& XResolution();
  TQLDoubleList& YResolution();
  TQLDoubleList& XScaling();
  TQLDoubleList& YScaling();
  TQLIntegerList& PixelType();
  TQLIntegerList& Orientation();
  double GetGamma();
  void SetGamma(double V);
  double GetPhysicalWidth();
  double GetPhysicalHeight();
  bool GetFeederEnabled();
  void SetFeederEnabled(bool V);
  bool GetFeederLoaded();
  bool GetDuplexSupported();
  bool GetDuplexEnabled();
  void SetDuplexEnabled(bool V);
  bool GetIndicators();
  void SetIndicators(bool V);
  bool GetAcquireFrameEnabled() const { return FCaps.AcquireFrameEnabled; }
  void SetAcquireFrameEnabled(bool V) { FCaps.AcquireFrameEnabled = V; }
  double GetAcquireFrameLeft();
  double GetAcquireFrameTop();
  double GetAcquireFrameRight();
  double GetAcquireFrameBottom();
  void SetAcquireFrame(double Left, double Top, double Right, double Bottom);
  // Sends the current settings to the selected source and reads back what it took.
  bool Update();
  // True once the capabilities were read from the source.
  bool GetCapabilitiesFilled() const { return FCapabilitiesFilled; }
  // The record itself, without reading from the source (what the protocol functions use).
  TQLTWainCapabilities& Capabilities() { return FCaps; }

  // Memory transfer wanted (else native).
  bool BufferedTransfer = true;
  // Show the source's own dialog.
  bool VisibleDialog = true;
  // Sent to the source in the application identity during acquisition (32 characters each).
  std::string AppVersionInfo, AppManufacturer, AppProductFamily, AppProductName;

  TQLTWainShared Shared;
  // The window the source's dialogs belong to (non-owning).
  TWinControl* ParentWindow = nullptr;

 private:
  friend bool QLTW_GetSourceList(std::vector<TW_IDENTITY>&, TQLTWainShared&, TWinControl*);
  void FillSourceList();
  void FillCapabilities();

  bool FMultiOwner;
  std::vector<TW_IDENTITY> FSourceList;
  bool FSourceListFilled = false;
  bool FCapabilitiesFilled = false;
  int32_t FSelectedSource = 0;
  TQLTWainCapabilities FCaps;
};

// Acquires pages from the selected source. Single mode (Multi false) fills Bitmap and IOParams
// with the first page only; Multi mode hands every page to PageEvent. True when at least one
// page arrived; a page is delivered only when it arrived whole.
bool QLTW_Acquire(TBitmap* Bitmap, bool Multi, const TQLAcquirePageEvent& PageEvent,
                  TQLTWainParams& Params, TWinControl* Parent, TQLTWainShared& Shared,
                  TProgressRec& Progress, TIOParamsVals* IOParams);
// Lets the user choose a source; true and its product name on OK.
bool QLTW_SelectImageSource(std::string& Name, TQLTWainShared& Shared, TWinControl* Parent);
// Lets the user choose a source and selects it in Params (the list read again first: the choice
// may be a source that appeared since); true on OK.
bool QLTW_ChooseSource(TQLTWainParams& Params);
// The identities of all sources (empty when there is no manager).
bool QLTW_GetSourceList(std::vector<TW_IDENTITY>& List, TQLTWainShared& Shared,
                        TWinControl* Parent);
// The default source's product name.
bool QLTW_GetDefaultSource(TQLTWainShared& Shared, TWinControl* Parent, std::string& Name);
// Reads the selected source's capabilities into Caps; with Apply the current settings are sent
// first. Without Apply the lists' change flags are cleared afterwards.
bool QLTW_GetCapabilities(TQLTWainParams& Params, TQLTWainCapabilities& Caps, bool Apply,
                          TWinControl* Parent, TQLTWainShared& Shared);
// Unloads the source manager.
void QLTW_FreeResources(TQLTWainShared& Shared, TWinControl* Parent);

}  // namespace quillo
