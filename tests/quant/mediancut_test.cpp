#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "quillo/quant/mediancut.h"
#include "quillo/quant/quantizer.h"
#include "tests/quant/quanttest.h"
#include "tests/support/testutil.h"

using namespace quillo;
using test::PixelAt;

namespace {

// A plain, slow reading of the median-cut rules, written apart from the library: marginals
// are recounted from the histogram for every box, sums are taken in doubles as the rules say.
class RefMedianCut {
 public:
  RefMedianCut(const TBitmap& Bmp, int NCol) : Hist(32768, 0) {
    for (int Y = 0; Y < Bmp.GetHeight(); ++Y)
      for (int X = 0; X < Bmp.GetWidth(); ++X) {
        TRGB C = PixelAt(Bmp, X, Y);
        ++Hist[(C.r >> 3) * 1024 + (C.g >> 3) * 32 + (C.b >> 3)];
      }
    Total = double(Bmp.GetWidth()) * Bmp.GetHeight();
    Box B0{};
    for (int C = 0; C < 3; ++C) B0.Lo[C] = 0, B0.Hi[C] = 32;
    B0.N = (long long)Total;
    Stats(B0);
    Boxes.push_back(B0);
    while ((int)Boxes.size() < NCol) {
      int J = -1;
      for (int I = 0; I < (int)Boxes.size(); ++I)
        if (Boxes[I].Err > 0 && (J < 0 || Boxes[I].Err > Boxes[J].Err)) J = I;
      if (J < 0) break;
      Split(J);
    }
    for (const Box& B : Boxes)
      Palette.push_back(CreateRGB(uint8_t(QLRound(B.Mean[0]) * 8), uint8_t(QLRound(B.Mean[1]) * 8),
                                  uint8_t(QLRound(B.Mean[2]) * 8)));
    Map.assign(32768, 0);
    for (int I = 0; I < (int)Boxes.size(); ++I)
      for (int Cell = 0; Cell < 32768; ++Cell)
        if (Inside(Boxes[I], Cell >> 10, (Cell >> 5) & 31, Cell & 31)) Map[Cell] = I;
  }

  std::vector<TRGB> Palette;
  std::vector<int> Map;

 private:
  struct Box {
    int Lo[3], Hi[3];
    long long N;
    double Mean[3];
    double Err;
  };
  using Marginals = std::array<std::array<long long, 32>, 3>;

  static bool Inside(const Box& B, int R, int G, int Bl) {
    int V[3] = {R, G, Bl};
    for (int C = 0; C < 3; ++C)
      if (V[C] < B.Lo[C] || V[C] >= B.Hi[C]) return false;
    return true;
  }
  Marginals Marg(const Box& B) const {
    Marginals M{};
    for (int Cell = 0; Cell < 32768; ++Cell) {
      int V[3] = {Cell >> 10, (Cell >> 5) & 31, Cell & 31};
      if (Hist[Cell] && Inside(B, V[0], V[1], V[2]))
        for (int C = 0; C < 3; ++C) M[C][V[C]] += Hist[Cell];
    }
    return M;
  }
  void Stats(Box& B) const {
    B.Err = 0;
    if (B.N == 0) return;
    Marginals M = Marg(B);
    double Sum = 0;
    for (int C = 0; C < 3; ++C) {
      double S1 = 0, S2 = 0;
      for (int V = B.Lo[C]; V < B.Hi[C]; ++V)
        S1 += double(V) * M[C][V], S2 += double(V) * V * M[C][V];
      B.Mean[C] = S1 / B.N;
      Sum += S2 - B.Mean[C] * B.Mean[C] * B.N;
    }
    B.Err = Sum / Total;
  }
  double Trial(const Box& P, int C, Box& F, Box& S) const {
    if (P.Lo[C] + 1 == P.Hi[C]) return 17523.6;
    auto H = Marg(P)[C];
    double M = P.Mean[C];
    long long Start = QLRound((P.Lo[C] + M) / 2), Stop = QLRound((P.Hi[C] + M) / 2);
    long long Cum = 0, Best = Start, BestN = P.N;
    for (long long V = P.Lo[C]; V < Start; ++V) Cum += H[V];
    double Acc = 0, BestScore = -1;
    for (long long V = Start; V <= Stop; ++V) {
      Cum += H[V];
      if (Cum == P.N) break;
      Acc = Acc + double(H[V] * V) / P.N;
      double Score = (double(Cum) / double(P.N - Cum)) * ((M - Acc) * (M - Acc));
      if (Score > BestScore) Best = V, BestN = Cum, BestScore = Score;
    }
    F = S = P;
    F.Hi[C] = int(Best + 1), F.N = BestN;
    S.Lo[C] = int(Best + 1), S.N = P.N - BestN;
    if (F.N == 0 || S.N == 0) return 17523.6;
    for (Box* B : {&F, &S}) {
      Marginals Mg = Marg(*B);
      for (int Ch = 0; Ch < 3; ++Ch) {
        int Lo = 32, Hi = 1;
        for (int V = 31; V >= 0; --V)
          if (Mg[Ch][V]) Lo = V;
        for (int V = 0; V < 32; ++V)
          if (Mg[Ch][V]) Hi = V + 1;
        B->Lo[Ch] = Lo, B->Hi[Ch] = Hi;
      }
      Stats(*B);
    }
    return F.Err + S.Err;
  }
  void Split(int J) {
    Box F[3], S[3];
    double Res[3];
    for (int C = 0; C < 3; ++C) Res[C] = Trial(Boxes[J], C, F[C], S[C]);
    int Axis = -1;
    for (int C = 0; C < 3 && Axis < 0; ++C) {
      bool Min = true;
      for (int D = 0; D < 3; ++D)
        if (D != C && C != 2 && Res[C] > Res[D]) Min = false;
      if (Res[C] < 17523.6 && Min) Axis = C;
    }
    if (Axis < 0) {
      Boxes[J].Err = 0;
      return;
    }
    Boxes[J] = F[Axis];
    Boxes.push_back(S[Axis]);
  }

