// Streams: the abstract byte stream every reader and writer takes, and its memory and file
// variants.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/platform/classes.h"

namespace quillo {

enum TSeekOrigin : uint8_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
 public:
  // Reads up to Count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Writes up to Count bytes; returns how many were written.
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Moves the position; returns the new position. Positions may lie beyond the end.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

  int64_t GetPosition() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
  virtual int64_t GetSize();
  virtual void SetSize(int64_t NewSize);
  // Bytes from the position to the end (0 when the position is beyond it).
  int64_t Remaining();

  // Read or write exactly Count bytes; a short transfer raises EReadError or EWriteError.
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);
  // Copies Count bytes from Source at its position (Count 0: all of Source from its start).
  // Returns the count copied; a short read raises EReadError.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

// A stream over a growable block of memory it owns.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t NewSize) override;

  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  void Clear();
  // Replaces the content with the whole of Stream (from its start) and rewinds.
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  // Writes the whole content to Stream at its position.
  void SaveToStream(TStream& Stream) const;
  void SaveToFile(const std::string& FileName) const;
  const std::vector<uint8_t>& Data() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// A read-only stream over memory that someone else owns and keeps alive.
class TMemoryViewStream : public TStream {
 public:
  TMemoryViewStream(const void* Data, int64_t Size)
      : FData(static_cast<const uint8_t*>(Data)), FSize(Size < 0 ? 0 : Size) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return FSize; }
  void SetSize(int64_t) override { throw EStreamError("Stream is read-only"); }

 private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPosition = 0;
};

// Open modes. POSIX has no mandatory sharing locks, so the share bits are accepted and ignored.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFF00;

// Which file and which state of it: two equal stamps mean the same file, not written in
// between as far as the system's times tell (their grain is a few milliseconds).
struct TQLFileStamp {
  uint64_t Device = 0, Inode = 0;
  int64_t Size = -1, ModifiedNs = 0, ChangedNs = 0;
  bool operator==(const TQLFileStamp&) const = default;
};

// A stream over a file, buffered in both directions. Open failures raise EFOpenError, create
// failures EFCreateError, both naming the file. Writes are buffered: call Flush to learn of a
// failed write before the stream is destroyed (the destructor flushes but cannot report).
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, uint16_t Mode);
  ~TFileStream() override;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t NewSize) override;
  // Writes pending bytes; raises EWriteError when the file takes fewer.
  void Flush();
  const std::string& GetFileName() const { return FFileName; }
  // The file's stamp once pending bytes are written (Size -1 when the system cannot tell).
  TQLFileStamp Stamp();

 private:
  bool FlushNoThrow();
  int64_t RawSize() const;

  std::string FFileName;
  int FHandle = -1;
  int64_t FPosition = 0;
  std::vector<uint8_t> FBuffer;
  int64_t FBufStart = 0;  // file offset of FBuffer[0]
  int64_t FBufLen = 0;    // valid bytes (read mode) or pending bytes (write mode)
  bool FWriting = false;
};

}  // namespace quillo
