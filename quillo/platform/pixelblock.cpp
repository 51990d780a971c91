#include "quillo/platform/pixelblock.h"

#include <sys/mman.h>

#include <cstring>
#include <new>
#include <utility>

namespace quillo {

namespace {
// Below this, the heap is cheaper than a mapping of its own.
constexpr size_t kMapThreshold = size_t{1} << 20;
}  // namespace

TQLPixelBlock::TQLPixelBlock(size_t Size) : FSize(Size) {
  if (Size == 0) return;
  if (Size >= kMapThreshold) {
    void* P = ::mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (P == MAP_FAILED) {
      FSize = 0;
      throw std::bad_alloc();
    }
    // Big images fault in far fewer, larger pages where the system allows it.
    ::madvise(P, Size, MADV_HUGEPAGE);
    FData = static_cast<uint8_t*>(P);
    FMapped = true;
  } else {
    FHeap = std::make_unique<uint8_t[]>(Size);
    FData = FHeap.get();
  }
}

TQLPixelBlock::~TQLPixelBlock() {
  clear();
}

void TQLPixelBlock::clear() {
  if (FMapped) ::munmap(FData, FSize);
  FHeap.reset();
  FData = nullptr;
  FSize = 0;
  FMapped = false;
}

TQLPixelBlock::TQLPixelBlock(const TQLPixelBlock& Other) : TQLPixelBlock(Other.FSize) {
  if (FSize) std::memcpy(FData, Other.FData, FSize);
}

TQLPixelBlock& TQLPixelBlock::operator=(const TQLPixelBlock& Other) {
  if (this != &Other) {
    TQLPixelBlock Copy(Other);
    *this = std::move(Copy);
  }
  return *this;
}

TQLPixelBlock::TQLPixelBlock(TQLPixelBlock&& Other) noexcept {
  *this = std::move(Other);
}

TQLPixelBlock& TQLPixelBlock::operator=(TQLPixelBlock&& Other) noexcept {
  if (this != &Other) {
    clear();
    FData = std::exchange(Other.FData, nullptr);
    FSize = std::exchange(Other.FSize, 0);
    FMapped = std::exchange(Other.FMapped, false);
    FHeap = std::move(Other.FHeap);
  }
  return *this;
}

}  // namespace quillo
