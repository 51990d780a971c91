#include "quillo/codecs/pxm.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "quillo/codecs/detail/common.h"
#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

enum class TTokKind { Token, Comment, End };

struct TTok {
  TTokKind Kind = TTokKind::End;
  std::string Text;
};

inline bool IsAlnum(int32_t C) {
  return C >= 0 && C < 128 && std::isalnum(C);
}

// Tokens are runs of ASCII letters and digits; anything else separates them; "#" starts a
// comment that runs to the next CR or LF. The byte that ends a token is consumed, so after the
// last header token the reader stands on the first raster byte.
TTok NextToken(TQLByteReader& R, int64_t* Budget = nullptr) {
  TTok T;
  int32_t C;
  do {
    C = R.Get();
    if (Budget && --*Budget < 0) return T;
  } while (C >= 0 && !IsAlnum(C) && C != '#');
  if (C < 0) return T;
  if (C == '#') {
    T.Kind = TTokKind::Comment;
    while ((C = R.Get()) >= 0 && C != '\r' && C != '\n') {
      if (Budget && --*Budget < 0) break;
      T.Text.push_back(static_cast<char>(C));
    }
    size_t B = T.Text.find_first_not_of(" \t");
    size_t E = T.Text.find_last_not_of(" \t");
    T.Text = B == std::string::npos ? std::string() : T.Text.substr(B, E - B + 1);
    return T;
  }
  T.Kind = TTokKind::Token;
  while (IsAlnum(C)) {
    T.Text.push_back(static_cast<char>(C));
    C = R.Get();
  }
  // A comment right after a token still has to be seen as one.
  if (C == '#') R.Unget();
  return T;
}

// A decimal number, or -1 when the token is not one (or does not fit in 32 bits).
int64_t ParseNumber(const std::string& S) {
  if (S.empty() || S.size() > 10) return -1;
  int64_t V = 0;
  for (char C : S) {
    if (C < '0' || C > '9') return -1;
    V = V * 10 + (C - '0');
  }
  return V > std::numeric_limits<int32_t>::max() ? -1 : V;
}

// The next non-comment token; comments go to Comments when given.
TTok NextValue(TQLByteReader& R, TStringList* Comments, int64_t* Budget = nullptr) {
  TTok T;
  do {
    T = NextToken(R, Budget);
    if (T.Kind == TTokKind::Comment && Comments) Comments->Add(T.Text);
  } while (T.Kind == TTokKind::Comment);
  return T;
}

int32_t MagicNumber(const TTok& T) {
  if (T.Kind != TTokKind::Token || T.Text.size() != 2 || T.Text[0] != 'P') return 0;
  return (T.Text[1] >= '1' && T.Text[1] <= '6') ? T.Text[1] - '0' : 0;
}

// trunc(V / Max x 255), in integers so that it is exact; samples above the maximum saturate.
inline uint8_t Scale(int64_t V, int64_t Max) {
  if (V <= 0) return 0;
  return static_cast<uint8_t>(std::min<int64_t>(V * 255 / Max, 255));
}

// Two-byte samples are brought to 8 bits to the nearest level, as other readers do.
inline uint8_t ScaleWide(int64_t V, int64_t Max) {
  return static_cast<uint8_t>(std::min<int64_t>((V * 255 + Max / 2) / Max, 255));
}

