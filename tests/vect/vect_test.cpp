// The vector layer: placing by mouse, picking rules, grips, the rubber band, text editing,
// measures worked by hand, drawing at several zooms, the layer file (round trip, older
// versions, damage) and the DXF import.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "quillo/codecs/png.h"
#include "quillo/codecs/zstreams.h"
#include "quillo/core/params.h"
#include "quillo/platform/threads.h"
#include "quillo/vect/vect.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A 400 x 300 client (no border) over a white 400 x 300 bitmap at zoom 100, hosted.
struct Layer : ::testing::Test {
  TQuilloVect V;
  std::unique_ptr<TControlHost> Host;
  Layer() {
    V.SetBorderStyle(bsNone);
    V.SetBounds(0, 0, 400, 300);
    TBitmap B(400, 300, pf24bit);
    std::memset(B.ScanLine(B.GetHeight() - 1), 255, static_cast<size_t>(B.BitsSize()));
    V.Assign(&B);
    V.SetDelayZoomFilter(false);
    Host = std::make_unique<TControlHost>(V);
    Host->PaintAll();
  }
  TColor Pixel(int32_t X, int32_t Y) {
    Host->PaintAll();
    const uint8_t* P = V.Surface().ScanLine(Y) + 3 * X;
    return P[2] | (P[1] << 8) | (P[0] << 16);
  }
  int32_t Add(TQLVObjectKind K, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
    const int32_t h = V.AddNewObject();
    V.SetObjKind(h, K);
    V.SetObjRect(h, TRect{X1, Y1, X2, Y2});
    return h;
  }
};

TEST_F(Layer, PlacingByClickAndByDrag) {
  std::vector<int32_t> Made;
  V.OnNewObject = [&](TObject*, int32_t h) { Made.push_back(h); };
  V.SetMouseInteractVt(miPutBox);
  // The first click makes a template-sized (64 x 64) box at the click point.
  Host->Click(30, 40);
  ASSERT_EQ(Made.size(), 1u);
  EXPECT_EQ(V.GetObjKind(Made[0]), qlkBOX);
  EXPECT_EQ(V.GetObjRect(Made[0]), (TRect{30, 40, 93, 103}));
  EXPECT_TRUE(V.IsSelObject(Made[0]));
  // A drag from right to left makes an ordered box; the next click takes its size.
  Host->Drag(TPoint{200, 150}, TPoint{150, 120});
  ASSERT_EQ(Made.size(), 2u);
  EXPECT_EQ(V.GetObjRect(Made[1]), (TRect{150, 120, 200, 150}));
  Host->Click(10, 10);
  EXPECT_EQ(V.GetObjRect(Made[2]), (TRect{10, 10, 60, 40}));
  // A line keeps its direction; a new mode replaces the others.
  V.SetMouseInteractVt(miPutBox | miPutLine);
  EXPECT_EQ(V.GetMouseInteractVt(), miPutLine);
  Host->Drag(TPoint{300, 200}, TPoint{250, 180});
  EXPECT_EQ(V.GetObjRect(Made[3]), (TRect{300, 200, 250, 180}));
  // Setting the view's own mode keeps only the measuring modes.
  V.SetMouseInteractVt(miPutLine | miArea);
  V.SetMouseInteract(miSelect);
  EXPECT_EQ(V.GetMouseInteractVt() & ~miArea, 0);
}

