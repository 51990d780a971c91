// TQuilloMIO: moves whole image sequences between files and a thumbnail view: every image of a
// GIF, every page of a TIFF, every frame of an AVI video. It keeps one TIOParamsVals per image
// of the view, in step with the view's insertions and deletions, so that each image is saved
// back with its own format parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillo/core/params.h"
#include "quillo/core/types.h"
#include "quillo/multi/avifile.h"
#include "quillo/multi/quillomview.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/streams.h"
#include "quillo/scan/twain.h"

namespace quillo {

// Asked before an AVI is written, in place of a compressor dialog: may change the compressor
// and the MJPEG quality; false cancels the save (the file stays empty).
using TQLAVICompressorEvent =
    std::function<bool(TObject* Sender, TQLAVICodec& Codec, int32_t& Quality)>;

class TQuilloMIO : public TComponent, public IQLParamsOwner {
 public:
  explicit TQuilloMIO(TComponent* AOwner = nullptr);
  ~TQuilloMIO() override;

  TQuilloMView* GetAttachedMView() const { return FView; }
  // Follows the view's insertions and deletions; the link is cleared when the view goes.
  void SetAttachedMView(TQuilloMView* View);

  // The parameters of view image I; none out of range.
  TIOParamsVals* GetParams(int32_t I) const;
  int32_t GetParamsCount() const { return static_cast<int32_t>(FParams.size()); }

  // By lower-case extension: .gif, .tif/.tiff, .avi; anything else does nothing.
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  // Every image is inserted from the selected image on (or from 0 without a selection).
  void LoadFromFileGif(const std::string& FileName);
  void LoadFromStreamGif(TStream& Stream);
  void SaveToFileGif(const std::string& FileName);
  void SaveToStreamGif(TStream& Stream);
  void LoadFromFileTIFF(const std::string& FileName);
  void LoadFromStreamTIFF(TStream& Stream);
  void SaveToFileTIFF(const std::string& FileName);
  void SaveToStreamTIFF(TStream& Stream);
  // AVI: every frame of the first video stream, each shown for the stream's frame time.
  void LoadFromFileAVI(const std::string& FileName);
  void LoadFromStreamAVI(TStream& Stream, const std::string& FileName = "");
  // Writes the view's images at the first image's delay with the compressor of
  // GetAVICodec. A file that cannot be created raises EInvalidGraphic "unable to create AVI
  // file"; a compressor that cannot take the frames sets Aborting.
  void SaveToFileAVI(const std::string& FileName);
  void SaveToStreamAVI(TStream& Stream);
  // The compressor SaveToFileAVI uses (uncompressed by default) and the MJPEG quality.
  TQLAVICodec GetAVICodec() const { return FAVICodec; }
  void SetAVICodec(TQLAVICodec C) { FAVICodec = C; }
  int32_t GetAVIQuality() const { return FAVIQuality; }
  void SetAVIQuality(int32_t Q) { FAVIQuality = Q; }

  // Acquires every page the selected scanner source delivers (all pending pages of a document
  // feeder) into the view, from the selected image on (at the end without a selection), each
  // with its parameters and a delay of 100 ms; true when at least one page arrived. Without a
  // view, false.
  bool Acquire();
  // Lets the user choose the source and selects it in TWainParams; true on OK.
  bool SelectAcquireSource();
  // The acquisition settings (the feeder and duplex on by default).
  TQLTWainParams& TWainParams() { return *FTWainParams; }

  // Makes the view repaint and announce an image change.
  void Update();

  // Set when a load or save failed or was stopped; reset at the start of each.
  bool Aborting = false;
  TQLProgressEvent OnProgress;
  TQLAVICompressorEvent OnAVICompressor;

  TBitmap* ParamsOwnerBitmap() override;
  bool ParamsOwnerViewDpi(int32_t& DpiX, int32_t& DpiY) override;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void BitmapChanged(bool Destroying);
  void Renumber();
  void Detach();
  int32_t InsertionPoint() const;
  void Progress(int32_t Done, int32_t Total);
  // The shared loop of GIF and TIFF loading.
  void LoadSequence(TStream& Stream, int32_t Type);
  void SaveSequence(TStream& Stream, int32_t Type);

  TQuilloMView* FView = nullptr;
  std::vector<std::unique_ptr<TIOParamsVals>> FParams;
  std::unique_ptr<TQLTWainParams> FTWainParams = std::make_unique<TQLTWainParams>(true);
  TQLAVICodec FAVICodec = qlavRaw;
  int32_t FAVIQuality = 75;
};

}  // namespace quillo
