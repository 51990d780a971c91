#include <gtest/gtest.h>

#include <cstring>

#include "quillo/core/lists.h"
#include "quillo/core/metadata.h"
#include "quillo/core/pixels.h"

using namespace quillo;

TEST(QLList, EdgeIndexesAndFlags) {
  TQLIntegerList L;
  EXPECT_EQ(L.Add(10), 0);
  EXPECT_EQ(L.Add(30), 1);
  L.Insert(1, 20);
  L.Insert(99, 40);  // past the end: appended
  L.Insert(-5, 0);   // before the start: first
  ASSERT_EQ(L.Count(), 5);
  for (int32_t I = 0; I < 5; ++I) EXPECT_EQ(L.GetItem(I), I * 10);
  EXPECT_EQ(L.Flags() & qlfItemsChanged, qlfItemsChanged);

  L.Delete(-1);
  L.Delete(L.Count());
  EXPECT_EQ(L.Count(), 5);
  L.SetItem(5, 99);  // ignored
  L.SetItem(0, 5);
  EXPECT_EQ(L.GetItem(0), 5);
  EXPECT_EQ(L.IndexOf(30), 3);
  EXPECT_EQ(L.IndexOf(31), -1);
  EXPECT_THROW(L.GetItem(5), EListError);

  L.SetCount(2);
  EXPECT_EQ(L.Count(), 2);
  EXPECT_EQ(L.GetItem(1), 10);
  L.SetCount(4);
  EXPECT_EQ(L.GetItem(3), 0);

  L.SetFlags(0);
  L.SetRangeMin(1);
  EXPECT_EQ(L.Flags(), qlfRangeChanged);
  L.SetCurrentValue(7);
  EXPECT_EQ(L.Flags(), qlfRangeChanged | qlfCurrentChanged);

  TQLIntegerList Copy;
  Copy.Assign(L);
  EXPECT_EQ(Copy.Count(), 4);
  EXPECT_EQ(Copy.GetCurrentValue(), 7);
  EXPECT_EQ(Copy.GetRangeMin(), 1);
  EXPECT_EQ(Copy.Flags(), L.Flags());

  L.Clear();
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(L.Flags(), 0);

  TQLDoubleList D;
  D.Add(2.5);
  EXPECT_EQ(D.GetItem(0), 2.5);

  struct Rec {
    int32_t A;
    int16_t B;
  };
  TQLRecordList R(sizeof(Rec));
  Rec X{1, 2};
  R.Add(&X);
  EXPECT_EQ(static_cast<Rec*>(R.GetItem(0))->B, 2);
  EXPECT_EQ(R.IndexOf(&X), 0);
  EXPECT_THROW(R.GetItem(1), EListError);
}

TEST(QLByteArray, GrowsInSteps) {
  TQLByteArray A;
  EXPECT_EQ(A.Capacity(), 8192);
  A.SetLength(8000);
  EXPECT_EQ(A.Capacity(), 8192);
  A[7999] = 42;
  A.SetLength(9000);
  EXPECT_EQ(A.Capacity(), 9000 + 8192);
  EXPECT_EQ(A[7999], 42);
  A.SetLength(1000);  // 1000 < 17192 - 8192: shrinks
  EXPECT_EQ(A.Capacity(), 1000 + 8192);
  A.SetLength(1000);  // not below capacity - 8192: stays
  EXPECT_EQ(A.Capacity(), 1000 + 8192);
  A.SetLength(999);  // below it: shrinks again
  EXPECT_EQ(A.Capacity(), 999 + 8192);
  A.AddByte(7);
  EXPECT_EQ(A.Length(), 1000);
  EXPECT_EQ(A[999], 7);

  TMemoryStream S;
  S.WriteBuffer("abcdef", 6);
  S.SetPosition(2);
  EXPECT_EQ(A.AppendFromStream(S, 100), 4);
  EXPECT_EQ(A.Length(), 1004);
  EXPECT_EQ(A[1003], 'f');
  A.Clear();
  EXPECT_EQ(A.Length(), 0);
}

TEST(NulStream, CountsWithoutStoring) {
  TNulStream S;
  char Buf[10] = {};
  EXPECT_EQ(S.Write(Buf, 10), 10);
  EXPECT_EQ(S.Seek(4, soFromBeginning), 4);
  EXPECT_EQ(S.GetSize(), 10);
  EXPECT_EQ(S.GetPosition(), 4);
  EXPECT_EQ(S.Read(Buf, 20), 20);
  EXPECT_EQ(S.GetSize(), 24);
  EXPECT_EQ(S.Seek(0, soFromEnd), 24);
  EXPECT_EQ(S.Seek(6, soFromCurrent), 30);
  EXPECT_EQ(S.GetSize(), 30);
}

