#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "quillo/quant/quantizer.h"
#include "tests/quant/quanttest.h"
#include "tests/support/testutil.h"

using namespace quillo;
using test::PixelAt;

namespace {

// A plain, slow reading of the network rules, written apart from the library: one array of
// neurons, the contest as a single loop, and the sample of step i taken at pixel
// (i x step) mod (width x height).
class RefNetwork {
 public:
  RefNetwork(const TBitmap& Bmp, int NCol, int SampleFac) : N(NCol) {
    struct Neuron {
      int B, G, R, Bias, Freq;
    };
    std::vector<Neuron> Net(N);
    for (int I = 0; I < N; ++I) Net[I] = {I * 4096 / N, I * 4096 / N, I * 4096 / N, 0, 65536 / N};
    long long P = (long long)Bmp.GetWidth() * Bmp.GetHeight();
    long long Samples = P * 3 / (3 * SampleFac);
    long long Delta = Samples / 100 ? Samples / 100 : 1;
    int AlphaDec = 30 + (SampleFac - 1) / 3, Alpha = 1024, Radius = N / 8 * 64;
    int Step = P * 3 % 499 ? 499 : P * 3 % 491 ? 491 : P * 3 % 487 ? 487 : 503;
    auto RadOf = [](int Radius) { return Radius / 64 <= 1 ? 0 : Radius / 64; };
    auto Power = [&](int K) {
      int Rad = RadOf(Radius);
      return Alpha * (((Rad * Rad - K * K) * 256) / (Rad * Rad));
    };
    for (long long I = 0; I < Samples; ++I) {
      long long Pix = (I * Step) % P;
      TRGB C = PixelAt(Bmp, int(Pix % Bmp.GetWidth()), int(Pix / Bmp.GetWidth()));
      int B = C.b * 16, G = C.g * 16, R = C.r * 16;
      int BestD = 0x7FFFFFFF, BestBD = 0x7FFFFFFF, Best = -1, BestB = -1;
      for (int K = 0; K < N; ++K) {
        Neuron& Q = Net[K];
        int D = std::abs(Q.B - B) + std::abs(Q.G - G) + std::abs(Q.R - R);
        if (D < BestD) BestD = D, Best = K;
        int BD = D - (Q.Bias >> 12);
        if (BD < BestBD) BestBD = BD, BestB = K;
        int BetaFreq = Q.Freq >> 10;
        Q.Freq -= BetaFreq;
        Q.Bias += BetaFreq * 1024;
      }
      Net[Best].Freq += 64;
      Net[Best].Bias -= 65536;
      auto Move = [&](Neuron& Q, int A, int Div) {
        Q.B -= (Q.B - B) * A / Div, Q.G -= (Q.G - G) * A / Div, Q.R -= (Q.R - R) * A / Div;
      };
      Move(Net[BestB], Alpha, 1024);
      int Rad = RadOf(Radius);
      for (int K = 1; K < Rad; ++K) {
        if (BestB + K < N) Move(Net[BestB + K], Power(K), 262144);
        if (BestB - K >= 0) Move(Net[BestB - K], Power(K), 262144);
      }
      if ((I + 1) % Delta == 0) Alpha -= Alpha / AlphaDec, Radius -= Radius / 30;
    }
    for (const Neuron& Q : Net)
      Palette.push_back(TRGB{uint8_t(Q.B >> 4), uint8_t(Q.G >> 4), uint8_t(Q.R >> 4)});
    // The green-sorted search order and its start table.
    for (int I = 0; I < N; ++I) Order.push_back(I);
    int Previous = 0, StartPos = 0;
    for (int I = 0; I < N; ++I) {
      int Small = I;
      for (int J = I + 1; J < N; ++J)
        if (Palette[Order[J]].g < Palette[Order[Small]].g) Small = J;
      std::swap(Order[I], Order[Small]);
      int S = Palette[Order[I]].g;
      if (S != Previous) {
        Index[Previous] = (StartPos + I) / 2;
        for (int V = Previous + 1; V < S; ++V) Index[V] = I;
        Previous = S, StartPos = I;
      }
    }
    Index[Previous] = (StartPos + N - 1) / 2;
    for (int V = Previous + 1; V < 256; ++V) Index[V] = N - 1;
  }

  int Lookup(TRGB C) const {
    int BestD = 1000, Best = -1;
    auto Try = [&](int Pos) {
      const TRGB& Q = Palette[Order[Pos]];
      int D = std::abs(Q.g - C.g) + std::abs(Q.b - C.b);
      if (D < BestD && D + std::abs(Q.r - C.r) < BestD)
        BestD = D + std::abs(Q.r - C.r), Best = Order[Pos];
    };
    for (int I = Index[C.g], J = I - 1; I < N || J >= 0;) {
      if (I < N) {
        if (Palette[Order[I]].g - C.g >= BestD)
          I = N;
        else
          Try(I++);
      }
      if (J >= 0) {
        if (C.g - Palette[Order[J]].g >= BestD)
          J = -1;
        else
          Try(J--);
      }
    }
    return Best;
  }

