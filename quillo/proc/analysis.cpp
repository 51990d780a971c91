#include "quillo/proc/analysis.h"

#include <algorithm>
#include <cstring>

#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"
#include "quillo/quant/quantizer.h"

namespace quillo {

// ---------------------------------------------------------------------------------------------
// THash1

THash1::THash1(int32_t Bits)
    : FMask((Bits >= 32 ? 0u : (1u << std::clamp(Bits, 0, 31))) - 1u),
      FSlot(static_cast<size_t>(FMask) + 1, 0),
      FState(static_cast<size_t>(FMask) + 1, 0) {}

bool THash1::Insert(uint32_t Key) {
  const size_t B = Key & FMask;
  switch (FState[B]) {
    case 0:
      FSlot[B] = Key;
      FState[B] = 1;
      break;
    case 1: {
      if (FSlot[B] == Key) return false;
      // The bucket becomes a chain: the old key first, the new one second.
      const int32_t First = static_cast<int32_t>(FNodes.size());
      FNodes.push_back(TNode{FSlot[B], First + 1});
      FNodes.push_back(TNode{Key, -1});
      FSlot[B] = static_cast<uint32_t>(First);
      FState[B] = 2;
      break;
    }
    default: {
      int32_t N = static_cast<int32_t>(FSlot[B]);
      for (;;) {
        if (FNodes[static_cast<size_t>(N)].Key == Key) return false;
        if (FNodes[static_cast<size_t>(N)].Next < 0) break;
        N = FNodes[static_cast<size_t>(N)].Next;
      }
      FNodes[static_cast<size_t>(N)].Next = static_cast<int32_t>(FNodes.size());
      FNodes.push_back(TNode{Key, -1});
      break;
    }
  }
  ++FCount;
  return true;
}

bool THash1::KeyPresent(uint32_t Key) const {
  const size_t B = Key & FMask;
  if (FState[B] == 0) return false;
  if (FState[B] == 1) return FSlot[B] == Key;
  for (int32_t N = static_cast<int32_t>(FSlot[B]); N >= 0; N = FNodes[static_cast<size_t>(N)].Next)
    if (FNodes[static_cast<size_t>(N)].Key == Key) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------

namespace {
// Rect clipped to the bitmap.
TRect Clip(const TBitmap& B, const TRect& R) {
  return TRect{std::max(R.Left, 0), std::max(R.Top, 0), std::min(R.Right, B.GetWidth()),
               std::min(R.Bottom, B.GetHeight())};
}
}  // namespace

void _GetHistogram(const TBitmap& Bitmap, THistogram& Histogram, const TRect& Rect) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const TRect R = Clip(Bitmap, Rect);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    const TRGB* Row = reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y));
    for (int32_t X = R.Left; X < R.Right; ++X) {
      const TRGB& P = Row[X];
      ++Histogram[P.r].R;
      ++Histogram[P.g].G;
      ++Histogram[P.b].B;
      ++Histogram[_RGBToGray(P)].Grey;
    }
  }
}

int32_t _GetImageNumColors(const TBitmap& Bitmap, const TRect& Rect) {
  if (Bitmap.GetPixelFormat() != pf24bit) return 0;
  const TRect R = Clip(Bitmap, Rect);
  THash1 Set(13);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    const TRGB* Row = reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y));
    for (int32_t X = R.Left; X < R.Right; ++X)
      Set.Insert((static_cast<uint32_t>(Row[X].r) << 16) | (Row[X].g << 8) | Row[X].b);
  }
  return Set.Count();
}

void _ConvertTo(TBitmap& Bitmap, int32_t Colors, TRGB* Palette, const TQLProgressEvent& OnProgress,
                TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit || Bitmap.Empty()) return;
  Colors = std::clamp(Colors, 1, 256);
  std::vector<TRGB> Own(static_cast<size_t>(Colors));
  TRGB* Pal = Palette ? Palette : Own.data();
  TQLQuantizer Q(Bitmap, Pal, 0x7FFFFFF, Colors, -1, 0);
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  std::vector<int32_t> Index(static_cast<size_t>(W));
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(Bitmap.ScanLine(Y));
    Q.GetRGBIndexes(Bitmap.ScanLine(Y), W, Index.data());
    for (int32_t X = 0; X < W; ++X) Row[X] = Pal[Index[static_cast<size_t>(X)]];
    if (OnProgress) OnProgress(Sender, QLTrunc(100.0 / (H + 0.5) * (Y + 1)));
  }
  Bitmap.Modified();
}