void ReadPXM(TStream& S, TBitmap& Bmp, TIOParamsVals& P, TProgressRec& Prog, bool Preview) {
  TQLByteReader R(S);
  P.PxmComments.Clear();
  const int32_t Magic = MagicNumber(NextValue(R, &P.PxmComments));
  const int64_t W = ParseNumber(NextValue(R, &P.PxmComments).Text);
  const int64_t H = ParseNumber(NextValue(R, &P.PxmComments).Text);
  int64_t Max = 1;
  if (Magic != 1 && Magic != 4) Max = ParseNumber(NextValue(R, &P.PxmComments).Text);
  if (W <= 0 || H <= 0) return QLSetAbort(Prog);
  P.FreeColorMap();
  P.Width = static_cast<int32_t>(W);
  P.Height = static_cast<int32_t>(H);
  P.DpiX = gSystemDPIX;
  P.DpiY = gSystemDPIY;
  Prog.StepFactor = 100.0 / H;
  Prog.Pass = 0;
  if (Magic == 0) return QLSetAbort(Prog);
  const bool OneBit = Magic == 1 || Magic == 4;
  P.BitsPerSample = OneBit ? 1 : 8;
  P.SamplesPerPixel = (Magic == 3 || Magic == 6) ? 3 : 1;
  if (Preview) return;
  // A maximum of 0 (or one that is not a number) gives no scale for the samples.
  if (!OneBit && Max <= 0) return QLSetAbort(Prog);
  if (!QLPrepareBitmap(Bmp, W, H, OneBit, Prog)) return;
  const int32_t Width = static_cast<int32_t>(W), Height = static_cast<int32_t>(H);
  // Samples above 255 take two bytes, most significant first.
  const bool Wide = Max > 255;
  const int64_t SampleBytes = Wide ? 2 : 1;
  std::vector<uint8_t> Buf;
  if (Magic >= 4)
    Buf.resize(static_cast<size_t>(W * (Magic == 4 ? 1 : SampleBytes * (Magic == 6 ? 3 : 1))) + 8);

  auto EndRow = [&]() {
    ++Prog.Pass;
    QLProgress(Prog, QLTrunc(Prog.Pass * Prog.StepFactor));
    return !QLAborted(Prog);
  };
  auto Sample = [&](const uint8_t* B, int64_t I) -> int64_t {
    return Wide ? (B[I * 2] << 8) | B[I * 2 + 1] : B[I];
  };

  for (int32_t Y = 0; Y < Height; ++Y) {
    uint8_t* Row = Bmp.ScanLine(Y);
    TRGB* Px = reinterpret_cast<TRGB*>(Row);
    switch (Magic) {
      case 1: {
        int32_t X = 0;
        while (X < Width) {
          int32_t C = R.Get();
          if (C < 0) return QLSetAbort(Prog);
          if (C == '0')
            Row[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7)), ++X;
          else if (C == '1')
            Row[X >> 3] &= static_cast<uint8_t>(~(0x80 >> (X & 7))), ++X;
        }
        break;
      }
      case 2:
      case 3:
        for (int32_t X = 0; X < Width; ++X) {
          uint8_t Ch[3];
          for (int32_t K = 0; K < (Magic == 3 ? 3 : 1); ++K) {
            TTok T = NextValue(R, nullptr);
            if (T.Kind == TTokKind::End) return QLSetAbort(Prog);
            Ch[K] = Scale(std::max<int64_t>(ParseNumber(T.Text), 0), Max);
          }
          Px[X] = Magic == 3 ? TRGB{Ch[2], Ch[1], Ch[0]} : TRGB{Ch[0], Ch[0], Ch[0]};
        }
        break;
      case 4: {
        const int64_t N = (W + 7) / 8;
        if (R.Read(Row, N) != N) return QLSetAbort(Prog);
        break;
      }
      case 5: {
        const int64_t N = W * SampleBytes;
        if (R.Read(Buf.data(), N) != N) return QLSetAbort(Prog);
        for (int32_t X = 0; X < Width; ++X) {
          int64_t V = Sample(Buf.data(), X);
          uint8_t G = Wide        ? ScaleWide(V, Max)
                      : Max < 255 ? Scale(V, Max)
                                  : static_cast<uint8_t>(V);
          Px[X] = TRGB{G, G, G};
        }
        break;
      }
      case 6: {
        const int64_t N = W * 3 * SampleBytes;
        if (!Wide) {
          // Straight into the row, then red and blue change places.
          if (R.Read(Row, N) != N) return QLSetAbort(Prog);
          // The maximum is not applied to 8-bit colour samples: they are taken as they are.
          for (int32_t X = 0; X < Width; ++X) std::swap(Row[X * 3], Row[X * 3 + 2]);
          break;
        }
        if (R.Read(Buf.data(), N) != N) return QLSetAbort(Prog);
        for (int32_t X = 0; X < Width; ++X)
          Px[X] = TRGB{ScaleWide(Sample(Buf.data(), X * 3 + 2), Max),
                       ScaleWide(Sample(Buf.data(), X * 3 + 1), Max),
                       ScaleWide(Sample(Buf.data(), X * 3), Max)};
        break;
      }
    }
    if (!EndRow()) break;
  }
  if (Magic == 4) {
    // PBM stores 1 for black; the working layout has 1 for white.
    for (int32_t Y = 0; Y < Height; ++Y) {
      uint8_t* Row = Bmp.ScanLine(Y);
      for (int32_t K = 0; K < Bmp.RowLen(); ++K) Row[K] = static_cast<uint8_t>(~Row[K]);
    }
  }
}

