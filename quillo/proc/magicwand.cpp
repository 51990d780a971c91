#include "quillo/proc/magicwand.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace quillo {

namespace {

// A span of a row waiting to be continued on row Y + Dir.
struct TSegment {
  int32_t Y, Left, Right, Dir;
};

// The region of similar colour around the seed, as a bit mask of the bitmap with the bounding
// box of its pixels (scanline seed fill, 4-connected, with an explicit segment stack).
class TFlood {
 public:
  TFlood(const TBitmap& B, int32_t Tolerance, const uint8_t* Seed)
      : FB(B),
        FW(B.GetWidth()),
        FH(B.GetHeight()),
        FTol(Tolerance),
        FStride(FW / 8 + 1),
        FMask(static_cast<size_t>(FStride) * FH) {
    FSeed[0] = Seed[0], FSeed[1] = Seed[1], FSeed[2] = Seed[2];
  }

  void Run(int32_t X, int32_t Y) {
    std::vector<TSegment> Stack;
    Stack.reserve(static_cast<size_t>(2) * FW);
    auto Push = [&](int32_t Sy, int32_t L, int32_t R, int32_t Dir) {
      if (Sy + Dir >= 0 && Sy + Dir < FH) Stack.push_back({Sy, L, R, Dir});
    };
    Push(Y, X, X, 1);
    Push(Y + 1, X, X, -1);
    while (!Stack.empty()) {
      const TSegment S = Stack.back();
      Stack.pop_back();
      const int32_t Row = S.Y + S.Dir, X1 = S.Left, X2 = S.Right, Dir = S.Dir;
      const uint8_t* Px = FB.ScanLine(Row);
      int32_t Cx = X1;
      while (Cx >= 0 && Belongs(Px, Cx, Row)) Mark(Cx--, Row);
      int32_t L = 0;
      bool Skip = Cx >= X1;
      if (!Skip) {
        L = Cx + 1;
        if (L < X1) Push(Row, L, X1 - 1, -Dir);  // leak on the left
        Cx = X1 + 1;
      }
      do {
        if (!Skip) {
          while (Cx < FW && Belongs(Px, Cx, Row)) Mark(Cx++, Row);
          Push(Row, L, Cx - 1, Dir);
          if (Cx > X2 + 1) Push(Row, X2 + 1, Cx - 1, -Dir);  // leak on the right
        }
        Skip = false;
        for (++Cx; Cx <= X2 && !Belongs(Px, Cx, Row); ++Cx) {
        }
        L = Cx;
      } while (Cx <= X2);
    }
  }

  bool Marked(int32_t X, int32_t Y) const {
    return FMask[static_cast<size_t>(Y) * FStride + X / 8] & (0x80 >> (X & 7));
  }

  int32_t MinX = std::numeric_limits<int32_t>::max(), MaxX = -1;
  int32_t MinY = std::numeric_limits<int32_t>::max(), MaxY = -1;

 private:
  bool Belongs(const uint8_t* Row, int32_t X, int32_t Y) const {
    if (Marked(X, Y)) return false;
    const uint8_t* P = Row + X * 3;
    return std::abs(P[0] - FSeed[0]) <= FTol && std::abs(P[1] - FSeed[1]) <= FTol &&
           std::abs(P[2] - FSeed[2]) <= FTol;
  }
  void Mark(int32_t X, int32_t Y) {
    FMask[static_cast<size_t>(Y) * FStride + X / 8] |= static_cast<uint8_t>(0x80 >> (X & 7));
    MinX = std::min(MinX, X), MaxX = std::max(MaxX, X);
    MinY = std::min(MinY, Y), MaxY = std::max(MaxY, Y);
  }

  const TBitmap& FB;
  int32_t FW, FH, FTol, FStride;
  std::vector<uint8_t> FMask;
  uint8_t FSeed[3];
};

// The region magnified four times with a margin: every pixel (i, j) of the box is the 4 x 4
// block of cells at columns 4i + 2 .. 4i + 5 and rows 4j + 2 .. 4j + 5. The outline runs
// through the border cells: empty cells with a 4-neighbour inside a block. Cells are evaluated
// from the box mask rather than stored, so the grid costs one visited bit per cell.
class TGrid {
 public:
  TGrid(std::vector<uint8_t> Box, int32_t BW, int32_t BH)
      : FBox(std::move(Box)),
        FBW(BW),
        FBH(BH),
        FGW(4 * static_cast<int64_t>(BW) + 4),
        FGH(4 * static_cast<int64_t>(BH) + 4),
        FVisited(static_cast<size_t>(FGW * FGH)) {}

  bool Inside(int64_t Cx, int64_t Cy) const {
    if (Cx < 2 || Cy < 2) return false;
    const int64_t I = (Cx - 2) / 4, J = (Cy - 2) / 4;
    return I < FBW && J < FBH && FBox[static_cast<size_t>(J * FBW + I)];
  }
  // A border cell not yet walked through.
  bool Open(int64_t Cx, int64_t Cy) const {
    if (Cx < 0 || Cy < 0 || Cx >= FGW || Cy >= FGH) return false;
    if (FVisited[static_cast<size_t>(Cy * FGW + Cx)] || Inside(Cx, Cy)) return false;
    return Inside(Cx - 1, Cy) || Inside(Cx + 1, Cy) || Inside(Cx, Cy - 1) || Inside(Cx, Cy + 1);
  }
  void Visit(int64_t Cx, int64_t Cy) { FVisited[static_cast<size_t>(Cy * FGW + Cx)] = true; }
  int64_t Width() const { return FGW; }
  int64_t Height() const { return FGH; }