TEST(MarkerList, EditingAndStreamFormat) {
  TQLMarkerList L;
  L.AddMarker(0xE1, "exif", 4);
  L.AddMarker(0xFE, "hi", 2);
  L.InsertMarker(0, "jfif!", 0xE0, 5);
  EXPECT_EQ(L.GetCount(), 3);
  EXPECT_EQ(L.IndexOf(0xFE), 2);
  EXPECT_EQ(L.IndexOf(0xED), -1);
  L.SetMarker(1, 0xED, "iptc", 4);
  EXPECT_EQ(L.GetMarkerType(1), 0xED);
  EXPECT_EQ(std::memcmp(L.GetMarkerData(1), "iptc", 4), 0);
  TMemoryStream& M = L.GetMarkerStream(0);
  EXPECT_EQ(M.GetPosition(), 0);
  EXPECT_EQ(M.GetSize(), 5);
  L.DeleteMarker(2);
  EXPECT_THROW(L.DeleteMarker(2), EListError);

  TMemoryStream S;
  L.SaveToStream(S);
  EXPECT_EQ(S.GetSize(), 1 + 4 + 2 * 5 + 5 + 4);
  S.SetPosition(0);
  TQLMarkerList Back;
  Back.AddMarker(1, "x", 1);  // loading clears first
  Back.LoadFromStream(S);
  ASSERT_EQ(Back.GetCount(), 2);
  EXPECT_EQ(Back.GetMarkerType(0), 0xE0);
  EXPECT_EQ(Back.GetMarkerLength(1), 4);

  TQLMarkerList Copy;
  Copy.Assign(L);
  EXPECT_EQ(Copy.GetMarkerLength(0), 5);
  EXPECT_NE(Copy.GetMarkerData(0), L.GetMarkerData(0));
}

TEST(MarkerList, GarbageStreamsFailCleanly) {
  // A count no stream of this size could hold, and a length past the end.
  TMemoryStream S;
  QLWriteByte(S, 0);
  QLWriteIntLE(S, 0x10000000);
  S.SetPosition(0);
  TQLMarkerList L;
  EXPECT_THROW(L.LoadFromStream(S), EReadError);
  TMemoryStream T;
  QLWriteByte(T, 0);
  QLWriteIntLE(T, 1);
  QLWriteByte(T, 0xE0);
  QLWriteIntLE(T, 1000);
  T.WriteBuffer("abc", 3);
  T.SetPosition(0);
  EXPECT_THROW(L.LoadFromStream(T), EReadError);
}

TEST(IPTCList, StandardBufferLayout) {
  TQLIPTCInfoList L;
  L.AddBufferItem(2, 5, "abc", 3);
  std::vector<uint8_t> Buf = L.SaveToStandardBuffer();
  ASSERT_EQ(Buf.size(), 34u);
  EXPECT_EQ(std::memcmp(Buf.data(),
                        "Photoshop 3.0\0"
                        "8BIM\x04\x04\0\0",
                        22),
            0);
  EXPECT_EQ(Buf[25], 8);  // size field, big-endian
  EXPECT_EQ(Buf[26], 0x1C);
  EXPECT_EQ(Buf[27], 2);
  EXPECT_EQ(Buf[28], 5);
  EXPECT_EQ(Buf[29], 0);
  EXPECT_EQ(Buf[30], 3);

  // Odd totals get one pad byte that the size field does not count.
  TQLIPTCInfoList Odd;
  Odd.AddStringItem(2, 120, "ab");
  Buf = Odd.SaveToStandardBuffer();
  EXPECT_EQ(Buf.size(), 34u);
  EXPECT_EQ(Buf[25], 7);
  EXPECT_EQ(Buf[33], 0);

  TQLIPTCInfoList Empty;
  Buf = Empty.SaveToStandardBuffer();
  EXPECT_EQ(Buf.size(), 26u);
  EXPECT_EQ(Buf[25], 0);

  // Record 2:0 (the record version) is never written.
  TQLIPTCInfoList Dropped;
  Dropped.AddStringItem(2, 0, "\x00\x04");
  Dropped.AddStringItem(2, 25, "key");
  Buf = Dropped.SaveToStandardBuffer();
  TQLIPTCInfoList Back;
  Back.LoadFromStandardBuffer(Buf.data(), static_cast<int32_t>(Buf.size()));
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.GetDataSet(0), 25);
}

