// TQuillo: an image view that owns a processing component and an I/O component, both attached
// to it, and offers their operations as its own. It adds no image logic: every call below goes
// to one of the two components.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "quillo/io/quilloio.h"
#include "quillo/proc/quilloproc.h"
#include "quillo/view/quilloview.h"

namespace quillo {

// A method of this class with the target's name and arguments (overloads and defaults
// included) that calls the target.
#define QUILLO_FORWARD(Target, Name)                   \
  template <class... TArgs>                            \
  decltype(auto) Name(TArgs&&... Args) {               \
    return Target->Name(std::forward<TArgs>(Args)...); \
  }

class TQuillo : public TQuilloView {
 public:
  explicit TQuillo(TComponent* AOwner = nullptr);
  ~TQuillo() override;

  TQuilloProc& Proc() { return *FProc; }
  TQuilloIO& IO() { return *FIO; }

  // --- properties kept in the components -------------------------------------------------------
  bool GetAutoUndo() const { return FProc->GetAutoUndo(); }
  void SetAutoUndo(bool V) { FProc->SetAutoUndo(V); }
  const TQLProgressEvent& GetOnProgress() const { return FProc->OnProgress; }
  // Loads, saves and processing report to the same handler.
  void SetOnProgress(const TQLProgressEvent& Handler);
  bool GetStreamHeaders() const { return FIO->StreamHeaders; }
  void SetStreamHeaders(bool V) { FIO->StreamHeaders = V; }
  TIOParamsVals& IOParams() { return FIO->IOParams(); }
  TQLTWainParams& TWainParams() { return FIO->TWainParams(); }
  bool GetAborting() const { return FIO->Aborting; }
  void SetAborting(bool V) { FIO->Aborting = V; }
  bool GetCanUndo() const { return FProc->GetCanUndo(); }

  // --- processing ------------------------------------------------------------------------------
  QUILLO_FORWARD(FProc, SaveUndo)
  QUILLO_FORWARD(FProc, ClearUndo)
  QUILLO_FORWARD(FProc, Undo)
  QUILLO_FORWARD(FProc, Negative)
  QUILLO_FORWARD(FProc, HSLvar)
  QUILLO_FORWARD(FProc, HSVvar)
  QUILLO_FORWARD(FProc, IntensityRGBall)
  QUILLO_FORWARD(FProc, Contrast)
  QUILLO_FORWARD(FProc, ConvertToGray)
  QUILLO_FORWARD(FProc, CastColorRange)
  QUILLO_FORWARD(FProc, Threshold)
  QUILLO_FORWARD(FProc, HistEqualize)
  QUILLO_FORWARD(FProc, HistAutoEqualize)
  QUILLO_FORWARD(FProc, Merge)
  QUILLO_FORWARD(FProc, ApplyFilter)
  QUILLO_FORWARD(FProc, ApplyFilterPreset)
  QUILLO_FORWARD(FProc, BumpMapping)
  QUILLO_FORWARD(FProc, Lens)
  QUILLO_FORWARD(FProc, Wave)
  QUILLO_FORWARD(FProc, Maximum)
  QUILLO_FORWARD(FProc, Minimum)
  QUILLO_FORWARD(FProc, Opening)
  QUILLO_FORWARD(FProc, Closing)
  QUILLO_FORWARD(FProc, Rotate)
  QUILLO_FORWARD(FProc, Flip)
  QUILLO_FORWARD(FProc, ImageResize)
  QUILLO_FORWARD(FProc, Resample)
  QUILLO_FORWARD(FProc, CropSel)
  QUILLO_FORWARD(FProc, GetHistogram)
  QUILLO_FORWARD(FProc, CalcImagePalette)
  QUILLO_FORWARD(FProc, CalcImageNumColors)
  QUILLO_FORWARD(FProc, GetHSVChannel)
  QUILLO_FORWARD(FProc, GetHSVChannelAll)
  QUILLO_FORWARD(FProc, GetRGBChannel)
  QUILLO_FORWARD(FProc, GetRGBChannelAll)
  QUILLO_FORWARD(FProc, ConvertTo)
  QUILLO_FORWARD(FProc, ConvertToBWOrdered)
  QUILLO_FORWARD(FProc, ConvertToBWThreshold)
  QUILLO_FORWARD(FProc, ConvertTo24Bit)
  QUILLO_FORWARD(FProc, WriteHiddenText)
  QUILLO_FORWARD(FProc, WriteHiddenData)
  QUILLO_FORWARD(FProc, ReadHiddenText)
  QUILLO_FORWARD(FProc, ReadHiddenData)
  QUILLO_FORWARD(FProc, GetHiddenDataSpace)
  QUILLO_FORWARD(FProc, FTCreateImage)
  QUILLO_FORWARD(FProc, FTConvertFrom)
  QUILLO_FORWARD(FProc, FTDisplayFrom)
  // The processing component's clear (undo, selection, progress) replaces the view's own.
  QUILLO_FORWARD(FProc, Clear)
  QUILLO_FORWARD(FProc, ClearSel)
  QUILLO_FORWARD(FProc, SelCopyToClip)
  QUILLO_FORWARD(FProc, CopyToClipboard)
  QUILLO_FORWARD(FProc, SelPasteFromClipStretch)
  QUILLO_FORWARD(FProc, PasteFromClipboard)
  QUILLO_FORWARD(FProc, SelCutToClip)
  // Pastes with the top-left corner at client (X, Y).
  void PointPasteFromClip(int32_t X, int32_t Y) {
    FProc->PointPasteFromClip(XScr2Bmp(X), YScr2Bmp(Y));
  }