void _GetMediaContrastRGB(const TBitmap& Bitmap, int32_t& R, int32_t& G, int32_t& B) {
  R = G = B = 128;
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const int64_t Div = static_cast<int64_t>(Bitmap.GetWidth() - 1) * (Bitmap.GetHeight() - 1);
  if (Div == 0) return;
  uint64_t SR = 0, SG = 0, SB = 0;
  for (int32_t Y = 0; Y < Bitmap.GetHeight(); ++Y) {
    const TRGB* Row = reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y));
    for (int32_t X = 0; X < Bitmap.GetWidth(); ++X) SR += Row[X].r, SG += Row[X].g, SB += Row[X].b;
  }
  R = QLTrunc(static_cast<double>(SR) / static_cast<double>(Div));
  G = QLTrunc(static_cast<double>(SG) / static_cast<double>(Div));
  B = QLTrunc(static_cast<double>(SB) / static_cast<double>(Div));
}

void _ConvertToBWThreshold(TBitmap& Bitmap, int32_t Threshold, TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  if (Threshold == -1) {
    int32_t R, G, B;
    _GetMediaContrastRGB(Bitmap, R, G, B);
    Threshold = (21 * R + 71 * G + 7 * B) / 100;
  }
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  TBitmap Out(W, H, pf1bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    const TRGB* Row = reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y));
    uint8_t* D = Out.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X)
      if (static_cast<int32_t>(_RGBToGray(Row[X])) >= Threshold)
        D[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    QLProgress(Progress, QLTrunc((Y + 1) * 100.0 / (H + 0.5)));
    if (QLAborted(Progress)) break;
  }
  QLCopyBitmap(Out, Bitmap);
}

int32_t _GetSimilColor(const TRGB* Palette, int32_t Count, const TRGB& Color) {
  int32_t Best = 0, BestD = 1000;
  for (int32_t I = 0; I < Count; ++I) {
    const int32_t D = std::abs(Palette[I].r - Color.r) + std::abs(Palette[I].g - Color.g) +
                      std::abs(Palette[I].b - Color.b);
    if (D < BestD) BestD = D, Best = I;
  }
  return Best;
}

std::vector<TRGBQuad> _CreateWinPalette(const TRGB* Palette, int32_t Count) {
  std::vector<TRGBQuad> P(static_cast<size_t>(std::max(Count, 0)));
  for (int32_t I = 0; I < Count; ++I)
    P[static_cast<size_t>(I)] = TRGBQuad{Palette[I].b, Palette[I].g, Palette[I].r, 0};
  return P;
}

void _RGB2BGR(TRGB* Colors, int32_t Count) {
  for (int32_t I = 0; I < Count; ++I) std::swap(Colors[I].r, Colors[I].b);
}

void _CopyBGR_RGB(TRGB* Dest, const TRGB* Source, int32_t Count) {
  std::memmove(Dest, Source, static_cast<size_t>(std::max(Count, 0)) * 3);
  _RGB2BGR(Dest, Count);
}

bool _BitmapCompareX(const TBitmap& A, const TBitmap& B) {
  return A.GetWidth() == B.GetWidth() && A.GetHeight() == B.GetHeight() &&
         A.BitsSize() == B.BitsSize() &&
         std::memcmp(A.Bits(), B.Bits(), static_cast<size_t>(A.BitsSize())) == 0;
}

// ---------------------------------------------------------------------------------------------
// YUV

void YUV2RGB(int32_t Y, int32_t U, int32_t V, TRGB& Rgb) {
  const double Yy = (Y - 16) * 1.164;
  const double Uu = U - 128, Vv = V - 128;
  Rgb.b = blimit(QLRound(Yy + 2.018 * Uu));
  Rgb.g = blimit(QLRound(Yy - 0.813 * Vv - 0.391 * Uu));
  Rgb.r = blimit(QLRound(Yy + 1.596 * Vv));
}

