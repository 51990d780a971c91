#include "quillo/codecs/zstreams.h"

#include <algorithm>
#include <limits>

#include <zlib.h>

#include "quillo/platform/bitmap.h"

namespace quillo {

namespace {
constexpr size_t kBufferSize = 65536;

int Check(int Code) {
  if (Code < 0) throw EAbort();
  return Code;
}

int LevelOf(TCompressionLevel L) {
  switch (L) {
    case TCompressionLevel::clNone:
      return Z_NO_COMPRESSION;
    case TCompressionLevel::clFastest:
      return Z_BEST_SPEED;
    case TCompressionLevel::clMax:
      return Z_BEST_COMPRESSION;
    default:
      return Z_DEFAULT_COMPRESSION;
  }
}

// Output no inflation may grow beyond: the bytes of the largest image allowed (32 bits a pixel).
int64_t MaxInflated() {
  int64_t R;
  return QLCheckedMul(QLGetMaxPixels(), 4, R) ? R : std::numeric_limits<int64_t>::max();
}
}  // namespace

TCustomZlibStream::TCustomZlibStream(TStream& Strm)
    : FStrm(Strm),
      FStrmPos(Strm.GetPosition()),
      FZ(std::make_unique<z_stream>()),
      FBuffer(kBufferSize) {}

TCustomZlibStream::~TCustomZlibStream() = default;

void TCustomZlibStream::Progress() {
  if (OnProgress) OnProgress(this);
}

// ---------------------------------------------------------------------------------------------

TCompressionStream::TCompressionStream(TCompressionLevel Level, TStream& Dest)
    : TCustomZlibStream(Dest) {
  Check(deflateInit(FZ.get(), LevelOf(Level)));
  FZ->next_out = FBuffer.data();
  FZ->avail_out = kBufferSize;
}

TCompressionStream::~TCompressionStream() {
  // Finish the stream; a destructor cannot report, so a failing destination ends it quietly.
  try {
    FZ->next_in = nullptr;
    FZ->avail_in = 0;
    if (FStrm.GetPosition() != FStrmPos) FStrm.SetPosition(FStrmPos);
    int Code;
    while ((Code = Check(deflate(FZ.get(), Z_FINISH))) != Z_STREAM_END) {
      if (FZ->avail_out == 0) {
        FStrm.WriteBuffer(FBuffer.data(), kBufferSize);
        FZ->next_out = FBuffer.data();
        FZ->avail_out = kBufferSize;
      }
    }
    const int64_t Rest = static_cast<int64_t>(kBufferSize - FZ->avail_out);
    if (Rest > 0) FStrm.WriteBuffer(FBuffer.data(), Rest);
  } catch (...) {
  }
  deflateEnd(FZ.get());
}

int64_t TCompressionStream::Read(void*, int64_t) {
  throw EAbort();
}

int64_t TCompressionStream::Write(const void* Buffer, int64_t Count) {
  const auto* P = static_cast<const Bytef*>(Buffer);
  int64_t Left = Count;
  while (Left > 0) {
    const uInt Chunk = static_cast<uInt>(std::min<int64_t>(Left, std::numeric_limits<uInt>::max()));
    FZ->next_in = const_cast<Bytef*>(P);
    FZ->avail_in = Chunk;
    while (FZ->avail_in > 0) {
      Check(deflate(FZ.get(), Z_NO_FLUSH));
      if (FZ->avail_out == 0) {
        if (FStrm.GetPosition() != FStrmPos) FStrm.SetPosition(FStrmPos);
        FStrm.WriteBuffer(FBuffer.data(), kBufferSize);
        FZ->next_out = FBuffer.data();
        FZ->avail_out = kBufferSize;
        FStrmPos = FStrm.GetPosition();
        Progress();
      }
    }
    P += Chunk;
    Left -= Chunk;
  }
  return Count;
}

int64_t TCompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == soFromCurrent) return static_cast<int64_t>(FZ->total_in);
  throw EAbort();
}

int64_t TCompressionStream::GetSize() {
  return static_cast<int64_t>(FZ->total_in);
}

double TCompressionStream::CompressionRate() const {
  if (FZ->total_in == 0) return 0;
  return (1.0 - static_cast<double>(FZ->total_out) / static_cast<double>(FZ->total_in)) * 100.0;
}

// ---------------------------------------------------------------------------------------------

TDecompressionStream::TDecompressionStream(TStream& Source) : TCustomZlibStream(Source) {
  FZ->next_in = FBuffer.data();
  FZ->avail_in = 0;
  Check(inflateInit(FZ.get()));
}

TDecompressionStream::~TDecompressionStream() {
  inflateEnd(FZ.get());
}

