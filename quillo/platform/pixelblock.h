// The memory of a bitmap's pixels: one zero-filled block. Large blocks come straight from the
// system as fresh pages, which are zero already, so that a reader filling a big image touches
// its memory once instead of after a separate clearing pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillo {

class TQLPixelBlock {
 public:
  TQLPixelBlock() = default;
  // Size zero bytes (raises std::bad_alloc when the system has no room).
  explicit TQLPixelBlock(size_t Size);
  ~TQLPixelBlock();
  TQLPixelBlock(const TQLPixelBlock& Other);
  TQLPixelBlock& operator=(const TQLPixelBlock& Other);
  TQLPixelBlock(TQLPixelBlock&& Other) noexcept;
  TQLPixelBlock& operator=(TQLPixelBlock&& Other) noexcept;

  uint8_t* data() { return FData; }
  const uint8_t* data() const { return FData; }
  size_t size() const { return FSize; }
  bool empty() const { return FSize == 0; }
  void clear();

 private:
  uint8_t* FData = nullptr;
  size_t FSize = 0;
  bool FMapped = false;  // pages from the system rather than the heap
  std::unique_ptr<uint8_t[]> FHeap;
};

}  // namespace quillo
