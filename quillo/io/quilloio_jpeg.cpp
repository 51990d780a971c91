// The I/O component's JPEG loaders and savers, the "JFIF" stream header and IPTC injection.
#include <cstring>

#include "quillo/codecs/jpeg.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

namespace {

constexpr uint8_t kAPP13 = 0xED;

// Reads one JPEG, first consuming a "JFIF" stream header when one is there (the stream is then
// left at the end of the image's bytes as the header gives them), and fills the IPTC list from
// the first APP13 marker read.
void ReadJpeg(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
              bool Preview) {
  const int64_t Start = Stream.GetPosition();
  const std::optional<TQLStreamHeader> H = QLReadStreamHeader(Stream);
  const bool Framed = H && std::memcmp(H->Tag, "JFIF", 4) == 0 && (H->Reserved & 0xFF) == 0;
  if (!Framed) Stream.SetPosition(Start);
  ReadJPegStream(Stream, Bitmap, Params, Progress, Preview);
  if (Framed) Stream.SetPosition(Start + 12 + H->Length);
  const TQLMarkerList& Markers = Params.JpegMarkerList;
  const int32_t I = Markers.IndexOf(kAPP13);
  if (I >= 0)
    Params.IPTCInfoList.LoadFromStandardBuffer(Markers.GetMarkerData(I),
                                               Markers.GetMarkerLength(I));
}

// An IPTC list the user changed travels as the APP13 marker: it replaces the first one, or is
// appended.
void StoreIPTC(TIOParamsVals& Params) {
  if (!Params.IPTCInfoList.GetUserChanged()) return;
  const std::vector<uint8_t> Buf = Params.IPTCInfoList.SaveToStandardBuffer();
  TQLMarkerList& Markers = Params.JpegMarkerList;
  const int32_t Len = static_cast<int32_t>(Buf.size());
  const int32_t I = Markers.IndexOf(kAPP13);
  if (I >= 0)
    Markers.SetMarker(I, kAPP13, Buf.data(), Len);
  else
    Markers.AddMarker(kAPP13, Buf.data(), Len);
}

}  // namespace

void TQuilloIO::LoadFromFileJpeg(const std::string& FileName) {
  LoadFileWith(ioJPEG, FileName);
}

void TQuilloIO::LoadFromStreamJpeg(TStream& Stream) {
  LoadStreamWith(ioJPEG, Stream);
}

void TQuilloIO::SaveToFileJpeg(const std::string& FileName) {
  SaveFileWith(ioJPEG, FileName);
}

void TQuilloIO::SaveToStreamJpeg(TStream& Stream) {
  if (!StreamHeaders) return SaveStreamWith(ioJPEG, Stream);
  SaveStreamWith(ioJPEG, Stream, [&](const TQLWriteFunction& Write, TBitmap& B, TProgressRec& P) {
    const int64_t Header = QLBeginStreamHeader(Stream, Aborting);
    Write(Stream, B, IOParams(), P);
    QLEndStreamHeader(Stream, Header, "JFIF", Aborting);
  });
}

bool TQuilloIO::InjectJpegIPTC(const std::string& FileName) {
  TMemoryStream Source;
  Source.LoadFromFile(FileName);
  TMemoryStream Result;
  // The file is replaced only by a complete copy: a failed injection leaves it as it was.
  if (!QLJpegInjectIPTC(Source, Result, IOParams().IPTCInfoList)) return false;
  Result.SaveToFile(FileName);
  return true;
}

bool TQuilloIO::InjectJpegIPTCStream(TStream& Source, TStream& Destination) {
  return QLJpegInjectIPTC(Source, Destination, IOParams().IPTCInfoList);
}

namespace iodetail {

void JPEGRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
              TProgressRec& Progress) {
  ReadJpeg(Stream, Bitmap, Params, Progress, Preview);
}

void JPEGWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  StoreIPTC(Params);
  WriteJPegStream(Stream, Bitmap, Params, Progress);
}

// The JPEG signature, or a "JFIF" stream header ahead of one.
bool JPEGTry(TStream& Stream) {
  return JpegTryStream(Stream) || StartsWith(Stream, 12, "JFIF\0", 5);
}

}  // namespace iodetail

}  // namespace quillo