TEST_F(Layer, PickingRules) {
  // Equal distance: the upper one wins.
  const int32_t A = Add(qlkLINE, 10, 50, 100, 50);
  const int32_t B = Add(qlkLINE, 10, 50, 100, 50);
  EXPECT_EQ(V.FindNearestObject(50, 60), B);
  V.SetObjFrontOf(A, B);
  EXPECT_EQ(V.FindNearestObject(50, 60), A);
  V.RemoveAllObjects();
  // A box with a clear brush is picked near its edges only; a solid one inside too.
  const int32_t Box = Add(qlkBOX, 100, 100, 200, 200);
  EXPECT_DOUBLE_EQ(V.ObjectDistance(Box, 150, 150), 50);
  V.SetObjBrushStyle(Box, bsSolid);
  EXPECT_DOUBLE_EQ(V.ObjectDistance(Box, 150, 150), 0);
  // An ellipse with a semi-axis of 1 pixel (no polygon) is never picked.
  V.RemoveAllObjects();
  const int32_t Thin = Add(qlkELLIPSE, 10, 10, 200, 12);
  EXPECT_EQ(V.ObjectDistance(Thin, 100, 11), 2147483647.0);
  EXPECT_EQ(V.FindNearestObject(100, 11), TQuilloVect::kNoObject);
  const int32_t Round = Add(qlkELLIPSE, 100, 100, 200, 200);
  // The vertices are truncated towards the centre: the polygon lies up to 1.5 pixels inside.
  EXPECT_NEAR(V.ObjectDistance(Round, 150, 150), 49, 1.5);
  EXPECT_NEAR(V.ObjectDistance(Round, 200, 150), 0, 1e-9);
  // Unselectable objects are not picked; a maximum distance limits the search.
  V.SetObjStyle(Round, qlvsVisible);
  EXPECT_EQ(V.FindNearestObject(150, 150), TQuilloVect::kNoObject);
  V.SetObjStyle(Round, 15);
  V.SetMaxSelectionDistance(10);
  EXPECT_EQ(V.FindNearestObject(150, 150), TQuilloVect::kNoObject);
  EXPECT_EQ(V.FindNearestObject(203, 150), Round);
}

TEST_F(Layer, StoreHandlesAndLists) {
  const int32_t A = Add(qlkBOX, 0, 0, 10, 10), B = Add(qlkBOX, 5, 5, 20, 20);
  const int32_t C = Add(qlkBOX, -5, -5, 10, 10);
  V.SetObjName(B, "b");
  V.SetObjID(C, 7);
  EXPECT_EQ(V.GetObjFromName("b"), B);
  EXPECT_EQ(V.GetObjFromID(7), C);
  EXPECT_EQ(V.GetObjFromName("none"), -1);
  // Objects with negative coordinates stay out of SelAllObjects.
  V.SelAllObjects();
  EXPECT_EQ(V.SelObjectsCount(), 2);
  EXPECT_FALSE(V.IsSelObject(C));
  EXPECT_EQ(V.GetObjectsExtents(), (TRect{0, 0, 21, 21}));
  // Removing a middle object leaves a hole never reused; removing the last shrinks the store.
  V.RemoveObject(B);
  EXPECT_FALSE(V.IsSelObject(B));
  EXPECT_EQ(V.AddNewObject(), 3);
  V.RemoveObject(3);
  EXPECT_EQ(V.AddNewObject(), 3);
  EXPECT_EQ(V.ZOrder(), (std::vector<int32_t>{A, C, 3}));
  V.SetObjBackTo(3, A);
  EXPECT_EQ(V.ZOrder(), (std::vector<int32_t>{3, A, C}));
  V.SetObjFrontOf(3, -1);
  EXPECT_EQ(V.ZOrder(), (std::vector<int32_t>{A, C, 3}));
  // Width and height are inclusive; left and top move keeping the size.
  V.SetObjLeft(A, 100);
  EXPECT_EQ(V.GetObjRect(A), (TRect{100, 0, 110, 10}));
  EXPECT_EQ(V.GetObjWidth(A), 11);
  V.SetObjHeight(A, 5);
  EXPECT_EQ(V.GetObjRect(A).Bottom, 4);
}