  int N;
  std::vector<TRGB> Palette;
  std::vector<int> Order;
  int Index[256] = {};
};

std::vector<TRGB> SomeColours(const TBitmap& B, uint32_t Seed, int Count) {
  std::vector<TRGB> Out;
  std::mt19937 Rng(Seed);
  for (int I = 0; I < Count; ++I) {
    uint32_t V = Rng();
    Out.push_back(TRGB{uint8_t(V), uint8_t(V >> 8), uint8_t(V >> 16)});
  }
  for (int Y = 0; Y < B.GetHeight(); ++Y)
    for (int X = 0; X < B.GetWidth(); ++X) Out.push_back(PixelAt(B, X, Y));
  Out.push_back(CreateRGB(0, 0, 0));
  Out.push_back(CreateRGB(255, 255, 255));
  return Out;
}

void ExpectMatchesReference(const TBitmap& Bmp, int NCol, int Quality) {
  SCOPED_TRACE(testing::Message() << Bmp.GetWidth() << "x" << Bmp.GetHeight() << " NCol " << NCol
                                  << " Quality " << Quality);
  std::vector<TRGB> Pal(NCol);
  TQLQuantizer Q(Bmp, Pal.data(), 255, NCol, Quality);
  ASSERT_EQ(Q.GetMethod(), 0);
  int64_t P = int64_t(Bmp.GetWidth()) * Bmp.GetHeight();
  RefNetwork Ref(Bmp, NCol, TQLQuantizer::SampleFactor(P, Quality));
  ASSERT_EQ(Pal, Ref.Palette);
  int Mismatches = 0;
  // Twice, so that the second round is answered from the cache.
  for (int Round = 0; Round < 2; ++Round)
    for (TRGB C : SomeColours(Bmp, 99, 20000)) Mismatches += Q.GetRGBIndex(C) != Ref.Lookup(C);
  // The row lookup the writers use gives the same answers.
  std::vector<int32_t> Row(Bmp.GetWidth());
  for (int Y = 0; Y < Bmp.GetHeight(); ++Y) {
    Q.GetRGBIndexes(Bmp.ScanLine(Y), Bmp.GetWidth(), Row.data());
    for (int X = 0; X < Bmp.GetWidth(); ++X) Mismatches += Row[X] != Ref.Lookup(PixelAt(Bmp, X, Y));
  }
  EXPECT_EQ(Mismatches, 0);
}

}  // namespace

TEST(Quantizer, NetworkMatchesPlainReadingOfTheRules) {
  ExpectMatchesReference(test::PhotoLike(40, 40, 1), 256, -1);   // samplefac 1
  ExpectMatchesReference(test::PhotoLike(120, 90, 2), 256, -1);  // samplefac 2
  ExpectMatchesReference(test::PhotoLike(64, 50, 3), 128, 0);    // one pixel in 30
  ExpectMatchesReference(test::PhotoLike(64, 50, 4), 200, 100);  // every pixel
  ExpectMatchesReference(test::PhotoLike(70, 40, 5), 256, 50);
  ExpectMatchesReference(test::RandomBitmap24(53, 31, 6), 256, 100);
  // Fewer pixels than the step and fewer than 100 samples: the position wraps past the end
  // and the rates decay after every sample.
  ExpectMatchesReference(test::RandomBitmap24(7, 5, 7), 256, -1);
  ExpectMatchesReference(test::Solid(3, 3, CreateRGB(10, 20, 30)), 128, -1);
  // More entries than a byte can index: answered without the colour cache.
  ExpectMatchesReference(test::PhotoLike(50, 40, 14), 300, 100);
}

TEST(Quantizer, NetworkOnAWidthMultipleOfThePrimes) {
  // 499 x 4 pixels: 3 x 1996 is a multiple of 499, so the step falls back to 491.
  ExpectMatchesReference(test::PhotoLike(499, 4, 8), 256, 100);
}

TEST(Quantizer, EngineFollowsTheColourCount) {
  TBitmap B = test::PhotoLike(40, 30, 9);
  std::vector<TRGB> Pal(256);
  TQLQuantizer Q127(B, Pal.data(), 255, 127, -1, 0);
  EXPECT_EQ(Q127.GetMethod(), 1);
  EXPECT_EQ(Q127.GetSampleFac(), 0);
  EXPECT_LE(Q127.GetColorCount(), 127);
  for (int I = 0; I < Q127.GetColorCount(); ++I) EXPECT_EQ(Pal[I].g % 8, 0);
  TQLQuantizer Q128(B, Pal.data(), 255, 128, -1, 1);  // Method does not override
  EXPECT_EQ(Q128.GetMethod(), 0);
  EXPECT_EQ(Q128.GetColorCount(), 128);
  TQLQuantizer Q256(B, Pal.data(), 255, 256);
  EXPECT_EQ(Q256.GetMethod(), 0);
}