namespace {

// Rows of a frame in data order, mapped to bitmap rows by TopDown; Convert(DataRow, Out) fills
// one bitmap row.
template <typename TRow>
void EachRow(TBitmap& B, bool TopDown, TRow&& Convert) {
  B.SetPixelFormat(pf24bit);
  const int32_t H = B.GetHeight();
  for (int32_t I = 0; I < H; ++I)
    Convert(I, reinterpret_cast<TRGB*>(B.ScanLine(TopDown ? I : H - 1 - I)));
  B.Modified();
}

// Packed layouts of Group pixels in GroupBytes bytes; Pixel(Bytes, K, Out) converts pixel K of
// a group.
template <typename TPixel>
void Packed(const uint8_t* Data, TBitmap& B, bool TopDown, int32_t Group, int32_t GroupBytes,
            TPixel&& Pixel) {
  const int32_t W = B.GetWidth();
  const int64_t RowBytes = static_cast<int64_t>((W + Group - 1) / Group) * GroupBytes;
  EachRow(B, TopDown, [&](int32_t I, TRGB* Out) {
    const uint8_t* Row = Data + I * RowBytes;
    for (int32_t X = 0; X < W; ++X)
      Pixel(Row + static_cast<int64_t>(X / Group) * GroupBytes, X % Group, Out[X]);
  });
}

// Planar layouts: the Y plane, then two chroma planes (first U when UFirst), one sample for
// Sub x Sub pixels.
void Planar(const uint8_t* Data, TBitmap& B, bool TopDown, bool UFirst, int32_t Sub) {
  const int32_t W = B.GetWidth(), H = B.GetHeight();
  const int64_t CW = (W + Sub - 1) / Sub, CH = (H + Sub - 1) / Sub;
  const uint8_t* Yp = Data;
  const uint8_t* First = Data + static_cast<int64_t>(W) * H;
  const uint8_t* Second = First + CW * CH;
  const uint8_t* Up = UFirst ? First : Second;
  const uint8_t* Vp = UFirst ? Second : First;
  EachRow(B, TopDown, [&](int32_t I, TRGB* Out) {
    const uint8_t* Yr = Yp + static_cast<int64_t>(I) * W;
    const int64_t C = (I / Sub) * CW;
    for (int32_t X = 0; X < W; ++X) YUV2RGB(Yr[X], Up[C + X / Sub], Vp[C + X / Sub], Out[X]);
  });
}

}  // namespace

void _CopyYUY2ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Packed(Data, B, TopDown, 2, 4,
         [](const uint8_t* G, int32_t K, TRGB& O) { YUV2RGB(G[K * 2], G[1], G[3], O); });
}
void _CopyYVYUToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Packed(Data, B, TopDown, 2, 4,
         [](const uint8_t* G, int32_t K, TRGB& O) { YUV2RGB(G[K * 2], G[3], G[1], O); });
}
void _CopyUYVYToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Packed(Data, B, TopDown, 2, 4,
         [](const uint8_t* G, int32_t K, TRGB& O) { YUV2RGB(G[1 + K * 2], G[0], G[2], O); });
}
void _CopyIYU1ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  // U Y0 Y1 V Y2 Y3
  static constexpr int32_t YAt[4] = {1, 2, 4, 5};
  Packed(Data, B, TopDown, 4, 6,
         [](const uint8_t* G, int32_t K, TRGB& O) { YUV2RGB(G[YAt[K]], G[0], G[3], O); });
}
void _CopyIYU2ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Packed(Data, B, TopDown, 1, 3,
         [](const uint8_t* G, int32_t, TRGB& O) { YUV2RGB(G[1], G[0], G[2], O); });
}
void _CopyY211ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  // Y0 U Y1 V: pixels 0 and 1 use Y0, 2 and 3 use Y1.
  Packed(Data, B, TopDown, 4, 4,
         [](const uint8_t* G, int32_t K, TRGB& O) { YUV2RGB(G[K < 2 ? 0 : 2], G[1], G[3], O); });
}
void _CopyY41PToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  // U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7
  static constexpr int32_t YAt[8] = {1, 3, 5, 7, 8, 9, 10, 11};
  Packed(Data, B, TopDown, 8, 12, [](const uint8_t* G, int32_t K, TRGB& O) {
    YUV2RGB(G[YAt[K]], K < 4 ? G[0] : G[4], K < 4 ? G[2] : G[6], O);
  });
}
void _CopyCLJRToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  // One little-endian word: V bits 0-5, U 6-11, Y0..Y3 five bits each from bit 12. The fields
  // are widened to 8 bits (top bits repeated) before the conversion, which expects 8-bit
  // values.
  Packed(Data, B, TopDown, 4, 4, [](const uint8_t* G, int32_t K, TRGB& O) {
    const uint32_t Word = G[0] | (G[1] << 8) | (G[2] << 16) | (static_cast<uint32_t>(G[3]) << 24);
    const uint32_t V6 = Word & 63, U6 = (Word >> 6) & 63, Y5 = (Word >> (12 + 5 * K)) & 31;
    YUV2RGB(static_cast<int32_t>((Y5 << 3) | (Y5 >> 2)),
            static_cast<int32_t>((U6 << 2) | (U6 >> 4)),
            static_cast<int32_t>((V6 << 2) | (V6 >> 4)), O);
  });
}
void _CopyI420ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Planar(Data, B, TopDown, true, 2);
}
void _CopyYV12ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Planar(Data, B, TopDown, false, 2);
}
void _CopyYVU9ToBitmap(const uint8_t* Data, TBitmap& B, bool TopDown) {
  Planar(Data, B, TopDown, false, 4);
}

