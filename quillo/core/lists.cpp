#include "quillo/core/lists.h"

#include <algorithm>

namespace quillo {

// ---------------------------------------------------------------------------------------------
// TQLList

TQLList::TQLList(int32_t ItemSize) : FItemSize(ItemSize < 1 ? 1 : ItemSize) {}

int32_t TQLList::AddItem(const void* Item) {
  InsertItem(FCount, Item);
  return FCount - 1;
}

void TQLList::InsertItem(int32_t Index, const void* Item) {
  if (Index < 0) Index = 0;
  if (Index > FCount) Index = FCount;
  const size_t Size = static_cast<size_t>(FItemSize);
  const auto* P = static_cast<const uint8_t*>(Item);
  // Copy first: Item may point into this list.
  std::vector<uint8_t> Copy(P, P + Size);
  FItems.insert(FItems.begin() + static_cast<ptrdiff_t>(Index) * FItemSize, Copy.begin(),
                Copy.end());
  FItems.shrink_to_fit();
  ++FCount;
  FFlags |= qlfItemsChanged;
}

void TQLList::Delete(int32_t Index) {
  if (Index < 0 || Index >= FCount) return;
  auto First = FItems.begin() + static_cast<ptrdiff_t>(Index) * FItemSize;
  FItems.erase(First, First + FItemSize);
  FItems.shrink_to_fit();
  --FCount;
  FFlags |= qlfItemsChanged;
}

void TQLList::BaseSetItem(int32_t Index, const void* Item) {
  if (Index < 0 || Index >= FCount) return;
  std::memmove(FItems.data() + static_cast<size_t>(Index) * FItemSize, Item,
               static_cast<size_t>(FItemSize));
  FFlags |= qlfItemsChanged;
}

int32_t TQLList::IndexOfItem(const void* Item) const {
  for (int32_t I = 0; I < FCount; ++I)
    if (std::memcmp(FItems.data() + static_cast<size_t>(I) * FItemSize, Item,
                    static_cast<size_t>(FItemSize)) == 0)
      return I;
  return -1;
}

void TQLList::SetCount(int32_t NewCount) {
  if (NewCount < 0) NewCount = 0;
  FItems.resize(static_cast<size_t>(NewCount) * FItemSize, 0);
  FItems.shrink_to_fit();
  FCount = NewCount;
  FFlags |= qlfItemsChanged;
}

void TQLList::Assign(const TQLList& Source) {
  if (&Source == this) return;
  FItemSize = Source.FItemSize;
  FCount = Source.FCount;
  FFlags = Source.FFlags;
  FItems = Source.FItems;
}

void TQLList::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
  FCount = 0;
  FFlags = 0;
}

void* TQLList::Item(int32_t Index) {
  if (Index < 0 || Index >= FCount) return nullptr;
  return FItems.data() + static_cast<size_t>(Index) * FItemSize;
}

const void* TQLList::Item(int32_t Index) const {
  if (Index < 0 || Index >= FCount) return nullptr;
  return FItems.data() + static_cast<size_t>(Index) * FItemSize;
}

void* TQLRecordList::GetItem(int32_t Index) {
  void* P = Item(Index);
  if (!P) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return P;
}

// ---------------------------------------------------------------------------------------------
// TQLByteArray

TQLByteArray::TQLByteArray() : FData(GrowthStep) {}

void TQLByteArray::SetLength(int32_t NewLength) {
  if (NewLength < 0) NewLength = 0;
  if (NewLength > Capacity()) {
    std::vector<uint8_t> Block(static_cast<size_t>(NewLength) + GrowthStep);
    std::copy_n(FData.begin(), FLength, Block.begin());
    FData = std::move(Block);
  } else if (NewLength < Capacity() - GrowthStep) {
    std::vector<uint8_t> Block(static_cast<size_t>(NewLength) + GrowthStep);
    std::copy_n(FData.begin(), std::min(FLength, NewLength), Block.begin());
    FData = std::move(Block);
  }
  FLength = NewLength;
}

void TQLByteArray::AddByte(uint8_t B) {
  SetLength(FLength + 1);
  FData[static_cast<size_t>(FLength - 1)] = B;
}

int32_t TQLByteArray::AppendFromStream(TStream& Stream, int32_t N) {
  if (N <= 0) return 0;
  int32_t Old = FLength;
  SetLength(Old + N);
  int32_t Got = static_cast<int32_t>(Stream.Read(FData.data() + Old, N));
  SetLength(Old + Got);
  return Got;
}

void TQLByteArray::Clear() {
  FData.assign(GrowthStep, 0);
  FLength = 0;
}

// ---------------------------------------------------------------------------------------------
// TNulStream

void TNulStream::Advance(int64_t Count) {
  FPosition += Count;
  if (FPosition < 0) FPosition = 0;
  if (FPosition > FSize) FSize = FPosition;
}

int64_t TNulStream::Read(void*, int64_t Count) {
  if (Count <= 0) return 0;
  Advance(Count);
  return Count;
}

int64_t TNulStream::Write(const void*, int64_t Count) {
  if (Count <= 0) return 0;
  Advance(Count);
  return Count;
}

int64_t TNulStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soFromBeginning:
      FPosition = 0;
      Advance(Offset);
      break;
    case soFromCurrent:
      Advance(Offset);
      break;
    case soFromEnd:
      FPosition = FSize;
      Advance(Offset);
      break;
  }
  return FPosition;
}

}  // namespace quillo
