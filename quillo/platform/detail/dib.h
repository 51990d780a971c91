// The layout of device-independent bitmaps (DIBs), shared by the BMP codec, the DIB exchange
// and the metafile player: the info header in its core (12-byte), info (40-byte), OS/2 2.x
// (16..64-byte) and later (108, 124-byte) forms, the bit-field masks, the colour table and the
// run-length codes. Internal to the library; the general decoder, QLDecodeDIB, is declared
// with the metafile that brought it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace quillo {

// Compression codes of the info header.
constexpr uint32_t kDIBRGB = 0;
constexpr uint32_t kDIBRLE8 = 1;
constexpr uint32_t kDIBRLE4 = 2;
constexpr uint32_t kDIBBitFields = 3;
constexpr uint32_t kDIBAlphaBitFields = 6;  // bit fields with an alpha mask besides

// What a DIB's header says, as stored: nothing is checked against the data.
struct TDIBHeader {
  uint32_t HeaderSize = 0;  // 12: the core header; otherwise the info header or a longer one
  int32_t Width = 0;
  int64_t Height = 0;    // rows, always positive or 0
  bool TopDown = false;  // the stored height was negative: the first stored row is the top one
  int32_t BitCount = 0;
  uint32_t Compression = kDIBRGB;
  uint32_t ImageSize = 0;
  int32_t XPelsPerMeter = 0, YPelsPerMeter = 0;
  uint32_t ClrUsed = 0;
  // Red, green and blue masks, for compression 3 and 6 only.
  bool HaveMasks = false;
  std::array<uint32_t, 3> Masks = {0, 0, 0};
  // Where the masks are: byte 40 inside the longer headers, or right after the 40-byte and
  // the 64-byte header (whose bytes 40..52 are other fields).
  size_t MasksOffset = 0;
  // The colour table: 3-byte entries (blue, green, red) after the core header, 4-byte ones
  // after the others; ClrUsed entries whatever the depth (beside true-colour pixels they are a
  // display hint), the full table for 8 bits or fewer when ClrUsed is 0.
  size_t PaletteOffset = 0;
  size_t PaletteEntrySize = 4;
  uint64_t PaletteCount = 0;
  // Header, following masks and colour table: where the pixels of a packed DIB begin.
  uint64_t InfoSize = 0;

  bool MasksFollow() const { return HaveMasks && MasksOffset == HeaderSize; }
};

// Reads the header from the N bytes at P. Fields past N, and fields an OS/2 2.x header shorter
// than 40 bytes leaves out, read as 0; so do masks that follow the header beyond N.
TDIBHeader QLParseDIBHeader(const uint8_t* P, size_t N);

// Bytes of a packed DIB's header, following masks and colour table, the pixels coming next; 0
// when the header is neither the core one nor one of 40 bytes or more that fits in N, or when
// its table does not fit.
size_t QLPackedDIBInfoSize(const uint8_t* P, size_t N);

// Entry I of the colour table at Table (Bytes long) as blue | green << 8 | red << 16; 0
// (black) for an entry past the end.
uint32_t QLDIBTableEntry(const uint8_t* Table, size_t Bytes, size_t EntrySize, uint64_t I);

// How a run of RLE8/RLE4 codes ended.
enum class TDIBRLEEnd {
  Data,       // the codes ran out
  EndCode,    // the end-of-bitmap code
  Rows,       // an end of line or a delta left the bitmap's rows
  Truncated,  // an absolute run was cut short by the end of the codes (after its pixels)
  Stopped,    // NextRow asked to stop
};

// Where decoding RLE codes stands between parts of the codes: the next pixel's place.
struct TDIBRLECursor {
  int64_t X = 0, Row = 0;
};

// The most bytes one RLE code takes: an absolute run of 255 pixels with its pad byte.
constexpr size_t kDIBRLELongestCode = 2 + 255 + 1;

// Decodes RLE8 (or RLE4) codes for a bitmap of W x H: Put(X, Row, Index) for each pixel inside
// it, Row counting stored rows from the first one (the bottom row of a bottom-up DIB); pixels
// that a run or a delta puts outside are dropped. NextRow(Row) is called when an end-of-line
// code moves into Row (< H) and stops the decoding by returning false. Each two bytes of codes
// yield at most 255 pixels, so hostile data costs time in proportion to its length only.
//
// The codes may come in parts: Cursor carries the place from one part to the next, and with
// More (other codes follow this part) the decoding stops before a code that might not lie
// wholly in the part, giving TDIBRLEEnd::Data with Used the bytes consumed; the caller then
// hands over the rest from there. Parts decode exactly as the whole codes would.
template <class TPut, class TNextRow>
TDIBRLEEnd QLDecodeDIBRLEPart(const uint8_t* Data, size_t Len, bool More, TDIBRLECursor& Cursor,
                              size_t& Used, bool RLE4, int64_t W, int64_t H, TPut&& Put,
                              TNextRow&& NextRow) {
  int64_t X = Cursor.X, Row = Cursor.Row;
  size_t I = 0;
  auto Pixel = [&](uint32_t Index) {
    if (X < W) Put(X, Row, Index);
    ++X;
  };
  const auto End = [&](TDIBRLEEnd How) {
    Cursor = TDIBRLECursor{X, Row};
    Used = I;
    return How;
  };
  while (I + 2 <= Len) {
    if (More && Len - I < kDIBRLELongestCode) return End(TDIBRLEEnd::Data);
    const uint32_t C = Data[I], V = Data[I + 1];
    I += 2;
    if (C > 0) {  // a run of C pixels; RLE4 alternates the byte's two nibbles, high first
      for (uint32_t K = 0; K < C; ++K) Pixel(RLE4 ? ((K & 1) ? V & 0x0F : V >> 4) : V);
    } else if (V == 0) {  // end of line
      X = 0;
      if (++Row >= H) return End(TDIBRLEEnd::Rows);
      if (!NextRow(Row)) return End(TDIBRLEEnd::Stopped);
    } else if (V == 1) {
      return End(TDIBRLEEnd::EndCode);
    } else if (V == 2) {  // delta: right and up (towards later stored rows)
      if (I + 2 > Len) return End(TDIBRLEEnd::Data);
      X += Data[I];
      Row += Data[I + 1];
      I += 2;
      if (Row >= H) return End(TDIBRLEEnd::Rows);
    } else {  // an absolute run of V pixels, its bytes padded to an even count
      const size_t Bytes = RLE4 ? (V + 1) / 2 : V;
      for (uint32_t K = 0; K < V && I + (RLE4 ? K / 2 : K) < Len; ++K) {
        const uint32_t B = Data[I + (RLE4 ? K / 2 : K)];
        Pixel(RLE4 ? ((K & 1) ? B & 0x0F : B >> 4) : B);
      }
      if (I + Bytes > Len) return End(TDIBRLEEnd::Truncated);
      I += Bytes + (Bytes & 1);
    }
  }
  if (I > Len) I = Len;  // a pad byte past the end
  return End(TDIBRLEEnd::Data);
}

// The same over codes held whole.
template <class TPut, class TNextRow>
TDIBRLEEnd QLDecodeDIBRLE(const uint8_t* Data, size_t Len, bool RLE4, int64_t W, int64_t H,
                          TPut&& Put, TNextRow&& NextRow) {
  TDIBRLECursor Cursor;
  size_t Used = 0;
  return QLDecodeDIBRLEPart(Data, Len, false, Cursor, Used, RLE4, W, H, std::forward<TPut>(Put),
                            std::forward<TNextRow>(NextRow));
}

}  // namespace quillo
