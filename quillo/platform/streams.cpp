#include "quillo/platform/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillo {

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::GetSize() {
  int64_t Pos = Seek(0, soFromCurrent);
  int64_t Result = Seek(0, soFromEnd);
  Seek(Pos, soFromBeginning);
  return Result;
}

void TStream::SetSize(int64_t) {
  throw EStreamError("Stream does not support resizing");
}

int64_t TStream::Remaining() {
  int64_t Pos = GetPosition();
  int64_t Size = GetSize();
  return Pos < Size ? Size - Pos : 0;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count <= 0) return;
  if (Read(Buffer, Count) != Count) throw EReadError();
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count <= 0) return;
  if (Write(Buffer, Count) != Count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  int64_t Result = Count;
  std::vector<uint8_t> Buf(static_cast<size_t>(std::min<int64_t>(Count, 1 << 20)));
  while (Count > 0) {
    int64_t N = std::min<int64_t>(Count, static_cast<int64_t>(Buf.size()));
    Source.ReadBuffer(Buf.data(), N);
    WriteBuffer(Buf.data(), N);
    Count -= N;
  }
  return Result;
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  int64_t Size = static_cast<int64_t>(FData.size());
  if (Count <= 0 || FPosition >= Size) return 0;
  int64_t N = std::min(Count, Size - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  int64_t End = FPosition + Count;
  if (End > static_cast<int64_t>(FData.size())) {
    if (End > static_cast<int64_t>(FData.capacity())) {
      // Grow geometrically so that many small writes stay linear.
      FData.reserve(static_cast<size_t>(
          std::max<int64_t>(End, static_cast<int64_t>(FData.capacity()) * 3 / 2)));
    }
    FData.resize(static_cast<size_t>(End));
  }
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

static int64_t SeekTo(int64_t Position, int64_t Size, int64_t Offset, TSeekOrigin Origin) {
  int64_t Base = Origin == soFromBeginning ? 0 : Origin == soFromCurrent ? Position : Size;
  int64_t Result = Base + Offset;
  return Result < 0 ? 0 : Result;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = SeekTo(FPosition, static_cast<int64_t>(FData.size()), Offset, Origin);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  try {
    FData.resize(static_cast<size_t>(NewSize));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  int64_t Size = Stream.GetSize();
  SetSize(Size);
  Stream.ReadBuffer(FData.data(), Size);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(F);
}

void TMemoryStream::SaveToStream(TStream& Stream) const {
  Stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::SaveToFile(const std::string& FileName) const {
  TFileStream F(FileName, fmCreate);
  SaveToStream(F);
  F.Flush();
}

// ---------------------------------------------------------------------------------------------
// TMemoryViewStream

int64_t TMemoryViewStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  int64_t N = std::min(Count, FSize - FPosition);
  std::memcpy(Buffer, FData + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TMemoryViewStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = SeekTo(FPosition, FSize, Offset, Origin);
  return FPosition;
}

// ---------------------------------------------------------------------------------------------
// TFileStream

namespace {
constexpr int64_t kFileBufferSize = 1 << 16;

std::string ErrorText(int Err) {
  return std::strerror(Err);
}
}  // namespace

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
  if (Mode == fmCreate || (Mode & 0xFF00) == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError("Cannot create file \"" + FileName + "\". " + ErrorText(errno));
  } else {
    int Flags = O_CLOEXEC;
    switch (Mode & 3) {
      case fmOpenWrite:
        Flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        Flags |= O_RDWR;
        break;
      default:
        Flags |= O_RDONLY;
        break;
    }
    FHandle = ::open(FileName.c_str(), Flags);
    if (FHandle < 0)
      throw EFOpenError("Cannot open file \"" + FileName + "\". " + ErrorText(errno));
    struct stat St;
    if (::fstat(FHandle, &St) == 0 && S_ISDIR(St.st_mode)) {
      ::close(FHandle);
      FHandle = -1;
      throw EFOpenError("Cannot open file \"" + FileName + "\". " + ErrorText(EISDIR));
    }
  }
  FBuffer.resize(kFileBufferSize);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) {
    FlushNoThrow();
    ::close(FHandle);
  }
}

bool TFileStream::FlushNoThrow() {
  if (!FWriting || FBufLen == 0) {
    FWriting = false;
    FBufLen = 0;
    return true;
  }
  const uint8_t* P = FBuffer.data();
  int64_t Left = FBufLen;
  int64_t Off = FBufStart;
  bool Ok = true;
  while (Left > 0) {
    ssize_t N = ::pwrite(FHandle, P, static_cast<size_t>(Left), Off);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      Ok = false;
      break;
    }
    P += N;
    Off += N;
    Left -= N;
  }
  FWriting = false;
  FBufLen = 0;
  return Ok;
}

void TFileStream::Flush() {
  if (!FlushNoThrow()) throw EWriteError("Cannot write to file \"" + FFileName + "\"");
}

int64_t TFileStream::RawSize() const {
  struct stat St;
  if (::fstat(FHandle, &St) != 0) return 0;
  return static_cast<int64_t>(St.st_size);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  if (FWriting && !FlushNoThrow()) return 0;
  uint8_t* Dst = static_cast<uint8_t*>(Buffer);
  int64_t Done = 0;
  while (Done < Count) {
    // Serve from the read buffer when the position lies inside it.
    if (FPosition >= FBufStart && FPosition < FBufStart + FBufLen) {
      int64_t N = std::min(Count - Done, FBufStart + FBufLen - FPosition);
      std::memcpy(Dst + Done, FBuffer.data() + (FPosition - FBufStart), static_cast<size_t>(N));
      Done += N;
      FPosition += N;
      continue;
    }
    int64_t Want = Count - Done;
    if (Want >= kFileBufferSize) {
      ssize_t N = ::pread(FHandle, Dst + Done, static_cast<size_t>(Want), FPosition);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) break;
      Done += N;
      FPosition += N;
      continue;
    }
    ssize_t N = ::pread(FHandle, FBuffer.data(), static_cast<size_t>(kFileBufferSize), FPosition);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      FBufLen = 0;
      break;
    }
    FBufStart = FPosition;
    FBufLen = N;
  }
  return Done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  const uint8_t* Src = static_cast<const uint8_t*>(Buffer);
  if (!FWriting) {
    FBufLen = 0;  // drop read-ahead: it may no longer match the file
  } else if (FPosition != FBufStart + FBufLen || FBufLen + Count > kFileBufferSize) {
    if (!FlushNoThrow()) return 0;
  }
  if (Count >= kFileBufferSize) {
    int64_t Done = 0;
    while (Done < Count) {
      ssize_t N = ::pwrite(FHandle, Src + Done, static_cast<size_t>(Count - Done), FPosition);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) break;
      Done += N;
      FPosition += N;
    }
    return Done;
  }
  if (!FWriting || FBufLen == 0) {
    FWriting = true;
    FBufStart = FPosition;
    FBufLen = 0;
  }
  std::memcpy(FBuffer.data() + FBufLen, Src, static_cast<size_t>(Count));
  FBufLen += Count;
  FPosition += Count;
  return Count;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t Base = FPosition;
  if (Origin == soFromBeginning) Base = 0;
  if (Origin == soFromEnd) Base = GetSize();
  int64_t Result = Base + Offset;
  FPosition = Result < 0 ? 0 : Result;
  return FPosition;
}

int64_t TFileStream::GetSize() {
  int64_t Size = RawSize();
  if (FWriting) Size = std::max(Size, FBufStart + FBufLen);
  return Size;
}

TQLFileStamp TFileStream::Stamp() {
  Flush();
  struct stat St;
  if (::fstat(FHandle, &St) != 0) return {};
  const auto Ns = [](const timespec& T) {
    return static_cast<int64_t>(T.tv_sec) * 1000000000 + T.tv_nsec;
  };
  return {static_cast<uint64_t>(St.st_dev), static_cast<uint64_t>(St.st_ino),
          static_cast<int64_t>(St.st_size), Ns(St.st_mtim), Ns(St.st_ctim)};
}

void TFileStream::SetSize(int64_t NewSize) {
  Flush();
  FBufLen = 0;
  if (NewSize < 0) NewSize = 0;
  if (::ftruncate(FHandle, NewSize) != 0)
    throw EWriteError("Cannot resize file \"" + FFileName + "\". " + ErrorText(errno));
  if (FPosition > NewSize) FPosition = NewSize;
}

}  // namespace quillo
