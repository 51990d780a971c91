// Streams that deflate what is written to them or inflate what is read from them, over zlib,
// and whole-buffer compression.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quillo/platform/streams.h"
#include "quillo/platform/types.h"

struct z_stream_s;

namespace quillo {

// Scoped: clNone and clDefault are also colour names.
enum class TCompressionLevel : uint8_t { clNone, clFastest, clDefault, clMax };

// Base of the two: the underlying stream, where this object last left it, zlib's state and a
// 64 KiB buffer. zlib errors and unsupported operations raise the silent abort (EAbort).
class TCustomZlibStream : public TStream {
 public:
  TNotifyEvent OnProgress;

 protected:
  explicit TCustomZlibStream(TStream& Strm);
  ~TCustomZlibStream() override;
  void Progress();
  TStream& FStrm;
  int64_t FStrmPos;
  std::unique_ptr<z_stream_s> FZ;  // zlib's state, kept out of this header
  std::vector<uint8_t> FBuffer;
};

// Deflates what is written into Dest; destruction finishes the stream.
class TCompressionStream : public TCustomZlibStream {
 public:
  TCompressionStream(TCompressionLevel Level, TStream& Dest);
  ~TCompressionStream() override;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  // Only asking for the position (offset 0 from the current one) is allowed.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override;
  // (1 - compressed / input) x 100; 0 before anything was written.
  double CompressionRate() const;

 private:
  bool FEnded = false;
};

// Inflates from Source what is read.
class TDecompressionStream : public TCustomZlibStream {
 public:
  explicit TDecompressionStream(TStream& Source);
  ~TDecompressionStream() override;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  // To 0 from the beginning restarts; forward (from the current position, or from the
  // beginning past it) reads and drops the difference; anything else raises EAbort.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override;
};

// Deflates Length bytes at level 9 into Out (a complete zlib stream).
void CompressBuf(const void* In, int64_t Length, std::vector<uint8_t>& Out);
// Inflates a zlib stream into Out; OutEstimate sizes the first block (0: from the input). The
// output may not grow beyond the largest image the pixel limit allows (EAbort otherwise).
void DecompressBuf(const void* In, int64_t Length, int64_t OutEstimate, std::vector<uint8_t>& Out);

}  // namespace quillo