// ---------------------------------------------------------------------------------------------
// Hidden data

namespace {

// Walks the channel bytes that carry hidden bits: rows from the top, all but the last two
// bytes of each row.
class TBitWalker {
 public:
  explicit TBitWalker(const TBitmap& B) : FB(B), FUsable(std::max(0, B.GetWidth() * 3 - 2)) {}
  // The next byte to carry a bit, or nullptr at the end of the image.
  const uint8_t* Next() {
    if (FUsable == 0) return nullptr;
    if (FX == FUsable) FX = 0, ++FY;
    if (FY >= FB.GetHeight()) return nullptr;
    return FB.ScanLine(FY) + FX++;
  }

 private:
  const TBitmap& FB;
  int32_t FUsable;
  int32_t FX = 0, FY = 0;
};

int64_t RoomBits(const TBitmap& B) {
  return static_cast<int64_t>(B.GetHeight()) * std::max(0, B.GetWidth() * 3 - 2);
}

}  // namespace

int32_t _GetHiddenDataSpace(const TBitmap& Bitmap) {
  if (Bitmap.GetPixelFormat() != pf24bit) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(Bitmap.GetWidth()) * Bitmap.GetHeight() * 3 / 8 -
                              8);
}

int32_t _WriteHiddenData(TBitmap& Bitmap, const void* Data, int32_t Length) {
  if (Bitmap.GetPixelFormat() != pf24bit) return 0;
  const uint32_t L = static_cast<uint32_t>(std::max(Length, 0));
  const uint8_t Header[8] = {0,
                             0,
                             0,
                             0,
                             static_cast<uint8_t>(L),
                             static_cast<uint8_t>(L >> 8),
                             static_cast<uint8_t>(L >> 16),
                             static_cast<uint8_t>(L >> 24)};
  const auto* Bytes = static_cast<const uint8_t*>(Data);
  TBitWalker Walk(Bitmap);
  for (int64_t I = 0; I < 8 + static_cast<int64_t>(L); ++I) {
    const uint8_t V = I < 8 ? Header[I] : Bytes[I - 8];
    for (int32_t Bit = 0; Bit < 8; ++Bit) {
      uint8_t* P = const_cast<uint8_t*>(Walk.Next());
      if (!P) {
        Bitmap.Modified();
        return Length;
      }
      const int32_t Want = (V >> Bit) & 1;
      // The lowest bit changes by a step of one: up, except that 255 goes down to 254.
      if ((*P & 1) != Want) *P = *P == 255 ? 254 : static_cast<uint8_t>(*P + 1);
    }
  }
  Bitmap.Modified();
  return Length;
}

int32_t _ReadHiddenData(const TBitmap& Bitmap, void* Data, int32_t Maximum) {
  if (Bitmap.GetPixelFormat() != pf24bit) return 0;
  TBitWalker Walk(Bitmap);
  auto ReadByte = [&](uint8_t& Out) {
    Out = 0;
    for (int32_t Bit = 0; Bit < 8; ++Bit) {
      const uint8_t* P = Walk.Next();
      if (!P) return false;
      Out |= static_cast<uint8_t>((*P & 1) << Bit);
    }
    return true;
  };
  uint8_t Header[8] = {};
  for (uint8_t& H : Header) ReadByte(H);
  const int32_t Stored = static_cast<int32_t>(Header[4] | (Header[5] << 8) | (Header[6] << 16) |
                                              (static_cast<uint32_t>(Header[7]) << 24));
  auto* Out = static_cast<uint8_t*>(Data);
  for (int32_t I = 0; Out && I < Maximum && I < Stored; ++I)
    if (!ReadByte(Out[I])) break;
  return Stored;
}

std::string _ReadHiddenText(const TBitmap& Bitmap) {
  int32_t Length = _ReadHiddenData(Bitmap, nullptr, 0);
  // An image without hidden data spells any length in its header: the image's room bounds it.
  const int64_t Room = std::max<int64_t>(0, RoomBits(Bitmap) / 8 - 8);
  Length = static_cast<int32_t>(std::clamp<int64_t>(Length, 0, Room));
  std::string Text(static_cast<size_t>(Length), '\0');
  _ReadHiddenData(Bitmap, Text.data(), Length);
  return Text;
}

}  // namespace quillo
