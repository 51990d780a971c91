// The I/O component's BMP, ICO, CUR and PBM/PGM/PPM loaders and savers.
#include "quillo/codecs/bmp.h"
#include "quillo/codecs/pxm.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFileBMP(const std::string& FileName) {
  LoadFileFrame(ioBMP, FileName, true, [&](TStream& S, TProgressRec& P) {
    // The file's size bounds the bitmap's bytes.
    BMPReadStream(S, *GetAttachedBitmap(), S.GetSize(), IOParams(), P, false);
  });
}

void TQuilloIO::LoadFromStreamBMP(TStream& Stream) {
  LoadFrame(ioBMP, "", false, [&](TProgressRec& P) {
    BMPReadStream(Stream, *GetAttachedBitmap(), 0, IOParams(), P, false);
  });
}

void TQuilloIO::SaveToFileBMP(const std::string& FileName) {
  SaveFileFrame(FileName, [&](TStream& S, TBitmap& B, TProgressRec& P) {
    BMPWriteStream(S, B, IOParams(), P);
  });
}

void TQuilloIO::SaveToStreamBMP(TStream& Stream) {
  SaveFrame([&](TBitmap& B, TProgressRec& P) { BMPWriteStream(Stream, B, IOParams(), P); });
}

void TQuilloIO::LoadFromFileICO(const std::string& FileName) {
  LoadFileFrame(ioICO, FileName, true, [&](TStream& S, TProgressRec& P) {
    ICOReadStream(S, *GetAttachedBitmap(), IOParams(), false, P);
  });
}

void TQuilloIO::LoadFromStreamICO(TStream& Stream) {
  LoadFrame(ioICO, "", false, [&](TProgressRec& P) {
    ICOReadStream(Stream, *GetAttachedBitmap(), IOParams(), false, P);
  });
}

void TQuilloIO::LoadFromFileCUR(const std::string& FileName) {
  LoadFileFrame(ioCUR, FileName, true, [&](TStream& S, TProgressRec& P) {
    CURReadStream(S, *GetAttachedBitmap(), IOParams(), false, P);
  });
}

void TQuilloIO::LoadFromStreamCUR(TStream& Stream) {
  LoadFrame(ioCUR, "", false, [&](TProgressRec& P) {
    CURReadStream(Stream, *GetAttachedBitmap(), IOParams(), false, P);
  });
}

void TQuilloIO::LoadFromFilePXM(const std::string& FileName) {
  // The netpbm formats carry no resolution, so the view keeps its own.
  LoadFileFrame(ioPXM, FileName, false, [&](TStream& S, TProgressRec& P) {
    PXMReadStream(S, *GetAttachedBitmap(), IOParams(), P, false);
  });
}

void TQuilloIO::LoadFromStreamPXM(TStream& Stream) {
  LoadFrame(ioPXM, "", false, [&](TProgressRec& P) {
    PXMReadStream(Stream, *GetAttachedBitmap(), IOParams(), P, false);
  });
}

void TQuilloIO::SaveToFilePXM(const std::string& FileName) {
  SaveFileFrame(FileName, [&](TStream& S, TBitmap& B, TProgressRec& P) {
    PXMWriteStream(S, B, IOParams(), P);
  });
}

void TQuilloIO::SaveToStreamPXM(TStream& Stream) {
  SaveFrame([&](TBitmap& B, TProgressRec& P) { PXMWriteStream(Stream, B, IOParams(), P); });
}

}  // namespace quillo