  // --- input and output ------------------------------------------------------------------------
  QUILLO_FORWARD(FIO, LoadFromFile)
  QUILLO_FORWARD(FIO, SaveToFile)
  QUILLO_FORWARD(FIO, LoadFromStream)
  QUILLO_FORWARD(FIO, SaveToStream)
  QUILLO_FORWARD(FIO, LoadFromFileFormat)
  QUILLO_FORWARD(FIO, LoadFromStreamFormat)
  QUILLO_FORWARD(FIO, ParamsFromFile)
  QUILLO_FORWARD(FIO, ParamsFromStream)
  QUILLO_FORWARD(FIO, ParamsFromFileFormat)
  QUILLO_FORWARD(FIO, ParamsFromStreamFormat)
  QUILLO_FORWARD(FIO, ImportMetafile)
  QUILLO_FORWARD(FIO, LoadFromFileJpeg)
  QUILLO_FORWARD(FIO, LoadFromStreamJpeg)
  QUILLO_FORWARD(FIO, SaveToFileJpeg)
  QUILLO_FORWARD(FIO, SaveToStreamJpeg)
  QUILLO_FORWARD(FIO, LoadFromFileGif)
  QUILLO_FORWARD(FIO, LoadFromStreamGif)
  QUILLO_FORWARD(FIO, SaveToFileGif)
  QUILLO_FORWARD(FIO, SaveToStreamGif)
  QUILLO_FORWARD(FIO, LoadFromFileTIFF)
  QUILLO_FORWARD(FIO, LoadFromStreamTIFF)
  QUILLO_FORWARD(FIO, SaveToFileTIFF)
  QUILLO_FORWARD(FIO, SaveToStreamTIFF)
  QUILLO_FORWARD(FIO, LoadFromFileBMP)
  QUILLO_FORWARD(FIO, LoadFromStreamBMP)
  QUILLO_FORWARD(FIO, SaveToFileBMP)
  QUILLO_FORWARD(FIO, SaveToStreamBMP)
  QUILLO_FORWARD(FIO, LoadFromFilePCX)
  QUILLO_FORWARD(FIO, LoadFromStreamPCX)
  QUILLO_FORWARD(FIO, SaveToFilePCX)
  QUILLO_FORWARD(FIO, SaveToStreamPCX)
  QUILLO_FORWARD(FIO, LoadFromFilePNG)
  QUILLO_FORWARD(FIO, LoadFromStreamPNG)
  QUILLO_FORWARD(FIO, SaveToFilePNG)
  QUILLO_FORWARD(FIO, SaveToStreamPNG)
  QUILLO_FORWARD(FIO, LoadFromFileTGA)
  QUILLO_FORWARD(FIO, LoadFromStreamTGA)
  QUILLO_FORWARD(FIO, SaveToFileTGA)
  QUILLO_FORWARD(FIO, SaveToStreamTGA)
  QUILLO_FORWARD(FIO, LoadFromFilePXM)
  QUILLO_FORWARD(FIO, LoadFromStreamPXM)
  QUILLO_FORWARD(FIO, SaveToFilePXM)
  QUILLO_FORWARD(FIO, SaveToStreamPXM)
  QUILLO_FORWARD(FIO, LoadFromFileICO)
  QUILLO_FORWARD(FIO, LoadFromStreamICO)
  QUILLO_FORWARD(FIO, LoadFromFileCUR)
  QUILLO_FORWARD(FIO, LoadFromStreamCUR)
  QUILLO_FORWARD(FIO, InsertToFileGif)
  QUILLO_FORWARD(FIO, InsertToFileTIFF)
  QUILLO_FORWARD(FIO, InjectJpegIPTC)
  QUILLO_FORWARD(FIO, InjectJpegIPTCStream)
  QUILLO_FORWARD(FIO, Acquire)
  QUILLO_FORWARD(FIO, SelectAcquireSource)
  QUILLO_FORWARD(FIO, PrintImagePos)
  QUILLO_FORWARD(FIO, PrintImage)
  QUILLO_FORWARD(FIO, PreviewPrintImage)

  // --- other -----------------------------------------------------------------------------------
  // Copies the I/O parameters of another all-in-one control or of an I/O component; anything
  // else is ignored.
  void AssignIOParams(const TPersistent* Source);
  // The I/O parameters, then the view's bitmap, background and resolution.
  void Assign(const TQuilloView* Source);
  void Assign(const TBitmap* Source) { TQuilloView::Assign(Source); }

 private:
  std::unique_ptr<TQuilloProc> FProc;
  std::unique_ptr<TQuilloIO> FIO;
};

#undef QUILLO_FORWARD

}  // namespace quillo
