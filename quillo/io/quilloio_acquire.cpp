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
  return QLTW_ChooseSource(*FTWainParams);
}

}  // namespace quillo