TEST_F(Layer, GripsRubberBandAndTextEditing) {
  const int32_t Box = Add(qlkBOX, 100, 100, 150, 140);
  V.SetMouseInteractVt(miObjectSelect);
  Host->Click(100, 120);  // on its left edge
  ASSERT_TRUE(V.IsSelObject(Box));
  // Grip 2 (bottom right) resizes; grip 3 (the centre) moves.
  Host->Drag(TPoint{150, 140}, TPoint{170, 160});
  EXPECT_EQ(V.GetObjRect(Box), (TRect{100, 100, 170, 160}));
  Host->Drag(TPoint{135, 130}, TPoint{145, 135});
  EXPECT_EQ(V.GetObjRect(Box), (TRect{110, 105, 180, 165}));
  // Without a pick distance the nearest object is always found; with one, a click far from
  // everything clears the selection. A band around the box selects it.
  Host->Click(390, 290);
  EXPECT_TRUE(V.IsSelObject(Box));
  V.SetMaxSelectionDistance(10);
  Host->Click(390, 290);
  EXPECT_EQ(V.SelObjectsCount(), 0);
  Host->Drag(TPoint{90, 90}, TPoint{200, 200});
  EXPECT_TRUE(V.IsSelObject(Box));
  // Text: placed by a click, edited in place; Return keeps the typing, Escape drops it.
  V.SetMouseInteractVt(miPutText);
  Host->Click(20, 20);
  const int32_t T = V.EditingText();
  ASSERT_GE(T, 0);
  ASSERT_NE(V.TextEditor(), nullptr);
  Host->Type("Hi");
  Host->Key(VK_RETURN);
  Application().ProcessMessages();
  EXPECT_EQ(V.EditingText(), -1);
  EXPECT_EQ(V.GetObjText(T), "Hi");
  V.SetMouseInteractVt(miObjectSelect);
  Host->DoubleClick(40, 40, mbLeft);
  ASSERT_EQ(V.EditingText(), T);
  Host->Type("xx");
  Host->Key(VK_ESCAPE);
  Application().ProcessMessages();
  EXPECT_EQ(V.GetObjText(T), "Hi");
}

TEST_F(Layer, MeasuresWorkedByHand) {
  // A 30 x 40 right triangle selected as a polygon: perimeter 120, area 600, centroid (10, 13).
  V.SetSelectionBase(qlsbBitmap);
  V.AddSelPoint(0, 0);
  V.AddSelPoint(30, 0);
  V.AddSelPoint(0, 40);
  V.EndSelect();
  EXPECT_DOUBLE_EQ(V.GetSelectionLen(), 120);
  EXPECT_DOUBLE_EQ(V.GetSelectionArea(), 600);
  EXPECT_EQ(V.GetSelectionCentroid(), (TPoint{10, 13}));
  // At 254 dpi one pixel is 0.1 mm: the same triangle measures 12 mm and 6 mm².
  V.SetDPI(254, 254);
  V.SetMUnit(qluMILLIMETERS);
  EXPECT_NEAR(V.CoefX(), 0.1, 1e-12);
  EXPECT_NEAR(V.GetSelectionLen(), 12, 1e-9);
  EXPECT_NEAR(V.GetSelectionArea(), 6, 1e-9);
  // A scale from a known length: 120 pixels are 3 m.
  V.SetMUnit(qluMETERS);
  V.SetScaleFromSelectionLen(3);
  EXPECT_NEAR(V.GetSelectionLen(), 3, 1e-9);
  EXPECT_EQ(V.FormatMeasure(3.14159), "3.14");
}

TEST_F(Layer, DrawingFollowsTheZoom) {
  const int32_t Box = Add(qlkBOX, 10, 10, 20, 20);
  V.SetObjPenColor(Box, clRed);
  V.SetObjPenWidth(Box, 1);
  EXPECT_EQ(Pixel(10, 15), clRed);
  EXPECT_EQ(Pixel(15, 15), clWhite);
  // At 400% the outline is 4 pixels wide and starts at 40.
  V.SetZoom(400);
  V.SetViewXY(0, 0);
  const int32_t X = V.XBmp2Scr(10), Y = V.YBmp2Scr(15);
  EXPECT_EQ(Pixel(X + 1, Y), clRed);
  EXPECT_EQ(Pixel(X + 8, Y), clWhite);
  V.SetZoomObjectsWidth(false);
  EXPECT_EQ(Pixel(X + 3, Y), clWhite);
  // At 50% the box is half as far from the origin; a solid brush fills it.
  V.SetZoom(50);
  V.SetObjBrushStyle(Box, bsSolid);
  V.SetObjBrushColor(Box, clBlue);
  EXPECT_EQ(Pixel(V.XBmp2Scr(15), V.YBmp2Scr(15)), clBlue);
  // An arrow head is a filled triangle at the line's end.
  V.SetZoom(100);
  V.RemoveAllObjects();
  const int32_t L = Add(qlkLINE, 50, 100, 250, 100);
  V.SetObjEndShape(L, qlsOUTARROW);
  V.SetObjPenColor(L, clBlack);
  EXPECT_EQ(Pixel(V.XBmp2Scr(235), V.YBmp2Scr(102)), clBlack);
  EXPECT_EQ(Pixel(V.XBmp2Scr(200), V.YBmp2Scr(103)), clWhite);
  // Hidden objects draw nothing; burning draws into the bitmap.
  V.SetAllObjectsHidden(true);
  EXPECT_EQ(Pixel(V.XBmp2Scr(150), V.YBmp2Scr(100)), clWhite);
  V.SetAllObjectsHidden(false);
  V.CopyObjectsToBack();
  EXPECT_EQ(V.Bitmap().ScanLine(100)[3 * 150], 0);
}

