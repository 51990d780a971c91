// TQuilloIO: the component through which an application loads and saves images.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "quillo/core/params.h"
#include "quillo/core/target.h"
#include "quillo/core/types.h"
#include "quillo/core/view.h"
#include "quillo/io/fileformats.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/controls.h"
#include "quillo/platform/printer.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/threads.h"
#include "quillo/scan/twain.h"

namespace quillo {

class TQuilloIO;

// Where PrintImageEx places the image inside the margins, and how it sizes it.
enum TQLVerticalPos : uint8_t { qlvpTOP, qlvpCENTER, qlvpBOTTOM };
enum TQLHorizontalPos : uint8_t { qlhpLEFT, qlhpCENTER, qlhpRIGHT };
enum TQLSize : uint8_t { qlsNORMAL, qlsFITTOPAGE, qlsFITTOPAGESTRETCH, qlsSPECIFIEDSIZE };

// Called before the parameters dialog is shown (Sender, the dialog's form).
using TQLIOPreviewEvent = std::function<void(TObject* Sender, TObject* Form)>;

// Attached to one pixel target (a view, an image control or a bitmap), it picks a codec by file
// extension or by content, wraps every codec call with progress and the abort flag, and keeps
// the attached view's resolution and repaint in step. Failures arrive as Aborting; errors
// raised while opening a file pass through to the caller.
class TQuilloIO : public TQLTargetComponent, public IQLParamsOwner {
 public:
  explicit TQuilloIO(TComponent* AOwner = nullptr);
  ~TQuilloIO() override;

  // --- state ---------------------------------------------------------------------------------
  TIOParamsVals& IOParams() { return FParams; }
  const TIOParamsVals& IOParams() const { return FParams; }
  // The flag every progress record points to; reset at the start of each load or save. Another
  // thread may set it (through QLSetAbortFlag) to stop the running codec at its next row.
  bool Aborting = false;
  // Why the last load or save set Aborting (qlarNone while it is not set, and when the flag was
  // raised from outside to cancel): truncated or damaged data, a variant or format without a
  // reader or writer (qlarUnsupported), or an image beyond the pixel limit.
  TQLAbortReason AbortReason() const;
  TQLProgressEvent OnProgress;
  TQLIOPreviewEvent OnIOPreview;
  // The colour Clear uses: the attached view's background when a view is attached.
  TColor GetBackground() const;
  void SetBackground(TColor Color);
  // Writes the 12-byte headers that let several JPEG, PCX or TIFF images share one stream.
  bool StreamHeaders = false;

  // --- load and save (overridable, in this order) --------------------------------------------
  // By extension; nothing happens without a target bitmap or with an empty name.
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName);
  virtual void LoadFromFileFormat(const std::string& FileName, int32_t FileType);
  // Parameters only (detection with extension check; any error gives FileType 0).
  virtual void ParamsFromFile(const std::string& FileName);
  virtual void ParamsFromFileFormat(const std::string& FileName, int32_t FileType);
  virtual void ParamsFromStream(TStream& Stream);
  virtual void ParamsFromStreamFormat(TStream& Stream, int32_t FileType);
  // By content, the stream position restored before the reader runs.
  virtual void LoadFromStream(TStream& Stream);
  virtual void LoadFromStreamFormat(TStream& Stream, int32_t FileType);
  virtual void SaveToStream(TStream& Stream, int32_t FileType);

