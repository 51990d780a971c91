// Reading and writing images for the tool's commands, through the I/O component, with the
// progress bar, Ctrl-C and complete-or-nothing output files.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/quillo/session.h"
#include "quillo/codecs/gif.h"
#include "quillo/codecs/tiff.h"
#include "quillo/io/quilloio.h"

namespace quillo::tool {

// What a load found that a save may not keep, and the JPEG quality the tool writes with.
struct TSourceInfo {
  std::string Name;  // as given on the command line
  int32_t FileType = ioUnknown;
  int32_t Images = 1;  // frames of a GIF, pages of a TIFF
  bool Alpha = false, Deep = false, Cmyk = false, Lab = false;
  // A GIF frame with a transparent colour.
  bool TransparentColour = false;
  // Estimated from the tables of a JPEG source; 0 for other sources.
  int32_t JpegQuality = 0;
};

// The JPEG quality the tool writes when nothing else is asked: a JPEG source keeps its own,
// anything else gets this.
constexpr int32_t kToolJpegQuality = 90;

// Loads the file into the component's bitmap (format by content, else by extension); Frame
// picks the GIF frame or TIFF page. The parameters' JpegQuality becomes the tool's choice
// (kToolJpegQuality, or the source's own). Throws std::runtime_error naming the file when it
// cannot be read, TInterrupted on Ctrl-C.
TSourceInfo LoadImage(TQuilloIO& IO, const TInputFile& In, int32_t Frame = 0);
// What is wrong with the image IO could not read, as its reader found it ("truncated image", ...).
std::string UnreadableReason(const TQuilloIO& IO);

// Loads every frame of a GIF or page of a TIFF in one pass over the file (any other format: its
// one image), calling OnImage with the component holding it and what was found. Throws as
// LoadImage does, also when an image after the first cannot be read.
void LoadEachImage(const TInputFile& In,
                   const std::function<void(TQuilloIO&, const TSourceInfo&)>& OnImage);

// The number of frames (GIF) or pages (TIFF) of a file; 1 for other formats, 0 when a GIF or
// TIFF holds none.
int32_t ImageCount(const std::string& Path, int32_t Type);

// Splits a "FMT:NAME" output (as in "png:-") into NAME and Format, when FMT is the extension
// of a format and Format is not given yet.
void SplitFormatPrefix(std::string& Name, std::string& Format);

// The file type for an output name (its extension) or for Format when given; throws
// TUsageError when neither names a format the library writes (standard output, "-", needs
// Format).
int32_t OutputType(const std::string& FileName, const std::string& Format);

// True for the formats that hold several images in one file (GIF, TIFF).
bool HoldsManyImages(int32_t Type);

// Brings the parameters carried from the input into what the output type can store (a grey
// JPEG for grey or black-and-white input, the depth a netpbm extension names...), so that a
// conversion never asks a writer for a layout it does not have.
void FitParams(TIOParamsVals& P, int32_t Type, const std::string& FileName);

// After processing, what is written follows the bitmap: its size, 1-bit as 1-bit, anything
// else as it was read unless that was 1-bit.
void ParamsFollowBitmap(TIOParamsVals& P, const TBitmap& Image);

// Says on standard error (once each, not with --quiet) what writing Bitmap as Type with P
// loses of the source: alpha, depth, CMYK or Lab, colours.
void ReportLosses(const TSourceInfo& Source, const TBitmap& Bitmap, int32_t Type,
                  const TIOParamsVals& P, const std::string& OutName);

// Writes the component's bitmap to FileName ("-": standard output) as Type (Format non-empty:
// through a stream, so any name works); the file appears only when complete. With Source, the
// losses are reported. Throws std::runtime_error naming the file on failure, TInterrupted on
// Ctrl-C.
void SaveImage(TQuilloIO& IO, const std::string& FileName, const std::string& Format = "",
               const TSourceInfo* Source = nullptr);

// Writes images one after another into one GIF animation or multi-page TIFF (FileName "-":
// standard output); the file appears when Finish succeeds.
class TMultiImageWriter {
 public:
  TMultiImageWriter(const std::string& FileName, int32_t Type);
  // Appends the component's bitmap, with its parameters (delay, position, compression...), as
  // the next frame or page. Throws std::runtime_error when it cannot.
  void Add(TQuilloIO& IO, const TSourceInfo* Source = nullptr);
  // Makes a GIF of several frames loop Loop times (0: forever; below 0: no loop extension, so
  // it plays once) and puts the file in place.
  void Finish(int32_t Loop);
  int32_t Count() const { return FCount; }

 private:
  std::string FName;
  int32_t FType;
  TOutputFile FOut;
  int32_t FCount = 0, FWinWidth = 0, FWinHeight = 0;
  // The file stays open while its frames or pages are added, each written straight after the
  // one before.
  std::unique_ptr<TFileStream> FFile;
  TGifEnd FGifEnd;
  TTiffEnd FTiffEnd;
};

// True when the file is an AVI video (a RIFF file of form "AVI ").
bool IsAviFile(const std::string& Path);

// The value of --frame / --page: a number from 0 (TUsageError otherwise).
int32_t ParseFrame(const std::string& Text);
// Applies --set FIELD=VALUE options (TUsageError for an unknown field or a bad value).
void ApplySets(TIOParamsVals& P, const std::vector<std::string>& Sets);

}  // namespace quillo::tool
