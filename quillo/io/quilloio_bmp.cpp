// The I/O component's BMP, ICO, CUR and PBM/PGM/PPM loaders and savers.
#include "quillo/codecs/bmp.h"
#include "quillo/codecs/pxm.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFileBMP(const std::string& FileName) {
  LoadFileFrame(ioBMP, FileName, ViewDpiAfterLoad(ioBMP, true), [&](TStream& S, TProgressRec& P) {
    // The file's size bounds the bitmap's bytes.
    BMPReadStream(S, *GetAttachedBitmap(), S.GetSize(), IOParams(), P, false);
  });
}

void TQuilloIO::LoadFromStreamBMP(TStream& Stream) {
  LoadStreamWith(ioBMP, Stream);
}

void TQuilloIO::SaveToFileBMP(const std::string& FileName) {
  SaveFileWith(ioBMP, FileName);
}

void TQuilloIO::SaveToStreamBMP(TStream& Stream) {
  SaveStreamWith(ioBMP, Stream);
}

void TQuilloIO::LoadFromFileICO(const std::string& FileName) {
  LoadFileWith(ioICO, FileName);
}

void TQuilloIO::LoadFromStreamICO(TStream& Stream) {
  LoadStreamWith(ioICO, Stream);
}

void TQuilloIO::LoadFromFileCUR(const std::string& FileName) {
  LoadFileWith(ioCUR, FileName);
}

void TQuilloIO::LoadFromStreamCUR(TStream& Stream) {
  LoadStreamWith(ioCUR, Stream);
}

void TQuilloIO::LoadFromFilePXM(const std::string& FileName) {
  LoadFileWith(ioPXM, FileName);
}

void TQuilloIO::LoadFromStreamPXM(TStream& Stream) {
  LoadStreamWith(ioPXM, Stream);
}

void TQuilloIO::SaveToFilePXM(const std::string& FileName) {
  SaveFileWith(ioPXM, FileName);
}

void TQuilloIO::SaveToStreamPXM(TStream& Stream) {
  SaveStreamWith(ioPXM, Stream);
}

namespace iodetail {

// A stream gives no block size: the reader takes what the header says.
void BMPRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  BMPReadStream(Stream, Bitmap, 0, Params, Progress, Preview);
}

void BMPWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  BMPWriteStream(Stream, Bitmap, Params, Progress);
}

bool BMPTry(TStream& Stream) {
  return StartsWith(Stream, 14, "BM", 2);
}

void ICORead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  ICOReadStream(Stream, Bitmap, Params, Preview, Progress);
}

bool ICOTry(TStream& Stream) {
  return ICOTryStream(Stream);
}

void CURRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  CURReadStream(Stream, Bitmap, Params, Preview, Progress);
}

bool CURTry(TStream& Stream) {
  return CURTryStream(Stream);
}

void PXMRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  PXMReadStream(Stream, Bitmap, Params, Progress, Preview);
}

void PXMWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  PXMWriteStream(Stream, Bitmap, Params, Progress);
}

bool PXMTry(TStream& Stream) {
  return TryPXM(Stream);
}

}  // namespace iodetail

}  // namespace quillo