TEST_F(Layer, TextWithFontHeightZeroFillsTheBox) {
  const int32_t T = Add(qlkTEXT, 10, 10, 200, 60);
  V.SetObjText(T, "HHHH");
  V.SetObjFontHeight(T, 0);
  V.SetObjPenColor(T, clBlack);
  auto InkRows = [&] {
    Host->PaintAll();
    int32_t Top = 10000, Bottom = -1;
    const TRect R{V.XBmp2Scr(10) + 2, V.YBmp2Scr(10) + 2, V.XBmp2Scr(200) - 2, V.YBmp2Scr(60) - 2};
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
      for (int32_t X = R.Left; X < R.Right; ++X)
        if (V.Surface().ScanLine(Y)[3 * X] < 100)
          Top = std::min(Top, Y), Bottom = std::max(Bottom, Y);
    return Bottom - Top;
  };
  const int32_t At100 = InkRows();
  EXPECT_GT(At100, 20);
  V.SetZoom(200);
  V.SetViewXY(0, 0);
  EXPECT_NEAR(InkRows(), 2 * At100, 4);
}

TEST_F(Layer, LayerFileRoundTripKeepsEveryField) {
  const int32_t L = Add(qlkLINE, 1, 2, 3, 4);
  V.SetObjBeginShape(L, qlsINARROW);
  V.SetObjEndShape(L, qlsOUTARROW);
  V.SetObjShapeWidth(L, 7);
  V.SetObjShapeHeight(L, 9);
  V.SetObjName(L, "line");
  V.SetObjID(L, 42);
  V.SetObjPenColor(L, 0x123456);
  V.SetObjPenStyle(L, psDash);
  V.SetObjPenWidth(L, 3);
  V.SetObjBrushColor(L, 0x654321);
  V.SetObjStyle(L, qlvsVisible | qlvsSelectable);
  const int32_t A = Add(qlkARC, 10, 10, 50, 50);
  V.SetObjBeginAngle(A, 0.5);
  V.SetObjEndAngle(A, 2.5);
  const int32_t T = Add(qlkTEXT, 0, 0, 80, 20);
  V.SetObjText(T, "caption");
  V.SetObjTextAlign(T, 2);
  V.SetObjFontAngle(T, 30);
  V.SetObjFontStyles(T, fsBold | fsItalic);
  const int32_t R = Add(qlkRULER, 5, 5, 95, 5);
  V.SetObjRulerUnit(R, qluCENTIMETERS);
  V.SetObjRulerType(R, qlrtQUOTEEND);
  // Three bitmap objects share one picture; a fourth has its own.
  TBitmap Pic = RandomBitmap24(8, 6, 1), Other = RandomBitmap24(5, 5, 2);
  for (int32_t I = 0; I < 3; ++I) V.SetObjBitmap(Add(qlkBITMAP, I, I, I + 10, I + 10), &Pic);
  V.SetObjBitmap(Add(qlkBITMAP, 0, 0, 4, 4), &Other);
  V.SetScale(2.5);
  TMemoryStream S;
  V.SaveToStreamQLV(S);
  // The shared picture is stored once, with its count.
  TMemoryStream Copy;
  Copy.WriteBuffer(S.Memory(), S.GetSize());
  int32_t N = 0;
  std::memcpy(&N, static_cast<const uint8_t*>(S.Memory()) + 16, 4);
  TQuilloVect W;
  S.Seek(0, soFromBeginning);
  ASSERT_TRUE(W.LoadFromStreamQLV(S));
  EXPECT_DOUBLE_EQ(W.GetScale(), 2.5);
  ASSERT_EQ(W.ObjectsCount(), V.ObjectsCount());
  for (size_t I = 0; I < V.ZOrder().size(); ++I) {
    const TQLVObject &P = V.GetObject(V.ZOrder()[I]), &Q = W.GetObject(W.ZOrder()[I]);
    EXPECT_EQ(
        std::tie(P.X1, P.Y1, P.X2, P.Y2, P.Kind, P.BeginShape, P.EndShape, P.ShapeWidth,
                 P.ShapeHeight, P.PenColor, P.PenStyle, P.PenWidth, P.BrushColor, P.BrushStyle),
        std::tie(Q.X1, Q.Y1, Q.X2, Q.Y2, Q.Kind, Q.BeginShape, Q.EndShape, Q.ShapeWidth,
                 Q.ShapeHeight, Q.PenColor, Q.PenStyle, Q.PenWidth, Q.BrushColor, Q.BrushStyle))
        << I;
    if (P.Kind == qlkARC)
      EXPECT_EQ(std::tie(P.BeginAngle, P.EndAngle), std::tie(Q.BeginAngle, Q.EndAngle));
    EXPECT_EQ(P.Text, Q.Text);
    EXPECT_EQ(P.Name, Q.Name);
    EXPECT_EQ(P.ID, Q.ID);
    EXPECT_EQ(P.Style, Q.Style);
    EXPECT_EQ(P.TextAlign, Q.TextAlign);
    EXPECT_EQ(P.RulerUnit, Q.RulerUnit);
    EXPECT_EQ(P.RulerType, Q.RulerType);
    if (P.Kind == qlkTEXT) EXPECT_EQ(std::memcmp(&P.Font, &Q.Font, sizeof(TQLLogFont)), 0);
    if (P.Kind == qlkBITMAP)
      EXPECT_TRUE(SamePixels(*V.GetObjBitmap(V.ZOrder()[I]), *W.GetObjBitmap(W.ZOrder()[I])));
  }
  const int32_t Shared = W.GetObjBitmapIndex(W.ZOrder()[4]);
  EXPECT_EQ(W.GetObjBitmapIndex(W.ZOrder()[5]), Shared);
  EXPECT_EQ(W.BitmapTableRefs(Shared), 3);
  EXPECT_EQ(N, 3);  // the template's picture, the shared one, the other
  // Every cut of the file is refused and changes nothing.
  for (int64_t Cut = 0; Cut < Copy.GetSize(); Cut += 7) {
    TMemoryStream Part;
    Part.WriteBuffer(Copy.Memory(), Cut);
    Part.Seek(0, soFromBeginning);
    ASSERT_FALSE(W.LoadFromStreamQLV(Part)) << Cut;
    ASSERT_EQ(W.ObjectsCount(), V.ObjectsCount());
  }
}

