// Small containers: fixed-size item lists, a growable byte array and a measuring stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quillo/platform/streams.h"

namespace quillo {

// Items of one fixed size in one contiguous block. Every change to the items sets flag bit 1.
class TQLList : public TObject {
 public:
  explicit TQLList(int32_t ItemSize);

  int32_t Count() const { return FCount; }
  int32_t ItemSize() const { return FItemSize; }
  uint8_t Flags() const { return FFlags; }
  void SetFlags(uint8_t Flags) { FFlags = Flags; }

  // Appends a copy of the item; returns its index.
  int32_t AddItem(const void* Item);
  // Inserts before Index (at the end when Index >= Count).
  void InsertItem(int32_t Index, const void* Item);
  // Ignores an index outside 0..Count-1.
  void Delete(int32_t Index);
  // Ignores Index >= Count (and negative ones).
  void BaseSetItem(int32_t Index, const void* Item);
  // First item equal byte for byte, or -1.
  int32_t IndexOfItem(const void* Item) const;
  // Keeps the first min(old, new) items; new items are zero.
  void SetCount(int32_t NewCount);
  void Assign(const TQLList& Source);
  void Clear();
  // Pointer to item Index (nullptr outside 0..Count-1).
  void* Item(int32_t Index);
  const void* Item(int32_t Index) const;

 private:
  int32_t FItemSize;
  int32_t FCount = 0;
  uint8_t FFlags = 0;
  std::vector<uint8_t> FItems;
};

// Flag bits of the value lists.
constexpr uint8_t qlfItemsChanged = 1;
constexpr uint8_t qlfRangeChanged = 2;
constexpr uint8_t qlfCurrentChanged = 4;

template <typename T>
class TQLValueList : public TQLList {
 public:
  TQLValueList() : TQLList(sizeof(T)) {}
  int32_t Add(T V) { return AddItem(&V); }
  void Insert(int32_t Index, T V) { InsertItem(Index, &V); }
  int32_t IndexOf(T V) const { return IndexOfItem(&V); }
  // Raises EListError outside 0..Count-1.
  T GetItem(int32_t Index) const;
  void SetItem(int32_t Index, T V) { BaseSetItem(Index, &V); }
  void Assign(const TQLValueList& Source) {
    TQLList::Assign(Source);
    FRangeMin = Source.FRangeMin;
    FRangeMax = Source.FRangeMax;
    FRangeStep = Source.FRangeStep;
    FCurrentValue = Source.FCurrentValue;
  }

  T GetRangeMin() const { return FRangeMin; }
  T GetRangeMax() const { return FRangeMax; }
  T GetRangeStep() const { return FRangeStep; }
  T GetCurrentValue() const { return FCurrentValue; }
  void SetRangeMin(T V) { FRangeMin = V, SetFlags(Flags() | qlfRangeChanged); }
  void SetRangeMax(T V) { FRangeMax = V, SetFlags(Flags() | qlfRangeChanged); }
  void SetRangeStep(T V) { FRangeStep = V, SetFlags(Flags() | qlfRangeChanged); }
  void SetCurrentValue(T V) { FCurrentValue = V, SetFlags(Flags() | qlfCurrentChanged); }

 private:
  T FRangeMin{};
  T FRangeMax{};
  T FRangeStep{};
  T FCurrentValue{};
};

template <typename T>
T TQLValueList<T>::GetItem(int32_t Index) const {
  const void* P = Item(Index);
  if (!P) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  T V;
  std::memcpy(&V, P, sizeof(T));
  return V;
}

using TQLIntegerList = TQLValueList<int32_t>;
using TQLDoubleList = TQLValueList<double>;

// A TQLList whose item size is chosen at creation.
class TQLRecordList : public TQLList {
 public:
  explicit TQLRecordList(int32_t ItemSize) : TQLList(ItemSize) {}
  int32_t Add(const void* Item) { return AddItem(Item); }
  void Insert(int32_t Index, const void* Item) { InsertItem(Index, Item); }
  int32_t IndexOf(const void* Item) const { return IndexOfItem(Item); }
  // Raises EListError outside 0..Count-1.
  void* GetItem(int32_t Index);
  void SetItem(int32_t Index, const void* Item) { BaseSetItem(Index, Item); }
};

// A byte buffer that grows in steps of 8192 bytes.
class TQLByteArray : public TObject {
 public:
  static constexpr int32_t GrowthStep = 8192;
  TQLByteArray();

  int32_t Length() const { return FLength; }
  int32_t Capacity() const { return static_cast<int32_t>(FData.size()); }
  void SetLength(int32_t NewLength);
  void AddByte(uint8_t B);
  // Appends up to N bytes read from Stream; returns how many arrived.
  int32_t AppendFromStream(TStream& Stream, int32_t N);
  void Clear();
  uint8_t* Data() { return FData.data(); }
  const uint8_t* Data() const { return FData.data(); }
  uint8_t& operator[](int32_t I) { return FData[static_cast<size_t>(I)]; }

 private:
  std::vector<uint8_t> FData;
  int32_t FLength = 0;
};

// A stream that stores nothing: it only counts, so that encoders can be measured.
class TNulStream : public TStream {
 public:
  int64_t Read(void*, int64_t Count) override;
  int64_t Write(const void*, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return FSize; }
  void SetSize(int64_t NewSize) override { FSize = NewSize < 0 ? 0 : NewSize; }

 private:
  void Advance(int64_t Count);
  int64_t FPosition = 0;
  int64_t FSize = 0;
};

}  // namespace quillo