 private:
  std::vector<uint8_t> FBox;
  int64_t FBW, FBH, FGW, FGH;
  std::vector<bool> FVisited;
};

constexpr int32_t kStepX[8] = {1, 0, -1, 0, 1, -1, -1, 1};
constexpr int32_t kStepY[8] = {0, -1, 0, 1, -1, -1, 1, 1};
constexpr uint8_t kCode[8] = {0, 2, 4, 6, 1, 3, 5, 7};
constexpr int32_t kCodeX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int32_t kCodeY[8] = {0, -1, -1, -1, 0, 1, 1, 1};

}  // namespace

std::vector<TPoint> _MakeMagicWandPoints(const TBitmap& Bitmap, int32_t X, int32_t Y,
                                         bool MaxFilter, int32_t Tolerance) {
  if (Bitmap.GetPixelFormat() != pf24bit || Tolerance < 0) return {};
  if (X < 0 || Y < 0 || X >= Bitmap.GetWidth() || Y >= Bitmap.GetHeight()) return {};
  TFlood Flood(Bitmap, Tolerance, Bitmap.ScanLine(Y) + X * 3);
  Flood.Run(X, Y);
  if (Flood.MaxX < 0) return {};

  // The region cropped to its bounding box, grown by one pixel inside the box when asked.
  const int32_t BW = Flood.MaxX - Flood.MinX + 1, BH = Flood.MaxY - Flood.MinY + 1;
  std::vector<uint8_t> Box(static_cast<size_t>(BW) * BH);
  for (int32_t J = 0; J < BH; ++J)
    for (int32_t I = 0; I < BW; ++I) {
      if (!Flood.Marked(Flood.MinX + I, Flood.MinY + J)) continue;
      if (!MaxFilter) {
        Box[static_cast<size_t>(J) * BW + I] = 1;
        continue;
      }
      for (int32_t Jj = std::max(J - 1, 0); Jj <= std::min(J + 1, BH - 1); ++Jj)
        for (int32_t Ii = std::max(I - 1, 0); Ii <= std::min(I + 1, BW - 1); ++Ii)
          Box[static_cast<size_t>(Jj) * BW + Ii] = 1;
    }
  TGrid Grid(std::move(Box), BW, BH);

  // The start: the border cell nearest the top-left corner of the border cells' bounding box,
  // the first in row-then-column order on equal distances. The cells lie in columns and rows
  // 1 .. 4 x size + 2 (the region touches every side of its box), so the corner is (1, 1) and
  // the search stops once rows and columns are farther than the best found.
  int64_t StartX = -1, StartY = -1, Best = std::numeric_limits<int64_t>::max();
  for (int64_t Cy = 1; Cy < Grid.Height() && (Cy - 1) * (Cy - 1) <= Best; ++Cy)
    for (int64_t Cx = 1; Cx < Grid.Width(); ++Cx) {
      const int64_t D = (Cx - 1) * (Cx - 1) + (Cy - 1) * (Cy - 1);
      if (D > Best) break;
      if (D < Best && Grid.Open(Cx, Cy)) Best = D, StartX = Cx, StartY = Cy;
    }
  if (StartX < 0) return {};
  Grid.Visit(StartX, StartY);

  // The walk along the border cells, preferring to keep its direction.
  std::vector<uint8_t> Codes;
  int64_t Px = StartX, Py = StartY;
  int32_t Prev = 4;
  for (;;) {
    if (Grid.Open(Px + kStepX[Prev], Py + kStepY[Prev])) {
      Px += kStepX[Prev], Py += kStepY[Prev];
      Grid.Visit(Px, Py);
      Codes.push_back(kCode[Prev]);
    }
    int32_t Found = -1;
    for (int32_t O = 0; O < 8 && Found < 0; ++O)
      if (Grid.Open(Px + kStepX[O], Py + kStepY[O])) Found = O;
    if (Found < 0) break;
    Px += kStepX[Found], Py += kStepY[Found];
    Grid.Visit(Px, Py);
    Codes.push_back(kCode[Found]);
    Prev = Found;
  }
  for (int32_t O = 0; O < 8; ++O)
    if (Px + kStepX[O] == StartX && Py + kStepY[O] == StartY) {
      Codes.push_back(kCode[O]);
      break;
    }

  // Vertices where the chain code changes, back on the bitmap's pixel corners.
  std::vector<TPoint> Points;
  int64_t Vx = StartX + 4 * static_cast<int64_t>(Flood.MinX) - 1;
  int64_t Vy = StartY + 4 * static_cast<int64_t>(Flood.MinY) - 1;
  auto Add = [&] {
    Points.push_back(TPoint{static_cast<int32_t>(Vx / 4), static_cast<int32_t>(Vy / 4)});
  };
  Add();
  for (size_t I = 0; I < Codes.size(); ++I) {
    if (I > 0 && Codes[I] != Codes[I - 1]) Add();
    Vx += kCodeX[Codes[I]], Vy += kCodeY[Codes[I]];
  }
  return Points;
}

}  // namespace quillo