  std::vector<long long> Hist;
  std::vector<Box> Boxes;
  double Total;
};

TRGB CellColor(int Cell) {
  return CreateRGB(uint8_t((Cell >> 10) << 3 | 5), uint8_t(((Cell >> 5) & 31) << 3 | 2),
                   uint8_t((Cell & 31) << 3 | 7));
}

void ExpectMatchesReference(const TBitmap& Bmp, int NCol) {
  SCOPED_TRACE(testing::Message() << Bmp.GetWidth() << "x" << Bmp.GetHeight() << " NCol " << NCol);
  RefMedianCut Ref(Bmp, NCol);
  std::vector<TRGB> Pal(256, CreateRGB(1, 2, 3));
  TMedianCutHandle H = CreateMedianCutQuantizer(Bmp, Pal.data(), 255, NCol);
  ASSERT_EQ(MedianCutColorCount(*H), (int)Ref.Palette.size());
  for (size_t I = 0; I < Ref.Palette.size(); ++I)
    EXPECT_EQ(Pal[I], Ref.Palette[I]) << "entry " << I;
  for (size_t I = Ref.Palette.size(); I < 256; ++I) EXPECT_EQ(Pal[I], CreateRGB(1, 2, 3));
  int Mismatches = 0;
  for (int Cell = 0; Cell < 32768; ++Cell)
    Mismatches += MedianCutFindIndex(H, CellColor(Cell)) != Ref.Map[Cell];
  EXPECT_EQ(Mismatches, 0);
}

}  // namespace

TEST(MedianCut, MatchesPlainReadingOfTheRules) {
  ExpectMatchesReference(test::PhotoLike(61, 47, 1), 16);
  ExpectMatchesReference(test::PhotoLike(80, 60, 2), 127);
  ExpectMatchesReference(test::PhotoLike(33, 20, 3), 2);
  ExpectMatchesReference(test::RandomBitmap24(40, 30, 4), 64);
  ExpectMatchesReference(test::RandomBitmap24(7, 5, 5), 100);
}

TEST(MedianCut, OneColourGivesOneBoxAndLeavesTheRestOfThePalette) {
  std::vector<TRGB> Pal(16, CreateRGB(9, 9, 9));
  TMedianCutHandle H =
      CreateMedianCutQuantizer(test::Solid(10, 10, CreateRGB(255, 255, 255)), Pal.data(), 15, 16);
  EXPECT_EQ(MedianCutColorCount(*H), 1);
  EXPECT_EQ(Pal[0], CreateRGB(248, 248, 248));
  for (int I = 1; I < 16; ++I) EXPECT_EQ(Pal[I], CreateRGB(9, 9, 9));
  EXPECT_EQ(MedianCutFindIndex(H, CreateRGB(248, 255, 250)), 0);
  FreeMedianCutQuantizer(H);
  EXPECT_FALSE(H);
  FreeMedianCutQuantizer(H);  // an empty handle is fine
}

