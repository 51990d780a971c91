#include "quillo/core/metadata.h"

#include <cstring>
#include <limits>

#include "quillo/core/pixels.h"

namespace quillo {

namespace {
[[noreturn]] void IndexError(int32_t Index) {
  throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// TQLMarkerList

TQLMarkerList::TMarker TQLMarkerList::Make(uint8_t MarkerType, const void* Data, int32_t Length) {
  TMarker M;
  M.Type = MarkerType;
  M.Data = std::make_unique<TMemoryStream>();
  if (Length > 0 && Data) M.Data->WriteBuffer(Data, Length);
  M.Data->SetPosition(0);
  return M;
}

const TQLMarkerList::TMarker& TQLMarkerList::At(int32_t Index) const {
  if (Index < 0 || Index >= GetCount()) IndexError(Index);
  return FMarkers[static_cast<size_t>(Index)];
}

void TQLMarkerList::AddMarker(uint8_t MarkerType, const void* Data, int32_t Length) {
  FMarkers.push_back(Make(MarkerType, Data, Length));
}

void TQLMarkerList::SetMarker(int32_t Index, uint8_t MarkerType, const void* Data, int32_t Length) {
  At(Index);
  // Build first: Data may point into the marker being replaced.
  TMarker M = Make(MarkerType, Data, Length);
  FMarkers[static_cast<size_t>(Index)] = std::move(M);
}

void TQLMarkerList::InsertMarker(int32_t Index, const void* Data, uint8_t MarkerType,
                                 int32_t Length) {
  if (Index < 0 || Index > GetCount()) IndexError(Index);
  TMarker M = Make(MarkerType, Data, Length);
  FMarkers.insert(FMarkers.begin() + Index, std::move(M));
}

void TQLMarkerList::DeleteMarker(int32_t Index) {
  At(Index);
  FMarkers.erase(FMarkers.begin() + Index);
}

void TQLMarkerList::Clear() {
  FMarkers.clear();
}

int32_t TQLMarkerList::IndexOf(uint8_t MarkerType) const {
  for (size_t I = 0; I < FMarkers.size(); ++I)
    if (FMarkers[I].Type == MarkerType) return static_cast<int32_t>(I);
  return -1;
}

uint8_t TQLMarkerList::GetMarkerType(int32_t Index) const {
  return At(Index).Type;
}

const uint8_t* TQLMarkerList::GetMarkerData(int32_t Index) const {
  return At(Index).Data->Memory();
}

int32_t TQLMarkerList::GetMarkerLength(int32_t Index) const {
  return static_cast<int32_t>(At(Index).Data->GetSize());
}

TMemoryStream& TQLMarkerList::GetMarkerStream(int32_t Index) {
  TMemoryStream& S = *At(Index).Data;
  S.SetPosition(0);
  return S;
}

void TQLMarkerList::Assign(const TQLMarkerList& Source) {
  if (&Source == this) return;
  Clear();
  for (const TMarker& M : Source.FMarkers)
    AddMarker(M.Type, M.Data->Memory(), static_cast<int32_t>(M.Data->GetSize()));
}

void TQLMarkerList::SaveToStream(TStream& Stream) const {
  QLWriteByte(Stream, 0);
  QLWriteIntLE(Stream, GetCount());
  for (const TMarker& M : FMarkers) {
    QLWriteByte(Stream, M.Type);
    QLWriteIntLE(Stream, static_cast<int32_t>(M.Data->GetSize()));
    M.Data->SaveToStream(Stream);
  }
}

void TQLMarkerList::LoadFromStream(TStream& Stream) {
  Clear();
  QLReadByte(Stream);  // version
  int32_t Count = QLReadIntLE(Stream);
  // Each marker takes at least 5 bytes; a count the stream cannot hold is garbage.
  if (Count < 0 || static_cast<int64_t>(Count) * 5 > Stream.Remaining())
    throw EReadError("Marker count beyond the stream");
  for (int32_t I = 0; I < Count; ++I) {
    uint8_t Type = QLReadByte(Stream);
    int32_t Len = QLReadIntLE(Stream);
    if (Len < 0 || Len > Stream.Remaining()) throw EReadError("Marker length beyond the stream");
    TMarker M;
    M.Type = Type;
    M.Data = std::make_unique<TMemoryStream>();
    M.Data->SetSize(Len);
    Stream.ReadBuffer(M.Data->Memory(), Len);
    FMarkers.push_back(std::move(M));
  }
}

// ---------------------------------------------------------------------------------------------
// TQLIPTCInfoList

TQLIPTCInfoList::TItem& TQLIPTCInfoList::At(int32_t Index) {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  return FItems[static_cast<size_t>(Index)];
}

const TQLIPTCInfoList::TItem& TQLIPTCInfoList::At(int32_t Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  return FItems[static_cast<size_t>(Index)];
}

void TQLIPTCInfoList::AddStringItem(int32_t RecordNumber, int32_t DataSet,
                                    const std::string& Text) {
  FItems.push_back(TItem{RecordNumber, DataSet, Text});
  FUserChanged = true;
}

void TQLIPTCInfoList::AddBufferItem(int32_t RecordNumber, int32_t DataSet, const void* Buffer,
                                    int32_t Length) {
  TItem Item{RecordNumber, DataSet, {}};
  if (Buffer && Length > 0) Item.Data.assign(static_cast<const char*>(Buffer), Length);
  FItems.push_back(std::move(Item));
  FUserChanged = true;
}

void TQLIPTCInfoList::InsertStringItem(int32_t Index, int32_t RecordNumber, int32_t DataSet,
                                       const std::string& Text) {
  if (Index < 0 || Index > Count()) IndexError(Index);
  FItems.insert(FItems.begin() + Index, TItem{RecordNumber, DataSet, Text});
  FUserChanged = true;
}

void TQLIPTCInfoList::DeleteItem(int32_t Index) {
  At(Index);
  FItems.erase(FItems.begin() + Index);
  FUserChanged = true;
}

void TQLIPTCInfoList::Clear() {
  FItems.clear();
  FUserChanged = true;
}

int32_t TQLIPTCInfoList::IndexOf(int32_t RecordNumber, int32_t DataSet) const {
  for (size_t I = 0; I < FItems.size(); ++I)
    if (FItems[I].RecordNumber == RecordNumber && FItems[I].DataSet == DataSet)
      return static_cast<int32_t>(I);
  return -1;
}

int32_t TQLIPTCInfoList::GetRecordNumber(int32_t Index) const {
  return At(Index).RecordNumber;
}
void TQLIPTCInfoList::SetRecordNumber(int32_t Index, int32_t Value) {
  At(Index).RecordNumber = Value;
  FUserChanged = true;
}
int32_t TQLIPTCInfoList::GetDataSet(int32_t Index) const {
  return At(Index).DataSet;
}
void TQLIPTCInfoList::SetDataSet(int32_t Index, int32_t Value) {
  At(Index).DataSet = Value;
  FUserChanged = true;
}
const std::string& TQLIPTCInfoList::GetStrings(int32_t Index) const {
  return At(Index).Data;
}
void TQLIPTCInfoList::SetStrings(int32_t Index, const std::string& Value) {
  At(Index).Data = Value;
  FUserChanged = true;
}

void TQLIPTCInfoList::Assign(const TQLIPTCInfoList& Source) {
  if (&Source == this) return;
  FItems = Source.FItems;
  FUserChanged = true;
}

void TQLIPTCInfoList::SaveToStream(TStream& Stream) const {
  QLWriteIntLE(Stream, 0);
  QLWriteIntLE(Stream, Count());
  for (const TItem& I : FItems) {
    QLWriteIntLE(Stream, I.RecordNumber);
    QLWriteIntLE(Stream, I.DataSet);
    QLWriteIntLE(Stream, static_cast<int32_t>(I.Data.size()));
    Stream.WriteBuffer(I.Data.data(), static_cast<int64_t>(I.Data.size()));
  }
}

void TQLIPTCInfoList::LoadFromStream(TStream& Stream) {
  FItems.clear();
  FUserChanged = true;
  QLReadIntLE(Stream);  // version
  int32_t N = QLReadIntLE(Stream);
  // Each item takes at least 12 bytes.
  if (N < 0 || static_cast<int64_t>(N) * 12 > Stream.Remaining())
    throw EReadError("IPTC item count beyond the stream");
  for (int32_t I = 0; I < N; ++I) {
    TItem Item;
    Item.RecordNumber = QLReadIntLE(Stream);
    Item.DataSet = QLReadIntLE(Stream);
    int32_t Len = QLReadIntLE(Stream);
    if (Len < 0 || Len > Stream.Remaining()) throw EReadError("IPTC item length beyond the stream");
    Item.Data.resize(static_cast<size_t>(Len));
    Stream.ReadBuffer(Item.Data.data(), Len);
    FItems.push_back(std::move(Item));
  }
}

namespace {
constexpr char kPhotoshopSig[] = "Photoshop 3.0";  // followed by a zero byte
constexpr int32_t kHeaderSize = 26;

void PutBE32(uint8_t* P, uint32_t V) {
  P[0] = static_cast<uint8_t>(V >> 24);
  P[1] = static_cast<uint8_t>(V >> 16);
  P[2] = static_cast<uint8_t>(V >> 8);
  P[3] = static_cast<uint8_t>(V);
}

uint32_t GetBE32(const uint8_t* P) {
  return (static_cast<uint32_t>(P[0]) << 24) | (static_cast<uint32_t>(P[1]) << 16) |
         (static_cast<uint32_t>(P[2]) << 8) | P[3];
}

// Where the IPTC records of a Photoshop resource block begin and end. A block of several
// resources may hold other resources (resolution, digests) before the IPTC one, whose bytes
// could be mistaken for a record start; walking the resource headers avoids that. False when
// the buffer is not a well-formed resource block.
bool FindIPTCResource(const uint8_t* B, int32_t Length, int32_t& Start, int32_t& End) {
  const int32_t SigLen = static_cast<int32_t>(sizeof(kPhotoshopSig));  // with the zero byte
  if (Length < SigLen || std::memcmp(B, kPhotoshopSig, static_cast<size_t>(SigLen)) != 0)
    return false;
  int64_t P = SigLen;
  while (P + 12 <= Length) {
    if (std::memcmp(B + P, "8BIM", 4) != 0) return false;
    uint32_t Id = (static_cast<uint32_t>(B[P + 4]) << 8) | B[P + 5];
    int64_t NameLen = B[P + 6];
    // Pascal name padded to an even total (length byte included).
    int64_t NameField = (NameLen + 2) & ~int64_t{1};
    int64_t SizePos = P + 6 + NameField;
    if (SizePos + 4 > Length) return false;
    int64_t Size = GetBE32(B + SizePos);
    int64_t DataPos = SizePos + 4;
    if (DataPos + Size > Length) return false;
    if (Id == 0x0404) {
      Start = static_cast<int32_t>(DataPos);
      End = static_cast<int32_t>(DataPos + Size);
      return true;
    }
    P = DataPos + Size + (Size & 1);
  }
  return false;
}
}  // namespace

std::vector<uint8_t> TQLIPTCInfoList::SaveToStandardBuffer() const {
  std::vector<uint8_t> Buf(kHeaderSize, 0);
  std::memcpy(Buf.data(), kPhotoshopSig, sizeof(kPhotoshopSig));
  std::memcpy(Buf.data() + 14, "8BIM", 4);
  Buf[18] = 0x04;
  Buf[19] = 0x04;
  uint32_t Total = 0;
  for (const TItem& I : FItems) {
    if (I.RecordNumber == 2 && I.DataSet == 0) continue;  // never written
    uint32_t Len = static_cast<uint32_t>(I.Data.size());
    Buf.push_back(0x1C);
    Buf.push_back(static_cast<uint8_t>(I.RecordNumber));
    Buf.push_back(static_cast<uint8_t>(I.DataSet));
    if (Len < 0x8000) {
      Buf.push_back(static_cast<uint8_t>(Len >> 8));
      Buf.push_back(static_cast<uint8_t>(Len));
      Total += 5;
    } else {
      Buf.push_back(0x80);
      Buf.push_back(0x04);
      uint8_t L[4];
      PutBE32(L, Len);
      Buf.insert(Buf.end(), L, L + 4);
      Total += 9;
    }
    Buf.insert(Buf.end(), I.Data.begin(), I.Data.end());
    Total += Len;
  }
  if (Buf.size() & 1) Buf.push_back(0);
  PutBE32(Buf.data() + 22, Total);
  return Buf;
}

void TQLIPTCInfoList::LoadFromStandardBuffer(const void* Buffer, int32_t Length) {
  FItems.clear();
  const auto* B = static_cast<const uint8_t*>(Buffer);
  if (!B || Length <= 0) {
    FUserChanged = false;
    return;
  }
  int32_t Start = 0, End = Length;
  if (!FindIPTCResource(B, Length, Start, End)) {
    Start = 0;
    End = Length;
  }
  int64_t I = Start;
  while (I < End && B[I] != 0x1C) ++I;
  // A record header is 5 bytes; one that ends exactly at the end (empty data) still counts.
  while (I + 5 <= End && B[I] == 0x1C) {
    int32_t Rec = B[I + 1], DataSet = B[I + 2];
    int64_t DataPos, Len;
    if (B[I + 3] & 0x80) {
      if (I + 9 > End) break;
      int32_t Signed = static_cast<int32_t>(GetBE32(B + I + 5));
      if (Signed == std::numeric_limits<int32_t>::min()) break;
      Len = Signed < 0 ? -static_cast<int64_t>(Signed) : Signed;
      DataPos = I + 9;
    } else {
      Len = (B[I + 3] << 8) | B[I + 4];
      DataPos = I + 5;
    }
    if (DataPos + Len > End) break;
    FItems.push_back(
        TItem{Rec, DataSet,
              std::string(reinterpret_cast<const char*>(B + DataPos), static_cast<size_t>(Len))});
    I = DataPos + Len;
  }
  FUserChanged = false;
}

}  // namespace quillo
