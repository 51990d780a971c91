// TQuilloIO: scanner acquisition.
#include "quillo/io/quilloio.h"

namespace quillo {

bool TQuilloIO::Acquire() {
  ClearAbort();
  if (!FBitmap) return false;
  TProgressRec P = MakeProgress();
  TQLTWainParams& TW = *FTWainParams;
  const bool Ok =
      QLTW_Acquire(FBitmap, false, nullptr, TW, TW.ParentWindow, TW.Shared, P, &FParams);
  if (Ok) {
    FParams.FileName.clear();
    FParams.FileType = ioUnknown;
    if (FView) FView->SetDPI(FParams.DpiX, FParams.DpiY);
    Update();
  }
  // The source's dialog took the focus; the view gets it back.
  if (FView && FView->GetVisible()) FView->SetFocus();
  return Ok;
}

bool TQuilloIO::SelectAcquireSource() {
  TQLTWainParams& TW = *FTWainParams;
  std::string Name;
  if (!QLTW_SelectImageSource(Name, TW.Shared, TW.ParentWindow)) return false;
  // The choice may be a source that appeared since the list was read.
  TW.RefreshSourceList();
  for (int32_t I = 0; I < TW.GetSourceCount(); ++I)
    if (TW.GetSourceName(I) == Name) {
      TW.SetSelectedSource(I);
      return true;
    }
  return false;
}

}  // namespace quillo