TEST(IPTCList, LongRecordsUseTheExtendedLength) {
  TQLIPTCInfoList L;
  std::string Big(40000, 'q');
  L.AddStringItem(2, 120, Big);
  std::vector<uint8_t> Buf = L.SaveToStandardBuffer();
  EXPECT_EQ(Buf[26], 0x1C);
  EXPECT_EQ(Buf[29], 0x80);
  EXPECT_EQ(Buf[30], 0x04);
  EXPECT_EQ((Buf[33] << 8) | Buf[34], 40000);
  TQLIPTCInfoList Back;
  Back.LoadFromStandardBuffer(Buf.data(), static_cast<int32_t>(Buf.size()));
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.GetStrings(0), Big);
  EXPECT_FALSE(Back.GetUserChanged());
}

TEST(IPTCList, DecodingStopsAtTheFirstInconsistency) {
  TQLIPTCInfoList L;
  L.AddStringItem(2, 5, "title");
  L.AddStringItem(2, 80, "author");
  std::vector<uint8_t> Buf = L.SaveToStandardBuffer();
  // Cut into the second record's data: only the first survives.
  TQLIPTCInfoList Back;
  Back.LoadFromStandardBuffer(Buf.data(), static_cast<int32_t>(Buf.size()) - 4);
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.GetStrings(0), "title");
  // No 0x1C at all: empty.
  const uint8_t None[] = {1, 2, 3};
  Back.LoadFromStandardBuffer(None, 3);
  EXPECT_EQ(Back.Count(), 0);
  // A bare record stream without the resource header still decodes.
  const uint8_t Bare[] = {0, 0x1C, 2, 5, 0, 2, 'h', 'i', 0x1C, 2};
  Back.LoadFromStandardBuffer(Bare, sizeof(Bare));
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.GetStrings(0), "hi");
  // An empty record at the very end of the resource is kept.
  TQLIPTCInfoList EmptyLast;
  EmptyLast.AddStringItem(2, 5, "");
  std::vector<uint8_t> EBuf = EmptyLast.SaveToStandardBuffer();
  Back.LoadFromStandardBuffer(EBuf.data(), static_cast<int32_t>(EBuf.size()));
  EXPECT_EQ(Back.Count(), 1);
  // An extended length whose four bytes are missing stops cleanly.
  const uint8_t Cut[] = {0x1C, 2, 5, 0x80, 0x04, 0, 0};
  Back.LoadFromStandardBuffer(Cut, sizeof(Cut));
  EXPECT_EQ(Back.Count(), 0);
}

TEST(IPTCList, OtherResourcesBeforeTheRecordsAreSkipped) {
  // A resolution resource whose bytes include 0x1C comes before the IPTC resource.
  std::vector<uint8_t> Buf(std::begin("Photoshop 3.0"), std::end("Photoshop 3.0"));
  const uint8_t Res[] = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 4, 0x1C, 0x1C, 1, 2};
  Buf.insert(Buf.end(), std::begin(Res), std::end(Res));
  const uint8_t Iptc[] = {'8', 'B', 'I',  'M', 0x04, 0x04, 0, 0,   0,   0,
                          0,   7,   0x1C, 2,   105,  0,    2, 'o', 'k', 0};
  Buf.insert(Buf.end(), std::begin(Iptc), std::end(Iptc));
  TQLIPTCInfoList L;
  L.LoadFromStandardBuffer(Buf.data(), static_cast<int32_t>(Buf.size()));
  ASSERT_EQ(L.Count(), 1);
  EXPECT_EQ(L.GetDataSet(0), 105);
  EXPECT_EQ(L.GetStrings(0), "ok");
}

TEST(IPTCList, EditingSetsUserChangedAndStreamsRoundTrip) {
  TQLIPTCInfoList L;
  L.LoadFromStandardBuffer(nullptr, 0);
  EXPECT_FALSE(L.GetUserChanged());
  L.AddStringItem(2, 5, "b");
  L.InsertStringItem(0, 1, 90, "a");
  EXPECT_TRUE(L.GetUserChanged());
  EXPECT_EQ(L.GetRecordNumber(0), 1);
  EXPECT_EQ(L.GetDataSet(0), 90);
  EXPECT_EQ(L.IndexOf(2, 5), 1);
  L.SetStrings(1, "bee");

  TMemoryStream S;
  L.SaveToStream(S);
  EXPECT_EQ(S.GetSize(), 8 + 2 * 12 + 1 + 3);
  S.SetPosition(0);
  TQLIPTCInfoList Back;
  Back.LoadFromStream(S);
  ASSERT_EQ(Back.Count(), 2);
  EXPECT_EQ(Back.GetStrings(1), "bee");
  Back.DeleteItem(0);
  EXPECT_EQ(Back.Count(), 1);
  EXPECT_THROW(Back.DeleteItem(1), EListError);

  TMemoryStream Bad;
  QLWriteIntLE(Bad, 0);
  QLWriteIntLE(Bad, 1000000);
  Bad.SetPosition(0);
  EXPECT_THROW(Back.LoadFromStream(Bad), EReadError);
}