  // --- per format ----------------------------------------------------------------------------
  void LoadFromFileBMP(const std::string& FileName);
  void LoadFromStreamBMP(TStream& Stream);
  void SaveToFileBMP(const std::string& FileName);
  void SaveToStreamBMP(TStream& Stream);
  void LoadFromFileICO(const std::string& FileName);
  void LoadFromStreamICO(TStream& Stream);
  void LoadFromFileCUR(const std::string& FileName);
  void LoadFromStreamCUR(TStream& Stream);
  void LoadFromFilePXM(const std::string& FileName);
  void LoadFromStreamPXM(TStream& Stream);
  void SaveToFilePXM(const std::string& FileName);
  void SaveToStreamPXM(TStream& Stream);
  void LoadFromFileJpeg(const std::string& FileName);
  void LoadFromStreamJpeg(TStream& Stream);
  void SaveToFileJpeg(const std::string& FileName);
  void SaveToStreamJpeg(TStream& Stream);
  void LoadFromFilePNG(const std::string& FileName);
  void LoadFromStreamPNG(TStream& Stream);
  void SaveToFilePNG(const std::string& FileName);
  void SaveToStreamPNG(TStream& Stream);
  // The GIF and TIFF loaders return the number of images in the file.
  int32_t LoadFromFileGif(const std::string& FileName);
  // Loads every frame of a GIF (Type ioGIF) or page of a TIFF (ioTIFF) in one pass over the
  // file, calling OnImage(index) after each with the bitmap and parameters as loading that
  // index leaves them; OnImage returns false to stop. Returns the number of images handed over;
  // Aborting tells whether an image could not be read.
  int32_t LoadEachImage(const std::string& FileName, int32_t Type,
                        const std::function<bool(int32_t)>& OnImage);
  int32_t LoadFromStreamGif(TStream& Stream);
  void SaveToFileGif(const std::string& FileName);
  void SaveToStreamGif(TStream& Stream);
  int32_t LoadFromFileTIFF(const std::string& FileName);
  int32_t LoadFromStreamTIFF(TStream& Stream);
  void SaveToFileTIFF(const std::string& FileName);
  void SaveToStreamTIFF(TStream& Stream);
  void LoadFromFilePCX(const std::string& FileName);
  void LoadFromStreamPCX(TStream& Stream);
  void SaveToFilePCX(const std::string& FileName);
  void SaveToStreamPCX(TStream& Stream);
  void LoadFromFileTGA(const std::string& FileName);
  void LoadFromStreamTGA(TStream& Stream);
  void SaveToFileTGA(const std::string& FileName);
  void SaveToStreamTGA(TStream& Stream);

  // Appends the image as a new GIF frame (making the file a looping animation) or TIFF page.
  bool InsertToFileGif(const std::string& FileName);
  int32_t InsertToFileTIFF(const std::string& FileName);
  // Renders a WMF or EMF file into the bitmap (-1 keeps the metafile's own size or aspect).
  void ImportMetafile(const std::string& FileName, int32_t Width, int32_t Height);
  // Rewrites a JPEG with the current IPTC list; true on success.
  bool InjectJpegIPTC(const std::string& FileName);
  bool InjectJpegIPTCStream(TStream& Source, TStream& Destination);

  // --- printing: lengths in inches ----------------------------------------------------------
  // Draws the image stretched into the device rectangle (trunc(DpiX * X), trunc(DpiY * Y),
  // trunc(DpiX * Width) x trunc(DpiY * Height)) of Canvas, nearest pixel, row band by row band;
  // a 24-bit image with Gamma other than 1 goes through the table
  // round((i / 255)^(1 / Gamma) * 255) on every channel.
  void PrintImagePosEx(TCanvas& Canvas, int32_t DpiX, int32_t DpiY, double X, double Y,
                       double Width, double Height, double Gamma);
  // The same at the canvas's own pixels per inch.
  void PrintImagePos(TCanvas& Canvas, double X, double Y, double Width, double Height,
                     double Gamma);
  // Lays the image out on a page of PageWidth x PageHeight inches inside the margins, sized
  // and placed as asked, then draws it.
  void PrintImageEx(TCanvas& Canvas, int32_t DpiX, int32_t DpiY, double PageWidth,
                    double PageHeight, double LeftMargin, double TopMargin, double RightMargin,
                    double BottomMargin, TQLVerticalPos VerticalPos, TQLHorizontalPos HorizontalPos,
                    TQLSize Size, double GivenWidth, double GivenHeight, double Gamma);
  // The same on a whole canvas: its pixels per inch and its bitmap as the page.
  void PrintImage(TCanvas& Canvas, double LeftMargin, double TopMargin, double RightMargin,
                  double BottomMargin, TQLVerticalPos VerticalPos, TQLHorizontalPos HorizontalPos,
                  TQLSize Size, double GivenWidth, double GivenHeight, double Gamma);
  // A scaled picture of the page Printer would print, at most MaxWidth x MaxHeight, with the
  // margins outlined by a dashed inverting line.
  void PreviewPrintImage(TBitmap& Bitmap, int32_t MaxWidth, int32_t MaxHeight, TPrinter& Printer,
                         double LeftMargin, double TopMargin, double RightMargin,
                         double BottomMargin, TQLVerticalPos VerticalPos,
                         TQLHorizontalPos HorizontalPos, TQLSize Size, double GivenWidth,
                         double GivenHeight, double Gamma);

