#include "quillo/codecs/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it, jerror.h needs jpeglib.h.
#include <jpeglib.h>

#include <jerror.h>

#include "quillo/codecs/detail/common.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"

namespace quillo {

namespace {

// ---------------------------------------------------------------------------------------------
// The C-style layer. The library reports fatal errors through its error_exit callback, which
// must not return; ours leaves with longjmp to the setjmp in JRun. Every frame the jump can
// cross (JRun's, the step function it calls, the library's own and the callbacks below) holds
// only trivially destructible locals, so no destructor is skipped. The library objects live in
// plain structs owned by the C++ code around, which destroys them on every path.

// The destination's block. The source's is larger: the library's fast Huffman decoder needs
// 512 bytes in the buffer ahead and falls back to its slow path for the last 512 bytes of each
// block, which costs several per cent of a decode with 4 KiB blocks.
constexpr size_t kBufSize = 4096;
constexpr size_t kSourceBufSize = 64 * 1024;

// Warnings after which pixels are missing or wrong: treated as fatal, so that a truncated or
// damaged file ends in the abort flag rather than in a partly grey image reported as good.
bool IsDataLoss(int Code) {
  switch (Code) {
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
      return true;
    default:
      return false;
  }
}

// Far more scans than any encoder writes; a file with more is built to make every scan a pass
// over the whole coefficient buffer.
constexpr int kMaxScans = 1000;

struct TJErr {
  jpeg_error_mgr Pub;  // first member: the library hands back a pointer to it
  std::jmp_buf Jump;
  bool DataLost;
};

struct TJSource {
  jpeg_source_mgr Pub;
  TStream* Stream;
  bool StartOfFile;
  JOCTET Buffer[kSourceBufSize];
};

struct TJDest {
  jpeg_destination_mgr Pub;
  TStream* Stream;
  JOCTET Buffer[kBufSize];
};

TJErr* ErrOf(j_common_ptr C) {
  return reinterpret_cast<TJErr*>(C->err);
}

[[noreturn]] void ErrorExit(j_common_ptr C) {
  std::longjmp(ErrOf(C)->Jump, 1);
}

void EmitMessage(j_common_ptr C, int Level) {
  if (Level >= 0) return;  // trace messages
  TJErr* E = ErrOf(C);
  ++E->Pub.num_warnings;
  if (IsDataLoss(E->Pub.msg_code)) {
    E->DataLost = true;
    std::longjmp(E->Jump, 1);
  }
}

void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr C) {
  if (C->is_decompressor && reinterpret_cast<j_decompress_ptr>(C)->input_scan_number > kMaxScans)
    ERREXIT(C, JERR_BAD_PROGRESSION);
}

void InitErr(TJErr& E) {
  jpeg_std_error(&E.Pub);
  E.Pub.error_exit = ErrorExit;
  E.Pub.emit_message = EmitMessage;
  E.Pub.output_message = OutputMessage;
}

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr C) {
  TJSource* S = reinterpret_cast<TJSource*>(C->src);
  int64_t N = QLReadNoThrow(S->Stream, S->Buffer, kSourceBufSize);
  if (N < 0) ERREXIT(C, JERR_FILE_READ);
  if (N == 0) {
    // The data ends before its end-of-image marker. Decoding on over made-up data would
    // report a partly grey image as good: this is a truncated file.
    S->Pub.bytes_in_buffer = 0;
    if (S->StartOfFile) ERREXIT(C, JERR_INPUT_EMPTY);
    reinterpret_cast<TJErr*>(C->err)->DataLost = true;
    ERREXIT(C, JERR_INPUT_EOF);
  }
  S->Pub.next_input_byte = S->Buffer;
  S->Pub.bytes_in_buffer = static_cast<size_t>(N);
  S->StartOfFile = false;
  return TRUE;
}

void SkipInput(j_decompress_ptr C, long Count) {
  if (Count <= 0) return;
  TJSource* S = reinterpret_cast<TJSource*>(C->src);
  size_t N = static_cast<size_t>(Count);
  while (N > S->Pub.bytes_in_buffer) {
    N -= S->Pub.bytes_in_buffer;
    FillInput(C);
  }
  S->Pub.next_input_byte += N;
  S->Pub.bytes_in_buffer -= N;
}