void WritePXM(TStream& S, const TBitmap& Bmp, TIOParamsVals& P, TProgressRec& Prog) {
  bool& Abort = *Prog.AbortFlag;
  const int32_t W = Bmp.GetWidth(), H = Bmp.GetHeight();
  if (W <= 0 || H <= 0) return QLSetAbort(Prog);
  Prog.StepFactor = 100.0 / H;
  Prog.Pass = 0;
  std::string Comments;
  for (const std::string& Line : P.PxmComments.Items()) Comments += "\n# " + Line + "\n";
  int32_t Magic = 0;
  if ((P.BitsPerSample == 1 && P.SamplesPerPixel == 1) || Bmp.GetPixelFormat() == pf1bit)
    Magic = 4;
  else if (P.BitsPerSample == 8 && P.SamplesPerPixel == 1)
    Magic = 5;
  else if ((P.BitsPerSample == 8 && P.SamplesPerPixel == 3) || Bmp.GetPixelFormat() == pf24bit)
    Magic = 6;
  if (Magic == 0) return;
  std::string Header = "P";
  Header += std::to_string(Magic);
  Header += ' ';
  Header += Comments;
  Header += std::to_string(W);
  Header += ' ';
  Header += std::to_string(H);
  if (Magic != 4) Header += " 255";
  Header += '\n';
  SafeStreamWrite(S, Abort, Header.data(), static_cast<int64_t>(Header.size()));

  // A colour image asked to be stored as black and white is reduced first rather than having
  // its colour rows written as bits.
  std::unique_ptr<TBitmap> Converted;
  TBitmap Wide24;
  const TBitmap* Src = &Bmp;
  if (Magic == 4 && Bmp.GetPixelFormat() != pf1bit) {
    TRGB C1, C2;
    Converted = QLOneBitForWriting(Bmp, C1, C2);
    Src = Converted.get();
  } else if (Magic != 4) {
    Src = &QLAs24Bit(Bmp, Wide24);
  }
  std::vector<uint8_t> Out(static_cast<size_t>(W) * 3 + 8);
  for (int32_t Y = 0; Y < H && !Abort; ++Y) {
    const uint8_t* Row = Src->ScanLine(Y);
    int64_t N = 0;
    if (Magic == 4) {
      N = (W + 7) / 8;
      for (int64_t K = 0; K < N; ++K) Out[static_cast<size_t>(K)] = static_cast<uint8_t>(~Row[K]);
      // Padding bits past the width are written as 0, as readers expect.
      if (W % 8) Out[static_cast<size_t>(N - 1)] &= static_cast<uint8_t>(0xFF00 >> (W % 8));
    } else {
      const TRGB* Px = reinterpret_cast<const TRGB*>(Row);
      for (int32_t X = 0; X < W; ++X) {
        if (Magic == 5) {
          Out[static_cast<size_t>(N++)] = QLStoredGrey(Px[X]);
        } else {
          Out[static_cast<size_t>(N++)] = Px[X].r;
          Out[static_cast<size_t>(N++)] = Px[X].g;
          Out[static_cast<size_t>(N++)] = Px[X].b;
        }
      }
    }
    SafeStreamWrite(S, Abort, Out.data(), N);
    ++Prog.Pass;
    QLProgress(Prog, QLTrunc(Prog.Pass * Prog.StepFactor));
  }
}

}  // namespace

bool TryPXM(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  bool Result = false;
  try {
    TQLByteReader R(Stream, 4096);
    // Detection reads at most this much, however long the leading separators or comments.
    int64_t Budget = 65536;
    int32_t Tokens = 0;
    TTok T;
    do {
      T = NextToken(R, &Budget);
      ++Tokens;
    } while (T.Kind == TTokKind::Comment && Tokens < 501);
    const int32_t Magic = MagicNumber(T);
    if (Magic) {
      int64_t W = ParseNumber(NextValue(R, nullptr, &Budget).Text);
      int64_t H = ParseNumber(NextValue(R, nullptr, &Budget).Text);
      Result = W > 0 && H > 0;
    }
  } catch (const Exception&) {
    Result = false;
  }
  Stream.SetPosition(Pos);
  return Result;
}

void PXMReadStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview) {
  QLGuarded(Progress, [&] { ReadPXM(Stream, Bitmap, Params, Progress, Preview); });
}

void PXMWriteStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress) {
  QLGuarded(Progress, [&] { WritePXM(Stream, Bitmap, Params, Progress); });
}

}  // namespace quillo
