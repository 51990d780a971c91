#include "quillo/multi/avifile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <numeric>

#include "quillo/platform/sysutils.h"

#if QUILLO_HAVE_FFMPEG
#include <dlfcn.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#endif

namespace quillo {

int32_t TQLAVIStreamInfo::DelayMs() const {
  if (Rate <= 0 || Scale <= 0) return 0;
  return static_cast<int32_t>(std::min<int64_t>(1000LL * Scale / Rate, INT32_MAX));
}

void QLAVIRateForDelay(int32_t DelayMs, int32_t& Rate, int32_t& Scale) {
  DelayMs = std::max(DelayMs, 1);
  const int32_t G = std::gcd(1000, DelayMs);
  Rate = 1000 / G;
  Scale = DelayMs / G;
}

#if QUILLO_HAVE_FFMPEG

namespace {

// FFmpeg's libraries are opened at the first use of an AVI rather than linked: loading them,
// with the hundred-odd libraries they bring, cost every process that links us about a tenth of
// a second of CPU at start, and most never touch a video. Each function used here is a pointer
// of the same name and type in this namespace, which hides the library's declaration, so the
// code below calls them as it would call the linked functions. The pointers are set once,
// before any AVI work, and never change.
enum TFFmpegLib { ffUtil, ffScale, ffCodec, ffFormat };
// clang-format off
#define QUILLO_FFMPEG_FUNCTIONS(X) \
  X(ffUtil, av_free) \
  X(ffUtil, av_freep) \
  X(ffUtil, av_malloc) \
  X(ffUtil, av_max_alloc) \
  X(ffUtil, av_log_default_callback) \
  X(ffUtil, av_log_set_callback) \
  X(ffUtil, av_frame_alloc) \
  X(ffUtil, av_frame_free) \
  X(ffUtil, av_frame_get_buffer) \
  X(ffUtil, av_frame_make_writable) \
  X(ffUtil, av_frame_unref) \
  X(ffScale, sws_freeContext) \
  X(ffScale, sws_getCachedContext) \
  X(ffScale, sws_getContext) \
  X(ffScale, sws_scale) \
  X(ffCodec, av_packet_alloc) \
  X(ffCodec, av_packet_free) \
  X(ffCodec, av_packet_rescale_ts) \
  X(ffCodec, av_packet_unref) \
  X(ffCodec, avcodec_alloc_context3) \
  X(ffCodec, avcodec_find_encoder) \
  X(ffCodec, avcodec_free_context) \
  X(ffCodec, avcodec_open2) \
  X(ffCodec, avcodec_parameters_from_context) \
  X(ffCodec, avcodec_parameters_to_context) \
  X(ffCodec, avcodec_receive_frame) \
  X(ffCodec, avcodec_receive_packet) \
  X(ffCodec, avcodec_send_frame) \
  X(ffCodec, avcodec_send_packet) \
  X(ffFormat, av_find_best_stream) \
  X(ffFormat, av_find_input_format) \
  X(ffFormat, av_guess_format) \
  X(ffFormat, av_interleaved_write_frame) \
  X(ffFormat, av_read_frame) \
  X(ffFormat, av_write_trailer) \
  X(ffFormat, avformat_alloc_context) \
  X(ffFormat, avformat_alloc_output_context2) \
  X(ffFormat, avformat_close_input) \
  X(ffFormat, avformat_free_context) \
  X(ffFormat, avformat_new_stream) \
  X(ffFormat, avformat_open_input) \
  X(ffFormat, avformat_write_header) \
  X(ffFormat, avio_alloc_context) \
  X(ffFormat, avio_context_free) \
  X(ffFormat, avio_feof) \
  X(ffFormat, avio_flush)
// clang-format on
#define QUILLO_FFMPEG_POINTER(Lib, Name) decltype(&::Name) Name = nullptr;
QUILLO_FFMPEG_FUNCTIONS(QUILLO_FFMPEG_POINTER)
#undef QUILLO_FFMPEG_POINTER

#define QUILLO_STRINGIFY2(X) #X
#define QUILLO_STRINGIFY(X) QUILLO_STRINGIFY2(X)

std::atomic<bool> gLogging{false};

void LogCallback(void* Avcl, int Level, const char* Fmt, va_list Args) {
  if (gLogging && Level <= AV_LOG_WARNING) av_log_default_callback(Avcl, Level, Fmt, Args);
}

// Opens the libraries of the major versions built against (their sonames) and looks every
// function up; false when any is missing. The libraries stay loaded for the process's life.
bool LoadFFmpeg() {
  static bool Loaded = false;
  static std::once_flag Once;
  std::call_once(Once, [] {
    const char* Names[] = {"libavutil.so." QUILLO_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
                           "libswscale.so." QUILLO_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
                           "libavcodec.so." QUILLO_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
                           "libavformat.so." QUILLO_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR)};
    void* Libs[4] = {};
    for (int I = 0; I < 4; ++I)
      if (!(Libs[I] = dlopen(Names[I], RTLD_NOW | RTLD_LOCAL))) return;
    bool Found = true;
#define QUILLO_FFMPEG_LOOKUP(Lib, Name) \
  Found = Found && (Name = reinterpret_cast<decltype(Name)>(dlsym(Libs[Lib], #Name)));
    QUILLO_FFMPEG_FUNCTIONS(QUILLO_FFMPEG_LOOKUP)
#undef QUILLO_FFMPEG_LOOKUP
    if (!Found) return;
    av_log_set_callback(LogCallback);
    Loaded = true;
  });
  return Loaded;
}

// False when FFmpeg's libraries cannot be loaded.
bool InitOnce() {
  if (!LoadFFmpeg()) return false;
  // No single allocation of FFmpeg's may pass what a few frames at the pixel limit need: sizes
  // declared by a file (headers, extra data) cannot ask for more than the data could fill.
  const int64_t Cap = std::min<int64_t>(QLGetMaxPixels(), INT64_MAX / 16) * 8 + (16 << 20);
  av_max_alloc(static_cast<size_t>(std::min<int64_t>(Cap, INT32_MAX)));
  return true;
}

constexpr int kIOBufferSize = 1 << 15;

int ReadPacket(void* Opaque, uint8_t* Buf, int Size) {
  auto* S = static_cast<TStream*>(Opaque);
  try {
    const int64_t N = S->Read(Buf, Size);
    return N > 0 ? static_cast<int>(N) : AVERROR_EOF;
  } catch (const std::exception&) {
    return AVERROR(EIO);
  }
}

// The write callback's buffer became const in libavformat 61.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using TWriteBuffer = const uint8_t*;
#else
using TWriteBuffer = uint8_t*;
#endif

int WritePacket(void* Opaque, TWriteBuffer Buf, int Size) {
  auto* S = static_cast<TStream*>(Opaque);
  try {
    return S->Write(Buf, Size) == Size ? Size : AVERROR(EIO);
  } catch (const std::exception&) {
    return AVERROR(EIO);
  }
}

int64_t SeekStream(void* Opaque, int64_t Offset, int Whence) {
  auto* S = static_cast<TStream*>(Opaque);
  try {
    switch (Whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE:
        return S->GetSize();
      case SEEK_SET:
        return S->Seek(Offset, soFromBeginning);
      case SEEK_CUR:
        return S->Seek(Offset, soFromCurrent);
      case SEEK_END:
        return S->Seek(Offset, soFromEnd);
    }
  } catch (const std::exception&) {
  }
  return -1;
}

// An AVIOContext over one of our streams; the buffer belongs to the context once made.
struct TIO {
  AVIOContext* Ctx = nullptr;
  TIO(TStream& S, bool Write) {
    auto* Buffer = static_cast<uint8_t*>(av_malloc(kIOBufferSize));
    if (!Buffer) return;
    Ctx = avio_alloc_context(Buffer, kIOBufferSize, Write ? 1 : 0, &S, Write ? nullptr : ReadPacket,
                             Write ? WritePacket : nullptr, SeekStream);
    if (!Ctx) av_free(Buffer);
  }
  ~TIO() {
    if (Ctx) {
      av_freep(&Ctx->buffer);
      avio_context_free(&Ctx);
    }
  }
};

struct TFrameDeleter {
  void operator()(AVFrame* F) const { av_frame_free(&F); }
};
struct TPacketDeleter {
  void operator()(AVPacket* P) const { av_packet_free(&P); }
};
struct TCodecDeleter {
  void operator()(AVCodecContext* C) const { avcodec_free_context(&C); }
};
struct TSwsDeleter {
  void operator()(SwsContext* C) const { sws_freeContext(C); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecDeleter>;
using TSwsPtr = std::unique_ptr<SwsContext, TSwsDeleter>;

// Converts Frame (any format) into a 24-bit bitmap of its size through a cached context.
bool FrameToBitmap(const AVFrame& Frame, SwsContext*& Cache, TBitmap& Out) {
  const int W = Frame.width, H = Frame.height;
  if (W <= 0 || H <= 0 || !QLImageSizeOK(W, H, 24)) return false;
  Cache = sws_getCachedContext(Cache, W, H, static_cast<AVPixelFormat>(Frame.format), W, H,
                               AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!Cache) return false;
  Out.Recreate(W, H, pf24bit);
  // The bitmap's rows run bottom-up in memory: row 0's address with a negative stride walks
  // them top to bottom.
  uint8_t* Dst[4] = {Out.ScanLine(0), nullptr, nullptr, nullptr};
  int DstStride[4] = {-Out.RowLen(), 0, 0, 0};
  return sws_scale(Cache, Frame.data, Frame.linesize, 0, H, Dst, DstStride) == H;
}

}  // namespace

struct TQLAVIReader::TImpl {
  std::unique_ptr<TIO> IO;
  AVFormatContext* Fmt = nullptr;
  TCodecPtr Codec;
  TFramePtr Frame{av_frame_alloc()};
  TPacketPtr Packet{av_packet_alloc()};
  SwsContext* Sws = nullptr;
  int StreamIndex = -1;
  bool Draining = false, Done = false;
  ~TImpl() {
    sws_freeContext(Sws);
    Codec.reset();
    avformat_close_input(&Fmt);
  }
};

TQLAVIReader::TQLAVIReader() = default;
TQLAVIReader::~TQLAVIReader() = default;

bool TQLAVIReader::Open(TStream& Stream) {
  F.reset();
  FInfo = {};
  FFailed = true;
  if (!InitOnce()) return false;
  F = std::make_unique<TImpl>();
  if (!F->Frame || !F->Packet) return false;
  F->IO = std::make_unique<TIO>(Stream, false);
  if (!F->IO->Ctx) return false;
  F->Fmt = avformat_alloc_context();
  if (!F->Fmt) return false;
  F->Fmt->pb = F->IO->Ctx;
  F->Fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  // Only the AVI demuxer: no probing into other formats, no protocols, no side files.
  const AVInputFormat* Avi = av_find_input_format("avi");
  if (!Avi) return false;
  if (avformat_open_input(&F->Fmt, nullptr, Avi, nullptr) < 0) return false;
  // Stream parameters come from the AVI headers; probing by decoding is not needed.
  F->Fmt->max_analyze_duration = 0;
  const AVCodec* Dec = nullptr;
  F->StreamIndex = av_find_best_stream(F->Fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &Dec, 0);
  if (F->StreamIndex < 0 || !Dec) return false;
  AVStream* St = F->Fmt->streams[F->StreamIndex];
  const AVCodecParameters* Par = St->codecpar;
  if (Par->width <= 0 || Par->height <= 0 || !QLImageSizeOK(Par->width, Par->height, 32))
    return false;
  F->Codec.reset(avcodec_alloc_context3(Dec));
  if (!F->Codec || avcodec_parameters_to_context(F->Codec.get(), Par) < 0) return false;
  F->Codec->thread_count = 1;
  F->Codec->max_pixels = std::min<int64_t>(QLGetMaxPixels(), INT64_MAX);
  if (avcodec_open2(F->Codec.get(), Dec, nullptr) < 0) return false;
  FInfo.Width = Par->width;
  FInfo.Height = Par->height;
  // The AVI demuxer's time base is the stream header's scale / rate.
  FInfo.Rate = St->time_base.den;
  FInfo.Scale = St->time_base.num;
  FInfo.Frames = std::max<int64_t>(St->nb_frames, 0);
  FInfo.Codec = Dec->name;
  FFailed = false;
  return true;
}

bool TQLAVIReader::ReadFrame(TBitmap& Out) {
  if (!F || !F->Codec || F->Done || FFailed) return false;
  for (;;) {
    const int R = avcodec_receive_frame(F->Codec.get(), F->Frame.get());
    if (R == 0) {
      const bool Ok = FrameToBitmap(*F->Frame, F->Sws, Out);
      av_frame_unref(F->Frame.get());
      if (!Ok) {
        FFailed = true;
        return false;
      }
      return true;
    }
    if (R == AVERROR_EOF) {
      F->Done = true;
      return false;
    }
    if (R != AVERROR(EAGAIN)) {
      FFailed = true;
      return false;
    }
    if (F->Draining) {
      F->Done = true;
      return false;
    }
    // The decoder wants input: the next packet of our stream, or the end.
    for (;;) {
      const int E = av_read_frame(F->Fmt, F->Packet.get());
      if (E < 0) {
        if (E != AVERROR_EOF && E != AVERROR(EIO) && !avio_feof(F->Fmt->pb)) {
          FFailed = true;
          return false;
        }
        F->Draining = true;
        avcodec_send_packet(F->Codec.get(), nullptr);
        break;
      }
      const bool Ours = F->Packet->stream_index == F->StreamIndex;
      int S = 0;
      // An empty packet is a dropped frame in an AVI: it holds no picture.
      if (Ours && F->Packet->size > 0) S = avcodec_send_packet(F->Codec.get(), F->Packet.get());
      av_packet_unref(F->Packet.get());
      if (S < 0 && S != AVERROR(EAGAIN)) {
        FFailed = true;
        return false;
      }
      if (Ours) break;
    }
  }
}

struct TQLAVIWriter::TImpl {
  std::unique_ptr<TIO> IO;
  AVFormatContext* Fmt = nullptr;
  TCodecPtr Codec;
  AVStream* Stream = nullptr;
  TFramePtr Frame{av_frame_alloc()};
  TPacketPtr Packet{av_packet_alloc()};
  SwsContext* Sws = nullptr;
  bool HeaderWritten = false, Closed = false;
  int64_t Pts = 0;
  ~TImpl() {
    sws_freeContext(Sws);
    Codec.reset();
    avformat_free_context(Fmt);
  }
  // Sends Frame (none: flush) and writes every packet that comes out.
  bool Encode(const AVFrame* F) {
    if (avcodec_send_frame(Codec.get(), F) < 0) return false;
    for (;;) {
      const int R = avcodec_receive_packet(Codec.get(), Packet.get());
      if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return true;
      if (R < 0) return false;
      av_packet_rescale_ts(Packet.get(), Codec->time_base, Stream->time_base);
      Packet->stream_index = Stream->index;
      const int W = av_interleaved_write_frame(Fmt, Packet.get());
      av_packet_unref(Packet.get());
      if (W < 0) return false;
    }
  }
};

TQLAVIWriter::TQLAVIWriter() = default;
TQLAVIWriter::~TQLAVIWriter() {
  if (F && F->HeaderWritten && !F->Closed) Close();
}

bool TQLAVIWriter::Open(TStream& Out, int32_t Width, int32_t Height, int32_t Rate, int32_t Scale,
                        TQLAVICodec Kind, int32_t Quality) {
  F.reset();
  FWidth = Width;
  FHeight = Height;
  FWritten = 0;
  FLastGood = TBitmap();
  if (!InitOnce()) return false;
  F = std::make_unique<TImpl>();
  if (Width <= 0 || Height <= 0 || !QLImageSizeOK(Width, Height, 32) || Rate <= 0 || Scale <= 0)
    return false;
  if (!F->Frame || !F->Packet) return false;
  const AVOutputFormat* Avi = av_guess_format("avi", nullptr, nullptr);
  if (!Avi || avformat_alloc_output_context2(&F->Fmt, Avi, nullptr, nullptr) < 0) return false;
  AVCodecID Id = AV_CODEC_ID_RAWVIDEO;
  AVPixelFormat PixFmt = AV_PIX_FMT_BGR24;
  if (Kind == qlavMJPEG) {
    Id = AV_CODEC_ID_MJPEG;
    PixFmt = AV_PIX_FMT_YUVJ420P;
  } else if (Kind == qlavFFV1) {
    Id = AV_CODEC_ID_FFV1;
    PixFmt = AV_PIX_FMT_BGR0;
  }
  const AVCodec* Enc = avcodec_find_encoder(Id);
  if (!Enc) return false;
  F->Codec.reset(avcodec_alloc_context3(Enc));
  if (!F->Codec) return false;
  AVCodecContext* C = F->Codec.get();
  C->width = Width;
  C->height = Height;
  C->pix_fmt = PixFmt;
  C->time_base = AVRational{Scale, Rate};
  C->framerate = AVRational{Rate, Scale};
  C->thread_count = 1;
  // Every frame stands alone, as the key-frame flag of each written frame says.
  C->gop_size = 0;
  if (Kind == qlavMJPEG) {
    // Quality 1..100 onto the JPEG quantiser scale 31..2.
    const int32_t Q = std::clamp(Quality, 1, 100);
    const int32_t QScale = 2 + (100 - Q) * 29 / 99;
    C->flags |= AV_CODEC_FLAG_QSCALE;
    C->global_quality = QScale * FF_QP2LAMBDA;
    C->qmin = C->qmax = QScale;
  }
  if (F->Fmt->oformat->flags & AVFMT_GLOBALHEADER) C->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(C, Enc, nullptr) < 0) return false;
  F->Stream = avformat_new_stream(F->Fmt, nullptr);
  if (!F->Stream || avcodec_parameters_from_context(F->Stream->codecpar, C) < 0) return false;
  F->Stream->time_base = C->time_base;
  F->Stream->avg_frame_rate = C->framerate;
  F->IO = std::make_unique<TIO>(Out, true);
  if (!F->IO->Ctx) return false;
  F->Fmt->pb = F->IO->Ctx;
  F->Fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (avformat_write_header(F->Fmt, nullptr) < 0) return false;
  F->HeaderWritten = true;
  F->Frame->format = PixFmt;
  F->Frame->width = Width;
  F->Frame->height = Height;
  if (av_frame_get_buffer(F->Frame.get(), 0) < 0) return false;
  F->Sws = sws_getContext(Width, Height, AV_PIX_FMT_BGR24, Width, Height, PixFmt, SWS_BICUBIC,
                          nullptr, nullptr, nullptr);
  return F->Sws != nullptr;
}

bool TQLAVIWriter::WriteFrame(const TBitmap& Frame) {
  if (!F || !F->HeaderWritten || F->Closed || !F->Sws) return false;
  const TBitmap* Src = &Frame;
  TBitmap Converted;
  if (Frame.GetWidth() != FWidth || Frame.GetHeight() != FHeight) {
    // A frame of another size: the last one of the stream's size stands in for it.
    if (FLastGood.Empty()) return false;
    Src = &FLastGood;
  } else {
    if (Frame.GetPixelFormat() != pf24bit) {
      Converted.Assign(Frame);
      Converted.SetPixelFormat(pf24bit);
      Src = &Converted;
    }
    FLastGood.Assign(*Src);
  }
  if (av_frame_make_writable(F->Frame.get()) < 0) return false;
  const uint8_t* SrcData[4] = {Src->ScanLine(0), nullptr, nullptr, nullptr};
  const int SrcStride[4] = {-Src->RowLen(), 0, 0, 0};
  if (sws_scale(F->Sws, SrcData, SrcStride, 0, FHeight, F->Frame->data, F->Frame->linesize) !=
      FHeight)
    return false;
  F->Frame->pts = F->Pts++;
  F->Frame->pict_type = AV_PICTURE_TYPE_I;
  if (F->Codec->flags & AV_CODEC_FLAG_QSCALE) F->Frame->quality = F->Codec->global_quality;
  if (!F->Encode(F->Frame.get())) return false;
  ++FWritten;
  return true;
}

bool TQLAVIWriter::Close() {
  if (!F || !F->HeaderWritten || F->Closed) return false;
  F->Closed = true;
  bool Ok = F->Encode(nullptr);
  Ok = av_write_trailer(F->Fmt) >= 0 && Ok;
  avio_flush(F->Fmt->pb);
  return Ok && !F->Fmt->pb->error;
}

bool QLAVIAvailable() {
  return LoadFFmpeg();
}

void QLSetAVILogging(bool On) {
  InitOnce();
  gLogging = On;
}

#else  // without FFmpeg: every operation fails

struct TQLAVIReader::TImpl {};
struct TQLAVIWriter::TImpl {};
TQLAVIReader::TQLAVIReader() = default;
TQLAVIReader::~TQLAVIReader() = default;
bool TQLAVIReader::Open(TStream&) {
  FFailed = true;
  return false;
}
bool TQLAVIReader::ReadFrame(TBitmap&) {
  return false;
}
TQLAVIWriter::TQLAVIWriter() = default;
TQLAVIWriter::~TQLAVIWriter() = default;
bool TQLAVIWriter::Open(TStream&, int32_t, int32_t, int32_t, int32_t, TQLAVICodec, int32_t) {
  return false;
}
bool TQLAVIWriter::WriteFrame(const TBitmap&) {
  return false;
}
bool TQLAVIWriter::Close() {
  return false;
}
bool QLAVIAvailable() {
  return false;
}
void QLSetAVILogging(bool) {}

#endif

}  // namespace quillo
