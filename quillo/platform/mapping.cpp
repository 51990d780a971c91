#include "quillo/platform/mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "quillo/platform/screen.h"

namespace quillo {

TMapping& TMapping::operator=(TMapping&& O) noexcept {
  if (this != &O) {
    Reset();
    FBase = O.FBase;
    FBaseSize = O.FBaseSize;
    FData = O.FData;
    FSize = O.FSize;
    O.FBase = nullptr;
    O.FData = nullptr;
    O.FBaseSize = O.FSize = 0;
  }
  return *this;
}

void TMapping::Reset() {
  if (FBase) munmap(FBase, FBaseSize);
  FBase = nullptr;
  FData = nullptr;
  FBaseSize = FSize = 0;
}

namespace {

// A temporary file in Folder that has no name: O_TMPFILE where the file system offers it,
// else a named file removed at once.
int TempFile(const std::string& Folder, std::string& Error) {
  int Fd = open(Folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (Fd >= 0) return Fd;
  std::string Pattern = Folder + "/quilloXXXXXX";
  std::vector<char> Name(Pattern.begin(), Pattern.end());
  Name.push_back('\0');
  Fd = mkostemp(Name.data(), O_CLOEXEC);
  if (Fd < 0) {
    Error = "Cannot create a temporary file in " + Folder + ": " + std::strerror(errno);
    return -1;
  }
  unlink(Name.data());
  return Fd;
}

}  // namespace

std::unique_ptr<TMappedStore> TMappedStore::Create(TQLVirtualLocation Location,
                                                   const std::string& Folder, std::string& Error) {
  int Fd = -1;
  if (Location == qllPageFile) {
    Fd = memfd_create("quillo", MFD_CLOEXEC);
    if (Fd < 0) Error = std::string("Cannot create anonymous memory: ") + std::strerror(errno);
  } else {
    Fd = TempFile(Folder.empty() ? QLTempFolder() : Folder, Error);
  }
  if (Fd < 0) return nullptr;
  auto S = std::make_unique<TMappedStore>(TKey{});
  S->FFd = Fd;
  return S;
}

TMappedStore::~TMappedStore() {
  if (FFd >= 0) close(FFd);
}

bool TMappedStore::Resize(uint64_t Size, std::string& Error) {
  if (Size > static_cast<uint64_t>(INT64_MAX)) {
    Error = "Store size out of range";
    return false;
  }
  if (Size > FSize) {
    // Reserve the blocks now, so that touching a mapped page never faults on a full disk.
    const int R = posix_fallocate(FFd, static_cast<off_t>(FSize), static_cast<off_t>(Size - FSize));
    if (R != 0) {
      // Give back what a partial reservation took.
      (void)!ftruncate(FFd, static_cast<off_t>(FSize));
      Error = std::string("Cannot grow the temporary store: ") + std::strerror(R);
      return false;
    }
  } else if (ftruncate(FFd, static_cast<off_t>(Size)) != 0) {
    Error = std::string("Cannot shrink the temporary store: ") + std::strerror(errno);
    return false;
  }
  FSize = Size;
  return true;
}

TMapping TMappedStore::Map(uint64_t Offset, size_t Length) const {
  TMapping M;
  if (Length == 0 || Offset > FSize || Length > FSize - Offset) return M;
  // Mappings start at page boundaries: map from the page that holds Offset.
  static const uint64_t Page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t Start = Offset / Page * Page;
  const size_t Lead = static_cast<size_t>(Offset - Start);
  void* P = mmap(nullptr, Length + Lead, PROT_READ | PROT_WRITE, MAP_SHARED, FFd,
                 static_cast<off_t>(Start));
  if (P == MAP_FAILED) return M;
  M.FBase = P;
  M.FBaseSize = Length + Lead;
  M.FData = static_cast<uint8_t*>(P) + Lead;
  M.FSize = Length;
  return M;
}

namespace {

// Moves Length bytes at Offset with Call (pread or pwrite), through short transfers and
// interruptions.
template <typename TBuffer, typename TCall>
bool Transfer(int Fd, uint64_t Offset, TBuffer* Data, size_t Length, TCall Call) {
  while (Length > 0) {
    const ssize_t N = Call(Fd, Data, Length, static_cast<off_t>(Offset));
    if (N <= 0) {
      if (N < 0 && errno == EINTR) continue;
      return false;
    }
    Data += N;
    Offset += static_cast<uint64_t>(N);
    Length -= static_cast<size_t>(N);
  }
  return true;
}

}  // namespace

bool TMappedStore::Write(uint64_t Offset, const void* Data, size_t Length) const {
  if (Offset > FSize || Length > FSize - Offset) return false;
  return Transfer(FFd, Offset, static_cast<const uint8_t*>(Data), Length, pwrite);
}

bool TMappedStore::Read(uint64_t Offset, void* Data, size_t Length) const {
  if (Offset > FSize || Length > FSize - Offset) return false;
  return Transfer(FFd, Offset, static_cast<uint8_t*>(Data), Length, pread);
}

}  // namespace quillo