void TermSource(j_decompress_ptr) {}

void InitDest(j_compress_ptr C) {
  TJDest* D = reinterpret_cast<TJDest*>(C->dest);
  D->Pub.next_output_byte = D->Buffer;
  D->Pub.free_in_buffer = kBufSize;
}

boolean EmptyOutput(j_compress_ptr C) {
  TJDest* D = reinterpret_cast<TJDest*>(C->dest);
  if (QLWriteNoThrow(D->Stream, D->Buffer, kBufSize) != static_cast<int64_t>(kBufSize))
    ERREXIT(C, JERR_FILE_WRITE);
  D->Pub.next_output_byte = D->Buffer;
  D->Pub.free_in_buffer = kBufSize;
  return TRUE;
}

void TermDest(j_compress_ptr C) {
  TJDest* D = reinterpret_cast<TJDest*>(C->dest);
  const int64_t N = static_cast<int64_t>(kBufSize - D->Pub.free_in_buffer);
  if (N > 0 && QLWriteNoThrow(D->Stream, D->Buffer, N) != N) ERREXIT(C, JERR_FILE_WRITE);
}

// Runs Step(Ctx), a call into the library; false when the library raised a fatal error (or a
// data-loss warning). Never inlined: the setjmp must sit in a frame of its own.
using TJStep = void (*)(void* Ctx);
[[gnu::noinline]] bool JRun(TJErr& E, TJStep Step, void* Ctx) {
  if (setjmp(E.Jump) != 0) return false;
  Step(Ctx);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Decompression

// Everything the library needs for one decompression; plain data, zeroed before use.
struct TJDec {
  jpeg_decompress_struct Info;
  TJErr Err;
  TJSource Src;
  jpeg_progress_mgr Progress;
  JSAMPROW Row;    // argument of the row step
  JDIMENSION Got;  // result of the row step
};

// Owns a TJDec and destroys the library object however the work ended.
class TJDecoder {
 public:
  explicit TJDecoder(TStream& Stream) : FD(std::make_unique<TJDec>()) {
    TJDec& D = *FD;
    std::memset(&D, 0, sizeof(D));
    InitErr(D.Err);
    D.Info.err = &D.Err.Pub;
    D.Src.Stream = &Stream;
    D.Src.StartOfFile = true;
    D.Src.Pub.init_source = InitSource;
    D.Src.Pub.fill_input_buffer = FillInput;
    D.Src.Pub.skip_input_data = SkipInput;
    D.Src.Pub.resync_to_restart = jpeg_resync_to_restart;
    D.Src.Pub.term_source = TermSource;
    D.Progress.progress_monitor = ProgressMonitor;
  }
  ~TJDecoder() { jpeg_destroy_decompress(&FD->Info); }
  TJDecoder(const TJDecoder&) = delete;
  TJDecoder& operator=(const TJDecoder&) = delete;

  bool Run(TJStep Step) { return JRun(FD->Err, Step, FD.get()); }
  TJDec& D() { return *FD; }

 private:
  std::unique_ptr<TJDec> FD;
};

TJDec* Dec(void* P) {
  return static_cast<TJDec*>(P);
}

void StepCreateAndReadHeader(void* P) {
  TJDec* D = Dec(P);
  jpeg_create_decompress(&D->Info);
  D->Info.src = &D->Src.Pub;
  D->Info.progress = &D->Progress;
  jpeg_save_markers(&D->Info, JPEG_COM, 0xFFFF);
  for (int M = 0; M < 16; ++M) jpeg_save_markers(&D->Info, JPEG_APP0 + M, 0xFFFF);
  jpeg_read_header(&D->Info, TRUE);
}

void StepCalcOutput(void* P) {
  jpeg_calc_output_dimensions(&Dec(P)->Info);
}

void StepStart(void* P) {
  jpeg_start_decompress(&Dec(P)->Info);
}

void StepReadRow(void* P) {
  TJDec* D = Dec(P);
  D->Got = jpeg_read_scanlines(&D->Info, &D->Row, 1);
}

void StepFinish(void* P) {
  jpeg_finish_decompress(&Dec(P)->Info);
}

bool Fail(TProgressRec& Progress) {
  QLSetAbort(Progress);
  return false;
}

// d of the 1/d reduction for JpegScale; AUTOCALC picks the d whose output area is nearest to the
// Width x Height the parameters held before the read (full size when that is 0).
int32_t ScaleDenominator(const TIOParamsVals& P, int64_t ImageW, int64_t ImageH) {
  switch (P.JpegScale) {
    case ioJPEG_HALF:
      return 2;
    case ioJPEG_QUARTER:
      return 4;
    case ioJPEG_EIGHTH:
      return 8;
    case ioJPEG_AUTOCALC: {
      const int64_t Area = static_cast<int64_t>(P.Width) * P.Height;
      if (Area == 0) return 1;
      int32_t Best = 1;
      int64_t BestDiff = -1;
      for (int32_t D : {1, 2, 4, 8}) {
        int64_t Diff = Area - (ImageW / D) * (ImageH / D);
        if (Diff < 0) Diff = -Diff;
        if (BestDiff < 0 || Diff < BestDiff) Best = D, BestDiff = Diff;
      }
      return Best;
    }
    default:
      return 1;
  }
}

J_DCT_METHOD DctMethod(TIOJPEGDctMethod M) {
  switch (M) {
    case ioJPEG_IFAST:
      return JDCT_IFAST;
    case ioJPEG_FLOAT:
      return JDCT_FLOAT;
    default:
      return JDCT_ISLOW;
  }
}

// The kept markers in file order, but a leading APP0: the writer produces its own JFIF header.
void CopyMarkers(TJDec& D, TQLMarkerList& List) {
  List.Clear();
  bool First = true;
  for (jpeg_saved_marker_ptr M = D.Info.marker_list; M; M = M->next) {
    const bool Skip = First && M->marker == JPEG_APP0;
    First = false;
    if (!Skip)
      List.AddMarker(static_cast<uint8_t>(M->marker), M->data,
                     static_cast<int32_t>(M->data_length));
  }
}

// Reads the header, the parameters and (unless Preview) every row; true when all rows arrived
// and the library should read on to the end of the image.
bool Decode(TJDecoder& J, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
            bool Preview) {
  TJDec& D = J.D();
  if (!J.Run(StepCreateAndReadHeader)) return Fail(Progress);
  if (QLAborted(Progress)) return false;

  jpeg_decompress_struct& I = D.Info;
  bool Cmyk = false;
  switch (I.jpeg_color_space) {
    case JCS_GRAYSCALE:
      Params.JpegColorSpace = ioJPEG_GRAYLEV;
      break;
    case JCS_RGB:
      Params.JpegColorSpace = ioJPEG_RGB;
      break;
    case JCS_YCbCr:
      Params.JpegColorSpace = ioJPEG_YCbCr;
      break;
    case JCS_CMYK:
      Params.JpegColorSpace = ioJPEG_CMYK;
      Cmyk = true;
      break;
    case JCS_YCCK:
      Params.JpegColorSpace = ioJPEG_YCbCrK;
      Cmyk = true;
      break;
    default:
      // Two components, or a colour space the library cannot convert to RGB.
      return Fail(Progress);
  }
  // Three-component output comes in the order of a bitmap row; CMYK is converted below.
  I.out_color_space = Cmyk ? JCS_CMYK : JCS_EXT_BGR;
  I.dct_method = DctMethod(Params.JpegDCTMethod);

  if (!I.saw_JFIF_marker) {
    // No JFIF header, no resolution.
    Params.DpiX = gSystemDPIX;
    Params.DpiY = gSystemDPIY;
  } else if (I.density_unit == 2) {
    Params.DpiX = QLTrunc(I.X_density * 2.54);
    Params.DpiY = QLTrunc(I.Y_density * 2.54);
  } else {
    Params.DpiX = I.X_density;
    Params.DpiY = I.Y_density;
  }
  Params.BitsPerSample = 8;
  Params.SamplesPerPixel = 3;
  Params.FreeColorMap();
  Params.JpegProgressive = I.progressive_mode != 0;

  I.scale_num = 1;
  I.scale_denom =
      static_cast<unsigned int>(ScaleDenominator(Params, I.image_width, I.image_height));
  if (!J.Run(StepCalcOutput)) return Fail(Progress);
  const int64_t W = I.output_width, H = I.output_height;
  Params.Width = static_cast<int32_t>(W);
  Params.Height = static_cast<int32_t>(H);
  // The preview needs the output size only, which the library knows without decoding.
  if (Preview) return false;

  if (!QLImageSizeOK(W, H)) return Fail(Progress);
  // Multi-scan files are decoded through a coefficient buffer of the whole image, 2 bytes per
  // sample: bound it by what an image within the pixel limit can need.
  const int64_t MaxPixels = QLGetMaxPixels();
  if (MaxPixels < std::numeric_limits<long>::max() / 16)
    D.Info.mem->max_memory_to_use = static_cast<long>(MaxPixels * 8 + (int64_t{16} << 20));
  if (!J.Run(StepStart)) return Fail(Progress);
  if (QLAborted(Progress)) return false;
  if (!QLPrepareBitmap(Bitmap, W, H, false, Progress)) return false;

  std::vector<uint8_t> CmykRow;
  if (Cmyk) CmykRow.resize(static_cast<size_t>(W) * 4);
  Progress.StepFactor = 100.0 / static_cast<double>(H);
  Progress.Pass = 0;
  while (Progress.Pass < H) {
    uint8_t* Row = Bitmap.ScanLine(Progress.Pass);
    D.Row = Cmyk ? CmykRow.data() : Row;
    if (!J.Run(StepReadRow) || D.Got != 1) return Fail(Progress);
    if (Cmyk) {
      // Adobe applications store CMYK inverted (255 is no ink), and so does our writer; the
      // library hands the samples over as stored, so a channel times K over 255 is the light
      // that reaches the eye.
      const uint8_t* S = CmykRow.data();
      for (int64_t X = 0; X < W; ++X, S += 4, Row += 3) {
        const int32_t K = S[3];
        Row[0] = static_cast<uint8_t>(S[2] * K / 255);
        Row[1] = static_cast<uint8_t>(S[1] * K / 255);
        Row[2] = static_cast<uint8_t>(S[0] * K / 255);
      }
    }
    ++Progress.Pass;
    QLProgressStep(Progress, Progress.Pass);
    if (QLAborted(Progress)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Compression

struct TJEnc {
  jpeg_compress_struct Info;
  TJErr Err;
  TJDest Dst;
  // Settings, copied in before the set-up step.
  JDIMENSION Width, Height;
  TIOJPEGColorspace Space;
  J_DCT_METHOD Dct;
  bool Optimize, Progressive;
  int Smooth, Quality;
  UINT16 DensityX, DensityY;
  // Arguments of the marker and row steps.
  int MarkerCode;
  const JOCTET* MarkerData;
  unsigned int MarkerLength;
  JSAMPROW Row;
  JDIMENSION Done;
};

class TJEncoder {
 public:
  explicit TJEncoder(TStream& Stream) : FE(std::make_unique<TJEnc>()) {
    TJEnc& E = *FE;
    std::memset(&E, 0, sizeof(E));
    InitErr(E.Err);
    E.Info.err = &E.Err.Pub;
    E.Dst.Stream = &Stream;
    E.Dst.Pub.init_destination = InitDest;
    E.Dst.Pub.empty_output_buffer = EmptyOutput;
    E.Dst.Pub.term_destination = TermDest;
  }
  ~TJEncoder() { jpeg_destroy_compress(&FE->Info); }
  TJEncoder(const TJEncoder&) = delete;
  TJEncoder& operator=(const TJEncoder&) = delete;

  bool Run(TJStep Step) { return JRun(FE->Err, Step, FE.get()); }
  TJEnc& E() { return *FE; }

 private:
  std::unique_ptr<TJEnc> FE;
};

TJEnc* Enc(void* P) {
  return static_cast<TJEnc*>(P);
}

void StepCreateAndSetUp(void* P) {
  TJEnc* E = Enc(P);
  jpeg_compress_struct* C = &E->Info;
  jpeg_create_compress(C);
  C->dest = &E->Dst.Pub;
  C->image_width = E->Width;
  C->image_height = E->Height;
  C->input_components = 3;
  C->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(C);
  switch (E->Space) {
    case ioJPEG_GRAYLEV:
      jpeg_set_colorspace(C, JCS_GRAYSCALE);
      break;
    case ioJPEG_CMYK:
    case ioJPEG_YCbCrK:
      C->input_components = 4;
      C->in_color_space = JCS_CMYK;
      jpeg_set_colorspace(C, E->Space == ioJPEG_CMYK ? JCS_CMYK : JCS_YCCK);
      break;
    case ioJPEG_RGB:
      jpeg_set_colorspace(C, JCS_RGB);
      break;
    default:
      jpeg_set_colorspace(C, JCS_YCbCr);
      break;
  }
  C->density_unit = 1;
  C->X_density = E->DensityX;
  C->Y_density = E->DensityY;
  C->dct_method = E->Dct;
  C->optimize_coding = E->Optimize ? TRUE : FALSE;
  C->smoothing_factor = E->Smooth;
  jpeg_set_quality(C, E->Quality, TRUE);
  if (E->Progressive) jpeg_simple_progression(C);
}

void StepStartCompress(void* P) {
  jpeg_start_compress(&Enc(P)->Info, TRUE);
}

void StepWriteMarker(void* P) {
  TJEnc* E = Enc(P);
  jpeg_write_marker(&E->Info, E->MarkerCode, E->MarkerData, E->MarkerLength);
}

void StepWriteRow(void* P) {
  TJEnc* E = Enc(P);
  E->Done = jpeg_write_scanlines(&E->Info, &E->Row, 1);
}

void StepFinishCompress(void* P) {
  jpeg_finish_compress(&Enc(P)->Info);
}

uint16_t Density(int32_t Dpi) {
  return static_cast<uint16_t>(std::clamp<int32_t>(Dpi, 0, 65535));
}

// The largest payload one marker segment can carry (its 16-bit length counts itself).
constexpr int32_t kMaxMarkerPayload = 65533;

void Encode(TJEncoder& J, const TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  TJEnc& E = J.E();
  E.Width = static_cast<JDIMENSION>(Bitmap.GetWidth());
  E.Height = static_cast<JDIMENSION>(Bitmap.GetHeight());
  E.Space = Params.JpegColorSpace;
  E.Dct = DctMethod(Params.JpegDCTMethod);
  E.Optimize = Params.JpegOptimalHuffman;
  E.Progressive = Params.JpegProgressive;
  E.Smooth = std::clamp<int32_t>(Params.JpegSmooth, 0, 100);
  E.Quality = Params.JpegQuality;
  E.DensityX = Density(Params.DpiX);
  E.DensityY = Density(Params.DpiY);
  if (!J.Run(StepCreateAndSetUp)) return QLSetAbort(Progress);
  if (QLAborted(Progress)) return;
  if (!J.Run(StepStartCompress)) return QLSetAbort(Progress);

  // The library writes its own Adobe segment for RGB, CMYK and YCCK data; an Adobe segment
  // copied from another file would follow it and could name another colour transform, which
  // readers would then apply to these samples.
  const bool OwnAdobe = E.Info.write_Adobe_marker != 0;
  const TQLMarkerList& Markers = Params.JpegMarkerList;
  for (int32_t M = 0; M < Markers.GetCount(); ++M) {
    const int32_t Len = Markers.GetMarkerLength(M);
    const uint8_t* Data = Markers.GetMarkerData(M);
    if (Len > kMaxMarkerPayload) continue;
    if (OwnAdobe && Markers.GetMarkerType(M) == JPEG_APP0 + 14 && Len >= 5 &&
        std::memcmp(Data, "Adobe", 5) == 0)
      continue;
    E.MarkerCode = Markers.GetMarkerType(M);
    E.MarkerData = Data;
    E.MarkerLength = static_cast<unsigned int>(Len);
    if (!J.Run(StepWriteMarker)) return QLSetAbort(Progress);
  }

  const bool Cmyk = E.Space == ioJPEG_CMYK || E.Space == ioJPEG_YCbCrK;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  std::vector<uint8_t> CmykRow;
  if (Cmyk) CmykRow.resize(static_cast<size_t>(W) * 4);
  Progress.StepFactor = 100.0 / H;
  Progress.Pass = 0;
  while (Progress.Pass < H) {
    const uint8_t* Row = Bitmap.ScanLine(Progress.Pass);
    if (Cmyk) {
      // Inverted CMYK as Adobe applications store it: K is the brightest channel, and each
      // colour is scaled by it so that the reader's channel x K / 255 gives it back.
      uint8_t* D = CmykRow.data();
      for (int32_t X = 0; X < W; ++X, Row += 3, D += 4) {
        const int32_t B = Row[0], G = Row[1], R = Row[2];
        int32_t K = std::max({R, G, B});
        if (K == 0) K = 1;
        D[0] = static_cast<uint8_t>(R * 255 / K);
        D[1] = static_cast<uint8_t>(G * 255 / K);
        D[2] = static_cast<uint8_t>(B * 255 / K);
        D[3] = static_cast<uint8_t>(K);
      }
      E.Row = CmykRow.data();
    } else {
      // The library only reads input rows.
      E.Row = const_cast<uint8_t*>(Row);
    }
    if (!J.Run(StepWriteRow) || E.Done != 1) return QLSetAbort(Progress);
    ++Progress.Pass;
    QLProgressStep(Progress, Progress.Pass);
    if (QLAborted(Progress)) return;
  }
  if (!J.Run(StepFinishCompress)) QLSetAbort(Progress);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool JpegTryStream(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  uint8_t B[3] = {};
  int64_t N = 0;
  try {
    N = Stream.Read(B, 3);
  } catch (...) {
    Stream.SetPosition(Pos);
    throw;
  }
  Stream.SetPosition(Pos);
  return N == 3 && B[0] == 0xFF && B[1] == 0xD8 && B[2] == 0xFF;
}

bool QLJpegDecodeChunk(const uint8_t* Tables, size_t TablesSize, const uint8_t* Data,
                       size_t DataSize, int32_t Width, int32_t Components, bool StoredRgb,
                       int64_t MaxRows, std::vector<uint8_t>& Out) {
  Out.clear();
  if (Width <= 0 || (Components != 1 && Components != 3) || MaxRows <= 0) return false;
  // One stream: the tables without their end-of-image marker, then the chunk without its
  // start-of-image marker.
  std::vector<uint8_t> Joined;
  const bool HaveTables = TablesSize >= 4 && Tables[0] == 0xFF && Tables[1] == 0xD8 &&
                          Tables[TablesSize - 2] == 0xFF && Tables[TablesSize - 1] == 0xD9;
  if (HaveTables && DataSize >= 2 && Data[0] == 0xFF && Data[1] == 0xD8) {
    Joined.reserve(TablesSize + DataSize - 4);
    Joined.insert(Joined.end(), Tables, Tables + TablesSize - 2);
    Joined.insert(Joined.end(), Data + 2, Data + DataSize);
  } else {
    Joined.assign(Data, Data + DataSize);
  }
  TMemoryViewStream S(Joined.data(), static_cast<int64_t>(Joined.size()));
  TJDecoder J(S);
  if (!J.Run(StepCreateAndReadHeader)) return false;
  jpeg_decompress_struct& I = J.D().Info;
  if (I.num_components != Components || I.image_width != static_cast<JDIMENSION>(Width))
    return false;
  if (Components == 3) {
    if (StoredRgb) I.jpeg_color_space = JCS_RGB;
    I.out_color_space = JCS_RGB;
  } else {
    I.out_color_space = JCS_GRAYSCALE;
  }
  if (!J.Run(StepStart)) return false;
  const int64_t RowBytes = static_cast<int64_t>(Width) * Components;
  const int64_t Rows = std::min<int64_t>(I.output_height, MaxRows);
  Out.assign(static_cast<size_t>(Rows * RowBytes), 0);
  for (int64_t Y = 0; Y < Rows; ++Y) {
    J.D().Row = Out.data() + Y * RowBytes;
    if (!J.Run(StepReadRow) || J.D().Got != 1) {
      Out.resize(static_cast<size_t>(Y * RowBytes));
      return false;
    }
  }
  return true;
}

void ReadJPegStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                    bool Preview) {
  QLGuarded(Progress, [&] {
    if (!JpegTryStream(Stream)) return QLSetAbort(Progress);
    TJDecoder J(Stream);
    bool Finish = false;
    try {
      Finish = Decode(J, Bitmap, Params, Progress, Preview);
    } catch (...) {
      CopyMarkers(J.D(), Params.JpegMarkerList);
      throw;
    }
    // Before finishing: the saved markers live in memory the library frees then.
    CopyMarkers(J.D(), Params.JpegMarkerList);
    if (Finish && !QLAborted(Progress)) {
      // Reading on to the end-of-image marker: an error here costs no pixels and is ignored,
      // but a file that ends early is still truncated.
      J.Run(StepFinish);
      if (J.D().Err.DataLost) QLSetAbort(Progress);
    }
    // The source reads ahead in blocks: give back what the decoder did not consume, so that
    // whatever follows the image can be read next.
    const TJSource& Src = J.D().Src;
    if (Src.Pub.bytes_in_buffer > 0)
      Stream.Seek(-static_cast<int64_t>(Src.Pub.bytes_in_buffer), soFromCurrent);
  });
}

void WriteJPegStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                     TProgressRec& Progress) {
  QLGuarded(Progress, [&] {
    if (Bitmap.Empty()) return QLSetAbort(Progress);
    const TBitmap* Source = &Bitmap;
    std::unique_ptr<TBitmap> Copy;
    if (Bitmap.GetPixelFormat() == pf1bit) {
      Copy = std::make_unique<TBitmap>();
      TProgressRec Quiet = Progress;
      Quiet.Handler = nullptr;
      _Conv1to24(Bitmap, *Copy, Quiet);
      Source = Copy.get();
    } else if (Bitmap.GetPixelFormat() != pf24bit) {
      Copy = QLCloneBitmap(Bitmap);
      Copy->SetPixelFormat(pf24bit);
      Source = Copy.get();
    }
    if (QLAborted(Progress)) return;
    TJEncoder J(Stream);
    Encode(J, *Source, Params, Progress);
  });
}

bool QLJpegInjectIPTC(TStream& Source, TStream& Destination, const TQLIPTCInfoList& List) {
  try {
    TQLByteReader R(Source);
    std::vector<uint8_t> Out;
    Out.reserve(1 << 16);
    auto Flush = [&] {
      Destination.WriteBuffer(Out.data(), static_cast<int64_t>(Out.size()));
      Out.clear();
    };
    auto Put = [&](int32_t B) {
      Out.push_back(static_cast<uint8_t>(B));
      if (Out.size() >= (1 << 16)) Flush();
    };
    // Copies (or with Keep false, drops) N payload bytes; false when the source ends first.
    auto Pass = [&](int32_t N, bool Keep) {
      for (int32_t I = 0; I < N; ++I) {
        const int32_t B = R.Get();
        if (B < 0) return false;
        if (Keep) Put(B);
      }
      return true;
    };
    bool Injected = false;
    auto Inject = [&] {
      if (Injected) return true;
      const std::vector<uint8_t> Buf = List.SaveToStandardBuffer();
      const size_t SegLen = Buf.size() + 2;
      if (SegLen > 0xFFFF) return false;  // one segment cannot carry it
      Put(0xFF);
      Put(0xED);
      Put(static_cast<int32_t>(SegLen >> 8));
      Put(static_cast<int32_t>(SegLen & 0xFF));
      for (uint8_t B : Buf) Put(B);
      Injected = true;
      return true;
    };

    for (;;) {
      const int32_t C = R.Get();
      if (C < 0) break;
      if (C != 0xFF) {
        Put(C);
        continue;
      }
      const int32_t Code = R.Get();
      if (Code < 0) {
        Put(C);
        break;
      }
      // Stuffed zero, TEM, restart markers, SOI and EOI: no length follows.
      if (Code == 0x00 || Code == 0x01 || (Code >= 0xD0 && Code <= 0xD9)) {
        Put(0xFF);
        Put(Code);
        continue;
      }
      if ((Code >= 0x02 && Code <= 0xBF) || (Code >= 0xF1 && Code <= 0xFC) || Code == 0xFF)
        return false;
      const int32_t Hi = R.Get(), Lo = R.Get();
      if (Hi < 0 || Lo < 0) return false;
      const int32_t Len = (Hi << 8) | Lo;
      if (Len < 2) return false;
      if (Code == 0xED) {
        if (!Pass(Len - 2, false) || !Inject()) return false;
        continue;
      }
      Put(0xFF);
      Put(Code);
      Put(Hi);
      Put(Lo);
      if (!Pass(Len - 2, true)) return false;
      if (Code == 0xE0 && !Inject()) return false;
    }
    Flush();
    return Injected;
  } catch (const Exception&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace quillo