// Builds a layer record of an older version byte by byte: one text object and one ruler.
std::vector<uint8_t> OldLayer(char Version, bool Group) {
  std::vector<uint8_t> Objects;
  auto Put = [&](const void* P, size_t N) {
    const auto* B = static_cast<const uint8_t*>(P);
    Objects.insert(Objects.end(), B, B + N);
  };
  auto I32 = [&](int32_t V) { Put(&V, 4); };
  auto U8 = [&](uint8_t V) { Put(&V, 1); };
  auto Head = [&](uint8_t Kind) {
    I32(1), I32(2), I32(30), I32(40), U8(Kind), I32(0), I32(5), I32(0xFF), U8(0), I32(2),
        I32(0xFFFFFF), U8(1), U8(15);
  };
  I32(Group ? 1 : 2);
  if (Group) Head(qlkNONE), I32(2);
  Head(qlkTEXT);
  if (Version >= '4') U8(1);
  I32(3), Put("abc", 3), U8(0);
  Head(qlkRULER);
  if (Version >= '5') U8(qluINCHES), U8(qlrtRULER);
  std::vector<uint8_t> Z;
  CompressBuf(Objects.data(), static_cast<int64_t>(Objects.size()), Z);
  std::vector<uint8_t> F = {'Q', 'L', 'V', static_cast<uint8_t>(Version)};
  const int32_t Len = 0, Count = 0;
  const double Scale = 1.5;
  F.insert(F.end(), reinterpret_cast<const uint8_t*>(&Len),
           reinterpret_cast<const uint8_t*>(&Len) + 4);
  F.insert(F.end(), reinterpret_cast<const uint8_t*>(&Scale),
           reinterpret_cast<const uint8_t*>(&Scale) + 8);
  F.insert(F.end(), reinterpret_cast<const uint8_t*>(&Count),
           reinterpret_cast<const uint8_t*>(&Count) + 4);
  F.insert(F.end(), Z.begin(), Z.end());
  return F;
}

