// TQLVirtualDIBList: the thumbnail store. Any number of images live one after another in one
// temporary file, each in a region aligned to 64 KiB that holds a device-independent bitmap (a
// 48-byte header and palette, then the rows bottom-up), so that an image is drawn straight from
// its mapping. At most ten regions are mapped at a time, the least recently used one going
// first; an image wanted as a bitmap is lent out with a loan count and written back on request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillo/core/virtualbitmap.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/mapping.h"

namespace quillo {

// One image of the store; the store owns it, callers hold its address as the image's handle.
struct TQLVirtualImageInfo {
  uint64_t Offset = 0;
  uint32_t UsedSize = 0;    // header and rows
  uint32_t RegionSize = 0;  // UsedSize rounded up to 64 KiB
  bool Lent = false;
  // The region's mapping while the image is mapped.
  TMapping Mapping;
  uint8_t* Mapped() const { return Mapping.Data(); }
};

class TQLVirtualDIBList {
 public:
  static constexpr int32_t kMaxMapped = 10;
  static constexpr uint32_t kHeaderSize = 48;

  // The file is made in TempDir (empty: DefTEMPPATH or the system's temporary folder). When it
  // cannot be, the store refuses every image and GetError says why.
  explicit TQLVirtualDIBList(std::string TempDir = "");
  ~TQLVirtualDIBList();
  TQLVirtualDIBList(const TQLVirtualDIBList&) = delete;
  TQLVirtualDIBList& operator=(const TQLVirtualDIBList&) = delete;

  // Closes every mapping and sets the file's size to GetFileSize (making the file when there
  // is none); false when that fails.
  bool ReAllocateBits();
  // Removes every image (loans freed without writing back) and the file.
  void FreeBits();

  // A new image of that size and depth (1, 8 or 24 bits), its pixels zero; none when the file
  // cannot hold it (GetError tells why) or its offset would pass 64 bits.
  TQLVirtualImageInfo* AddBlankImage(int32_t Width, int32_t Height, int32_t BitsPerPixel);
  // Places a region for Info at the end of the file; false when the file cannot grow.
  bool AllocImage(TQLVirtualImageInfo* Info, int32_t Width, int32_t Height, int32_t BitsPerPixel);
  // A new image with the bitmap's pixels (1-bit, 8-bit or 24-bit), or a rectangle of them.
  TQLVirtualImageInfo* AddBitmap(const TBitmap& Bitmap);
  TQLVirtualImageInfo* AddBitmapRect(const TBitmap& Bitmap, int32_t X, int32_t Y, int32_t Width,
                                     int32_t Height);
  // The image into Bitmap (1-bit or 24-bit as stored; an 8-bit image keeps the bitmap's format).
  void CopyToBitmap(TQLVirtualImageInfo* Info, TBitmap& Bitmap);
  // Bitmap into the image; a new size or depth moves the image to a new region.
  void CopyFromBitmap(TQLVirtualImageInfo* Info, const TBitmap& Bitmap);

  // The image as a bitmap, lent with a loan count: the same bitmap while it is out.
  TBitmap* GetBitmap(TQLVirtualImageInfo* Info);
  // Ends one loan (WriteBack copies the bitmap into the image first); the bitmap is freed with
  // the last. Unknown bitmaps are ignored.
  void ReleaseBitmap(TBitmap* Bitmap, bool WriteBack);
  void ReleaseBitmapByImage(TQLVirtualImageInfo* Info, bool WriteBack);
  int32_t BmpToReleaseIndexOf(const TQLVirtualImageInfo* Info) const;
  int32_t LoanCount(const TQLVirtualImageInfo* Info) const;

  int32_t GetImageCount() const { return static_cast<int32_t>(FImages.size()); }
  TQLVirtualImageInfo* GetImageInfo(int32_t Index) const;
  int32_t IndexOf(const TQLVirtualImageInfo* Info) const;
  // Size, depth, rows (the bottom row first) and header of an image: a lent image's from its
  // bitmap, others from the store (0 or none when the image cannot be mapped).
  int32_t GetImageWidth(TQLVirtualImageInfo* Info);
  int32_t GetImageHeight(TQLVirtualImageInfo* Info);
  int32_t GetImageBitCount(TQLVirtualImageInfo* Info);
  const uint8_t* GetImageBits(TQLVirtualImageInfo* Info);
  TQLDIBHeader GetImageInfoHeader(TQLVirtualImageInfo* Info);
  // Draws the source rectangle of the stored image onto the destination rectangle.
  void RenderTo(TQLVirtualImageInfo* Info, TCanvas& Canvas, int32_t DrawContext, int32_t XDst,
                int32_t YDst, int32_t DxDst, int32_t DyDst, int32_t XSrc, int32_t YSrc,
                int32_t DxSrc, int32_t DySrc);

  // Mapping management: at most kMaxMapped regions, least recently used out first.
  bool MapImage(TQLVirtualImageInfo* Info);
  void DiscardImage(TQLVirtualImageInfo* Info);
  void DiscardOne();
  void DiscardAll();
  int32_t GetMappedCount() const { return static_cast<int32_t>(FMappedList.size()); }

  // Grows the file once for Count images of that size and depth.
  bool PrepareSpaceFor(int32_t Width, int32_t Height, int32_t BitsPerPixel, int32_t Count);
  // Removes image Index (its loan freed without writing back).
  void RemoveImageInfo(int32_t Index);
  // Removes the image; when none is left the file shrinks to the growth step.
  void Delete(TQLVirtualImageInfo* Info);

  uint64_t GetFileSize() const { return FFileSize; }
  uint32_t GetGrowthStep() const { return FGrowthStep; }
  const std::string& GetError() const { return FError; }

 private:
  struct TLoan {
    TQLVirtualImageInfo* Info;
    std::unique_ptr<TBitmap> Bitmap;
    int32_t Count;
  };
  static uint32_t RegionFor(int32_t Width, int32_t Height, int32_t BitsPerPixel, uint32_t* Used);
  std::string FTempDir, FError;
  std::unique_ptr<TMappedStore> FStore;
  uint64_t FFileSize = 0x10000;
  uint32_t FGrowthStep = 0x10000;
  uint32_t FLastRegion = 0;
  uint64_t FNextFree = 0;
  std::vector<std::unique_ptr<TQLVirtualImageInfo>> FImages;
  std::vector<TQLVirtualImageInfo*> FMappedList;  // least recently used first
  std::vector<TLoan> FLoans;
};

}  // namespace quillo