int64_t TDecompressionStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  auto* Out = static_cast<Bytef*>(Buffer);
  int64_t Done = 0;
  while (Done < Count) {
    if (FZ->avail_in == 0) {
      if (FStrm.GetPosition() != FStrmPos) FStrm.SetPosition(FStrmPos);
      const int64_t Got = FStrm.Read(FBuffer.data(), kBufferSize);
      if (Got <= 0) break;
      FStrmPos = FStrm.GetPosition();
      FZ->next_in = FBuffer.data();
      FZ->avail_in = static_cast<uInt>(Got);
      Progress();
    }
    const uInt Want =
        static_cast<uInt>(std::min<int64_t>(Count - Done, std::numeric_limits<uInt>::max()));
    FZ->next_out = Out + Done;
    FZ->avail_out = Want;
    const int Code = Check(inflate(FZ.get(), Z_NO_FLUSH));
    Done += Want - FZ->avail_out;
    if (Code == Z_STREAM_END) break;
    // A preset dictionary is never supplied: a stream that asks for one cannot be read.
    if (Code == Z_NEED_DICT) throw EAbort();
    // No progress with input at hand means the data is damaged.
    if (Code == Z_BUF_ERROR) throw EAbort();
  }
  return Done;
}

int64_t TDecompressionStream::Write(const void*, int64_t) {
  throw EAbort();
}

int64_t TDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int64_t Pos = static_cast<int64_t>(FZ->total_out);
  if (Offset == 0 && Origin == soFromBeginning) {
    Check(inflateReset(FZ.get()));
    FZ->next_in = FBuffer.data();
    FZ->avail_in = 0;
    FStrm.SetPosition(0);
    FStrmPos = 0;
    return 0;
  }
  int64_t Skip;
  if (Origin == soFromCurrent && Offset >= 0)
    Skip = Offset;
  else if (Origin == soFromBeginning && Offset >= Pos)
    Skip = Offset - Pos;
  else
    throw EAbort();
  uint8_t Scrap[4096];
  while (Skip > 0) {
    const int64_t N = Read(Scrap, std::min<int64_t>(Skip, sizeof(Scrap)));
    if (N <= 0) break;
    Skip -= N;
  }
  return static_cast<int64_t>(FZ->total_out);
}

int64_t TDecompressionStream::GetSize() {
  throw EAbort();
}

// ---------------------------------------------------------------------------------------------

void CompressBuf(const void* In, int64_t Length, std::vector<uint8_t>& Out) {
  z_stream Z{};
  int64_t Size = ((Length + Length / 10 + 12 + 255) / 256) * 256;
  Out.assign(static_cast<size_t>(std::max<int64_t>(Size, 256)), 0);
  Check(deflateInit(&Z, Z_BEST_COMPRESSION));
  Z.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(In));
  Z.avail_in = static_cast<uInt>(Length);
  Z.next_out = Out.data();
  Z.avail_out = static_cast<uInt>(Out.size());
  try {
    int Code;
    while ((Code = Check(deflate(&Z, Z_FINISH))) != Z_STREAM_END) {
      const size_t Used = Out.size() - Z.avail_out;
      Out.resize(Out.size() + 256);
      Z.next_out = Out.data() + Used;
      Z.avail_out = static_cast<uInt>(Out.size() - Used);
    }
  } catch (...) {
    deflateEnd(&Z);
    Out.clear();
    throw;
  }
  Out.resize(Z.total_out);
  deflateEnd(&Z);
}

void DecompressBuf(const void* In, int64_t Length, int64_t OutEstimate, std::vector<uint8_t>& Out) {
  z_stream Z{};
  const int64_t Step = std::max<int64_t>(((Length + 255) / 256) * 256, 256);
  const int64_t Limit = MaxInflated();
  Out.assign(
      static_cast<size_t>(std::clamp<int64_t>(OutEstimate > 0 ? OutEstimate : Step, 1, Limit)), 0);
  Check(inflateInit(&Z));
  Z.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(In));
  Z.avail_in = static_cast<uInt>(Length);
  Z.next_out = Out.data();
  Z.avail_out = static_cast<uInt>(Out.size());
  try {
    for (;;) {
      const int Code = inflate(&Z, Z_FINISH);
      if (Code == Z_STREAM_END) break;
      // With Z_FINISH a full output buffer reads as a buffer error: only that one may grow.
      if (Code < 0 && !(Code == Z_BUF_ERROR && Z.avail_out == 0)) throw EAbort();
      // Only a full output buffer is a reason to go on: room left means the input is cut
      // short or the stream wants a preset dictionary, which is never supplied.
      if (Z.avail_out != 0) throw EAbort();
      const size_t Used = Out.size() - Z.avail_out;
      if (static_cast<int64_t>(Out.size()) + Step > Limit) throw EAbort();
      Out.resize(Out.size() + static_cast<size_t>(Step));
      Z.next_out = Out.data() + Used;
      Z.avail_out = static_cast<uInt>(Out.size() - Used);
    }
  } catch (...) {
    inflateEnd(&Z);
    Out.clear();
    throw;
  }
  Out.resize(Z.total_out);
  inflateEnd(&Z);
}

}  // namespace quillo