TEST_F(Layer, OlderVersionsAndGroupsLoad) {
  for (char Version : {'3', '4', '5', '6'})
    for (bool Group : {false, true}) {
      const std::vector<uint8_t> F = OldLayer(Version, Group);
      TMemoryStream S;
      S.WriteBuffer(F.data(), static_cast<int64_t>(F.size()));
      S.Seek(0, soFromBeginning);
      ASSERT_TRUE(V.LoadFromStreamQLV(S)) << Version << Group;
      ASSERT_EQ(V.ObjectsCount(), 2);
      const int32_t T = V.ZOrder()[0], R = V.ZOrder()[1];
      EXPECT_EQ(V.GetObjText(T), "abc");
      EXPECT_EQ(V.GetObjTextAlign(T), Version >= '4' ? 1 : 0);
      EXPECT_EQ(V.GetObjRulerUnit(R), Version >= '5' ? qluINCHES : qluPIXELS);
      EXPECT_EQ(V.GetObjRulerType(R), Version >= '5' ? qlrtRULER : qlrtQUOTECENTER);
      EXPECT_EQ(V.GetObjID(T), 5);
      EXPECT_DOUBLE_EQ(V.GetScale(), 1.5);
    }
  // Another magic is refused.
  std::vector<uint8_t> F = OldLayer('5', false);
  F[3] = '7';
  TMemoryStream S;
  S.WriteBuffer(F.data(), static_cast<int64_t>(F.size()));
  S.Seek(0, soFromBeginning);
  EXPECT_FALSE(V.LoadFromStreamQLV(S));
  EXPECT_EQ(V.ObjectsCount(), 2);
}

TEST_F(Layer, DxfImportMapsTheDrawing) {
  TempDir Dir;
  // Extents 0..99 x 0..49 on a 400 x 300 bitmap: s = min(300 / 50, 400 / 100) = 4,
  // yoff = 300 - 49 x 4 = 104.
  std::ofstream(Dir.File("a.dxf")) << "0\nSECTION\n2\nHEADER\n9\n$EXTMIN\n10\n0.0\n20\n0.0\n"
                                      "9\n$EXTMAX\n10\n99.0\n20\n49.0\n0\nENDSEC\n"
                                      "0\nSECTION\n2\nENTITIES\n"
                                      "0\nLINE\n8\n0\n10\n10.5\n20\n20\n11\n30\n21\n40\n"
                                      "0\nCIRCLE\n8\n0\n10\n50\n20\n25\n40\n5\n"
                                      "0\nARC\n10\n50\n20\n25\n40\n5\n50\n90\n51\n180\n"
                                      "0\nPOINT\n10\n1\n20\n1\n"
                                      "0\nENDSEC\n0\nEOF\n";
  ASSERT_TRUE(V.ImportDXF(Dir.File("a.dxf")));
  ASSERT_EQ(V.ObjectsCount(), 3);
  const int32_t L = V.ZOrder()[0], C = V.ZOrder()[1], A = V.ZOrder()[2];
  EXPECT_EQ(V.GetObjKind(L), qlkLINE);
  EXPECT_EQ(V.GetObjRect(L), (TRect{42, 300 - 80 - 104, 120, 300 - 160 - 104}));
  EXPECT_EQ(V.GetObjKind(C), qlkELLIPSE);
  EXPECT_EQ(V.GetObjRect(C), (TRect{180, 300 - 120 - 104, 220, 300 - 80 - 104}));
  EXPECT_EQ(V.GetObjKind(A), qlkARC);
  EXPECT_DOUBLE_EQ(V.GetObjBeginAngle(A), 6.283185307179586 - M_PI / 2);
  EXPECT_DOUBLE_EQ(V.GetObjEndAngle(A), 6.283185307179586 - M_PI);
  // Not a drawing, a number that is not finite, a missing code: false, earlier objects kept.
  std::ofstream(Dir.File("b.dxf")) << "hello\nworld\n";
  EXPECT_FALSE(V.ImportDXF(Dir.File("b.dxf")));
  std::ofstream(Dir.File("c.dxf"))
      << "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n1\n20\nnan\n11\n1\n21\n1\n"
         "0\nENDSEC\n";
  EXPECT_FALSE(V.ImportDXF(Dir.File("c.dxf")));
  std::ofstream(Dir.File("d.dxf"))
      << "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n1e300\n20\n1\n11\n1\n21\n1\n"
         "0\nLINE\n10\n1\n20\n1\n";
  EXPECT_FALSE(V.ImportDXF(Dir.File("d.dxf")));
  EXPECT_EQ(V.ObjectsCount(), 4);
  EXPECT_EQ(V.GetObjRect(V.ZOrder()[3]).Left, 2147483647);
  EXPECT_FALSE(V.ImportDXF(Dir.File("missing.dxf")));
}