  // --- acquisition ---------------------------------------------------------------------------
  // The scanner settings: the sources, the selected one and its capabilities.
  TQLTWainParams& TWainParams() { return *FTWainParams; }
  // Scans one page from the selected source into the bitmap and IOParams (the first page of a
  // feeder; the rest are left). True when a whole page arrived; otherwise the bitmap is as it
  // was. Aborting (set from OnProgress) stops the page.
  bool Acquire();
  // Lets the user choose the source and selects it in TWainParams; true on OK.
  bool SelectAcquireSource();

  // Copies the parameters of another I/O component or a parameters object.
  void AssignParams(const TQuilloIO& Source) { FParams.Assign(Source.FParams); }
  void AssignParams(const TIOParamsVals& Source) { FParams.Assign(Source); }
  // Fills the whole bitmap with Background.
  void Clear();
  // IQLParamsOwner
  TBitmap* ParamsOwnerBitmap() override { return FBitmap; }
  bool ParamsOwnerViewDpi(int32_t& DpiX, int32_t& DpiY) override;

 protected:
  // The frame every per-format loader runs in. Read is the codec call (Progress prepared);
  // File is the name for file loads (empty for streams); SetViewDpi tells whether this loader
  // passes the resolution to the view.
  void LoadFrame(int32_t FileType, const std::string& File, bool SetViewDpi,
                 const std::function<void(TProgressRec&)>& Read);
  // Opens FileName for reading and runs LoadFrame with the stream.
  void LoadFileFrame(int32_t FileType, const std::string& FileName, bool SetViewDpi,
                     const std::function<void(TStream&, TProgressRec&)>& Read);
  // The frame every per-format save runs in: clears Aborting, brings the bitmap to 1 or 24
  // bits, and calls Write. False (nothing done) without a target bitmap.
  bool SaveFrame(const std::function<void(TBitmap&, TProgressRec&)>& Write);
  // Creates FileName (replacing it) and runs SaveFrame with the stream; the file is flushed and
  // a failed flush sets Aborting.
  void SaveFileFrame(const std::string& FileName,
                     const std::function<void(TStream&, TBitmap&, TProgressRec&)>& Write);
  // The common frames run with the reader or writer of the table's row for FileType; a type
  // without a row, or a row without the function, ends in Aborting.
  void LoadFileWith(int32_t FileType, const std::string& FileName);
  void LoadStreamWith(int32_t FileType, TStream& Stream);
  void SaveFileWith(int32_t FileType, const std::string& FileName);
  // Around, when given, is called in the save frame in place of the writer, to wrap it (stream
  // headers).
  using TQLWriteAround =
      std::function<void(const TQLWriteFunction& Write, TBitmap& Bitmap, TProgressRec& Progress)>;
  void SaveStreamWith(int32_t FileType, TStream& Stream, const TQLWriteAround& Around = {});
  // Whether a load of FileType from a file (or a stream) passes the resolution to the view, as
  // the table's row says (a type without a row does).
  static bool ViewDpiAfterLoad(int32_t FileType, bool FromFile);
  TProgressRec MakeProgress();
  // Ends an operation that cannot be done (by default: no reader or writer for the format) in
  // Aborting, with the reason.
  void Fail(TQLAbortReason Reason = qlarUnsupported);
  // Clears Aborting and its reason.
  void ClearAbort();
  // Resets for a load: Aborting false, metadata lists emptied. False without a target bitmap.
  bool BeginLoad();
  // After a load: name, type, view resolution, Update.
  void EndLoad(int32_t FileType, const std::string& File, bool SetViewDpi);