TEST(MedianCut, BlackAndWhiteSplitInTwoAndOutsideColoursGiveZero) {
  // Halves at R cell 0 and 31: window 8..24, best cut at 8, both halves exact: error 0.
  TBitmap B = test::Solid(8, 4, CreateRGB(255, 255, 255));
  for (int Y = 0; Y < 2; ++Y)
    for (int X = 0; X < 8; ++X) test::SetPixel(B, X, Y, CreateRGB(0, 0, 0));
  std::vector<TRGB> Pal(4);
  TMedianCutHandle H = CreateMedianCutQuantizer(B, Pal.data(), 3, 4);
  EXPECT_EQ(MedianCutColorCount(*H), 2);
  EXPECT_EQ(Pal[0], CreateRGB(0, 0, 0));
  EXPECT_EQ(Pal[1], CreateRGB(248, 248, 248));
  EXPECT_EQ(MedianCutFindIndex(H, CreateRGB(7, 7, 7)), 0);
  EXPECT_EQ(MedianCutFindIndex(H, CreateRGB(250, 255, 249)), 1);
  // Mid grey lies between the shrunk boxes.
  EXPECT_EQ(MedianCutFindIndex(H, CreateRGB(128, 128, 128)), 0);
  EXPECT_EQ(MedianCutFindIndex(H, CreateRGB(255, 0, 255)), 0);
}

TEST(MedianCut, SingleValuedChannelsCannotBeCutSoGreenIsChosen) {
  // Red and blue all in cell 0: their trials fail, green's splits cleanly.
  TBitmap B = test::Solid(4, 4, CreateRGB(0, 0, 0));
  for (int X = 0; X < 4; ++X) test::SetPixel(B, X, 0, CreateRGB(0, 255, 0));
  std::vector<TRGB> Pal(8);
  TMedianCutHandle H = CreateMedianCutQuantizer(B, Pal.data(), 7, 8);
  EXPECT_EQ(MedianCutColorCount(*H), 2);
  EXPECT_EQ(Pal[0], CreateRGB(0, 0, 0));
  EXPECT_EQ(Pal[1], CreateRGB(0, 248, 0));
}

TEST(MedianCut, FewerCellsThanColoursStopsEarly) {
  TBitmap B = test::Solid(9, 3, CreateRGB(10, 200, 30));
  for (int X = 0; X < 9; ++X) test::SetPixel(B, X, 1, CreateRGB(240, 16, 100));
  for (int X = 0; X < 9; ++X) test::SetPixel(B, X, 2, CreateRGB(100, 100, 250));
  std::vector<TRGB> Pal(64);
  TMedianCutHandle H = CreateMedianCutQuantizer(B, Pal.data(), 63, 64);
  ASSERT_EQ(MedianCutColorCount(*H), 3);
  for (TRGB C : {CreateRGB(10, 200, 30), CreateRGB(240, 16, 100), CreateRGB(100, 100, 250)}) {
    TRGB P = Pal[MedianCutFindIndex(H, C)];
    EXPECT_EQ(P, CreateRGB(C.r & 0xF8, C.g & 0xF8, C.b & 0xF8));
  }
}

TEST(MedianCut, OtherPixelFormatsAreReadAsTheir24BitForm) {
  TBitmap B24 = test::PhotoLike(30, 20, 7);
  TBitmap B32;
  B32.Assign(B24);
  B32.SetPixelFormat(pf32bit);
  std::vector<TRGB> P1(32), P2(32);
  TMedianCutHandle H1 = CreateMedianCutQuantizer(B24, P1.data(), 31, 32);
  TMedianCutHandle H2 = CreateMedianCutQuantizer(B32, P2.data(), 31, 32);
  EXPECT_EQ(P1, P2);
}

TEST(MedianCut, EmptyImageGivesOneBlackEntry) {
  TBitmap B(0, 0, pf24bit);
  std::vector<TRGB> Pal(4, CreateRGB(1, 1, 1));
  TMedianCutHandle H = CreateMedianCutQuantizer(B, Pal.data(), 3, 4);
  EXPECT_EQ(MedianCutColorCount(*H), 1);
  EXPECT_EQ(Pal[0], CreateRGB(0, 0, 0));
  EXPECT_EQ(Pal[1], CreateRGB(1, 1, 1));
}