TEST_F(Layer, DxfFromAPeerDrawingProgram) {
  // Debian's package installs for the system's own interpreter.
  const std::string Py =
      std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  if (!PeerAvailable(RunCommand(Py + " -c 'import ezdxf' 2>/dev/null") == 0, "python3-ezdxf"))
    GTEST_SKIP();
  TempDir Dir;
  const std::string Script = Dir.File("make.py");
  std::ofstream(Script) << "import ezdxf, sys\n"
                           "doc = ezdxf.new('R2010')\n"
                           "m = doc.modelspace()\n"
                           "m.dxf.extmin = (0, 0, 0)\n"
                           "m.dxf.extmax = (199, 149, 0)\n"
                           "m.add_line((10, 10), (190, 140))\n"
                           "m.add_circle((100, 75), 20)\n"
                           "m.add_arc((100, 75), 30, 0, 90)\n"
                           "doc.saveas(sys.argv[1])\n";
  ASSERT_EQ(RunCommand(Py + " " + Script + " " + Dir.File("p.dxf")), 0);
  ASSERT_TRUE(V.ImportDXF(Dir.File("p.dxf")));
  ASSERT_EQ(V.ObjectsCount(), 3);
  // s = min(300 / 150, 400 / 200) = 2, yoff = 300 - 149 x 2 = 2.
  EXPECT_EQ(V.GetObjRect(V.ZOrder()[0]), (TRect{20, 300 - 20 - 2, 380, 300 - 280 - 2}));
  EXPECT_EQ(V.GetObjRect(V.ZOrder()[1]), (TRect{160, 300 - 190 - 2, 240, 300 - 110 - 2}));
  EXPECT_EQ(V.GetObjKind(V.ZOrder()[2]), qlkARC);
}

TEST_F(Layer, CopyAndAssignCarryBitmaps) {
  TBitmap Pic = RandomBitmap24(6, 6, 3);
  const int32_t B = Add(qlkBITMAP, 0, 0, 5, 5);
  V.SetObjBitmap(B, &Pic);
  Add(qlkBOX, 1, 1, 9, 9);
  TQuilloVect W;
  W.Assign(&V);
  ASSERT_EQ(W.ObjectsCount(), 2);
  EXPECT_TRUE(SamePixels(*W.GetObjBitmap(W.ZOrder()[0]), Pic));
  V.AddSelObject(B);
  TQuilloVect X;
  V.CopySelectedObjectsTo(X);
  EXPECT_EQ(X.ObjectsCount(), 1);
  // Releasing the last reference frees the entry.
  const int32_t Index = V.GetObjBitmapIndex(B);
  V.RemoveObject(B);
  EXPECT_EQ(V.BitmapTableEntry(Index), nullptr);
}

}  // namespace