 private:
  friend class TQLIOThread;  // hands a background load's reason over with its flag
  TQLAbortReason FAbortReason = qlarNone;
  // The common frames with the row's reader or writer (Aborting when the row has none).
  void LoadFileRow(const TQLFileFormatInfo& Row, const std::string& FileName);
  void LoadStreamRow(const TQLFileFormatInfo& Row, TStream& Stream);
  void SaveFileRow(const TQLFileFormatInfo& Row, const std::string& FileName);
  void SaveStreamRow(const TQLFileFormatInfo& Row, TStream& Stream, const TQLWriteAround& Around);
  // Run the component's own loader or saver of a built-in row that needs more than the row's
  // function (stream headers, image counts, the GIF background, metafiles); false otherwise.
  bool OwnFileLoad(const TQLFileFormatInfo& Row, const std::string& FileName);
  bool OwnStreamLoad(const TQLFileFormatInfo& Row, TStream& Stream);
  bool OwnStreamSave(const TQLFileFormatInfo& Row, TStream& Stream);
  TColor FBackground = clWhite;
  TIOParamsVals FParams;
  std::unique_ptr<TQLTWainParams> FTWainParams;
  // Where InsertToFileGif left the end of the file it wrote last (its trailer and image
  // count), and that file's stamp then: appending to it again goes straight to the trailer.
  TQLFileStamp FGifAppendStamp;
  int64_t FGifAppendTrailer = -1;
  int32_t FGifAppendCount = 0;
};

// The type of the image at the stream's position (0 when unknown); the position is restored.
// Registered formats' detectors are asked first.
int32_t FindStreamFormat(TStream& Stream);
// The type of the file's content (0 when unknown or unreadable); with VerifyExtension, 0 unless
// the file's extension belongs to the detected type.
int32_t FindFileFormat(const std::string& FileName, bool VerifyExtension);
// Removes image Index from a GIF file; returns how many remain.
int32_t DeleteGifIm(const std::string& FileName, int32_t Index);
// Removes page Index from a TIFF file by rebuilding it; returns how many pages it had before
// (an index outside them leaves the file as it was).
int32_t DeleteTIFFIm(const std::string& FileName, int32_t Index);
// The number of images in a GIF file (pages in a TIFF file); 0 when the file cannot be read.
int32_t EnumGifIm(const std::string& FileName);
int32_t EnumTIFFIm(const std::string& FileName);
// True when the GIF file is marked as a looping animation (false when it cannot be read).
bool CheckAniGif(const std::string& FileName);
// The file name's extension without the dot, in lower case (empty when there is none).
std::string QLExtractExt(const std::string& FileName);

// The 12-byte header ("JFIF", "PCX2", "TIFF", then 0 and the data length) that lets several
// images follow one another in a stream.
struct TQLStreamHeader {
  char Tag[4] = {};
  uint32_t Reserved = 0;  // bytes 4..7, little-endian; 0 in every header written
  int64_t Length = 0;
};
// Reads a stream header at the stream's position; nothing (and the position restored) when the
// 12 bytes are not there.
std::optional<TQLStreamHeader> QLReadStreamHeader(TStream& Stream);
// Writes 12 placeholder bytes and returns where they start.
int64_t QLBeginStreamHeader(TStream& Stream, bool& Abort);
// Completes the header at HeaderPos with Tag and the bytes written since, and leaves the stream
// at the end.
void QLEndStreamHeader(TStream& Stream, int64_t HeaderPos, const char (&Tag)[5], bool& Abort);

// Background loading: a private I/O component and bitmap load FileName on a worker thread; on the
// main thread the parameters are then copied back to the owner and the bitmap handed to the
// owner's target. Created suspended: call Start, or hand it to TThread::FreeOnTerminate.
// Destroying it while the load runs makes the codec stop at its next row.
class TQLIOThread : public TThread {
 public:
  TQLIOThread(TQuilloIO* Owner, const std::string& FileName);
  ~TQLIOThread() override;
  // True when the load finished and was handed to the owner.
  bool GetDelivered() const { return FDelivered; }

 protected:
  void Execute() override;
  void StopRequested() override;

 private:
  void Deliver();
  class TOwnerWatch;
  std::unique_ptr<TOwnerWatch> FWatch;
  std::string FFileName;
  TBitmap FBitmap;
  std::unique_ptr<TQuilloIO> FIO;
  bool FDelivered = false;
};

// Sets an abort flag from any thread.
void QLSetAbortFlag(bool& Flag);
void QLClearAbortFlag(bool& Flag);

}  // namespace quillo