TEST(Quantizer, SamplingFactor) {
  EXPECT_EQ(TQLQuantizer::SampleFactor(40 * 40, -1), 1);
  EXPECT_EQ(TQLQuantizer::SampleFactor(1999, -1), 1);
  EXPECT_EQ(TQLQuantizer::SampleFactor(2000, -1), 2);
  // Exact halves go to the even neighbour: 8.5 gives 8, 21.5 gives 22.
  EXPECT_EQ(TQLQuantizer::SampleFactor(76000, -1), 8);
  EXPECT_EQ(TQLQuantizer::SampleFactor(224000, -1), 22);
  EXPECT_EQ(TQLQuantizer::SampleFactor(1000 * 1000, -1), 30);  // 89.66 limited
  EXPECT_EQ(TQLQuantizer::SampleFactor(int64_t{1} << 40, -1), 30);
  EXPECT_EQ(TQLQuantizer::SampleFactor(500, 100), 1);
  EXPECT_EQ(TQLQuantizer::SampleFactor(500, 0), 30);
  EXPECT_EQ(TQLQuantizer::SampleFactor(500, 50), 15);  // trunc(14.5) + 1
  EXPECT_EQ(TQLQuantizer::SampleFactor(500, 90), 3);   // trunc(2.9) + 1
  // Out-of-range qualities stay within 1..30 instead of going negative.
  EXPECT_EQ(TQLQuantizer::SampleFactor(500, 250), 1);
  EXPECT_EQ(TQLQuantizer::SampleFactor(500, -7), 30);

  std::vector<TRGB> Pal(256);
  TQLQuantizer Small(test::PhotoLike(40, 40, 1), Pal.data(), 255, 256);
  EXPECT_EQ(Small.GetSampleFac(), 1);
  TQLQuantizer Big(test::PhotoLike(1000, 1000, 1), Pal.data(), 255, 256);
  EXPECT_EQ(Big.GetSampleFac(), 30);
}

TEST(Quantizer, PaletteColoursLookUpToThemselvesAndThePaletteStays) {
  TBitmap B = test::PhotoLike(90, 70, 10);
  for (int NCol : {16, 100, 128, 256}) {
    SCOPED_TRACE(NCol);
    std::vector<TRGB> Pal(NCol);
    TQLQuantizer Q(B, Pal.data(), 255, NCol);
    std::vector<TRGB> Before = Pal;
    for (int I = 0; I < Q.GetColorCount(); ++I) {
      int Idx = Q.GetRGBIndex(Pal[I]);
      ASSERT_GE(Idx, 0);
      ASSERT_LT(Idx, Q.GetColorCount());
      // Equal entries may stand for each other; the colour found is the one asked for.
      EXPECT_EQ(Pal[Idx], Pal[I]);
    }
    EXPECT_EQ(Pal, Before);
  }
}

TEST(Quantizer, SameInputSamePaletteAndIndexes) {
  TBitmap B = test::PhotoLike(150, 110, 11);
  for (int NCol : {64, 256}) {
    std::vector<TRGB> P1(NCol), P2(NCol);
    TQLQuantizer Q1(B, P1.data(), 255, NCol), Q2(B, P2.data(), 255, NCol);
    EXPECT_EQ(P1, P2);
    for (TRGB C : SomeColours(B, 5, 1000)) ASSERT_EQ(Q1.GetRGBIndex(C), Q2.GetRGBIndex(C));
  }
}

TEST(Quantizer, NonIndexableBitmapsAreReadAs24Bit) {
  TBitmap B24 = test::PhotoLike(50, 40, 12);
  TBitmap B8;
  B8.Assign(B24);
  B8.SetPixelFormat(pf8bit);
  TBitmap Back;
  Back.Assign(B8);
  Back.SetPixelFormat(pf24bit);
  std::vector<TRGB> P1(256), P2(256);
  TQLQuantizer Q1(B8, P1.data(), 255, 256), Q2(Back, P2.data(), 255, 256);
  EXPECT_EQ(P1, P2);
}

TEST(Quantizer, CachedAnswersEqualTheSearch) {
  // A small image gets the smallest cache, so runs of blues along each red-green pair keep
  // evicting each other; every answer, first or repeated, must be the search's.
  TBitmap B = test::PhotoLike(30, 30, 13);
  std::vector<TRGB> Pal(256);
  TQLQuantizer Q(B, Pal.data(), 255, 256);
  RefNetwork Ref(B, 256, Q.GetSampleFac());
  ASSERT_EQ(Pal, Ref.Palette);
  int Mismatches = 0;
  for (int Round = 0; Round < 2; ++Round)
    for (int R = 0; R < 256; R += 8)
      for (int G = 0; G < 256; G += 8)
        for (int Bl = 0; Bl < 256; ++Bl) {
          TRGB C = CreateRGB(uint8_t(R), uint8_t(G), uint8_t(Round ? 255 - Bl : Bl));
          Mismatches += Q.GetRGBIndex(C) != Ref.Lookup(C);
        }
  EXPECT_EQ(Mismatches, 0);
}
