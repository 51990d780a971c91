#include "quillo/platform/twain.h"

#include <cmath>
#include <cstring>

namespace quillo {

TW_FIX32 QLToFix32(double Value) {
  // Halves away from zero, then the two's-complement bit pattern split in two.
  const double Scaled = Value * 65536.0;
  const double R = Scaled < 0 ? -std::floor(-Scaled + 0.5) : std::floor(Scaled + 0.5);
  int64_t V = 0;
  if (R >= 2147483647.0)
    V = 2147483647;
  else if (R <= -2147483648.0)
    V = -2147483648LL;
  else
    V = static_cast<int64_t>(R);
  const uint32_t Bits = static_cast<uint32_t>(V);
  TW_FIX32 F;
  F.Whole = static_cast<int16_t>(static_cast<uint16_t>(Bits >> 16));
  F.Frac = static_cast<uint16_t>(Bits & 0xFFFFu);
  return F;
}

double QLFromFix32(TW_FIX32 Value) {
  return Value.Whole + Value.Frac / 65536.0;
}

namespace {

int32_t ItemSize(uint16_t Type) {
  switch (Type) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
      return 4;
    default:
      return 0;
  }
}

// Reads an item stored in its natural size at P.
double ReadItem(uint16_t Type, const uint8_t* P) {
  switch (Type) {
    case TWTY_INT8:
      return static_cast<int8_t>(P[0]);
    case TWTY_UINT8:
      return P[0];
    case TWTY_INT16: {
      int16_t V;
      std::memcpy(&V, P, 2);
      return V;
    }
    case TWTY_UINT16: {
      uint16_t V;
      std::memcpy(&V, P, 2);
      return V;
    }
    case TWTY_BOOL: {
      uint16_t V;
      std::memcpy(&V, P, 2);
      return V != 0 ? 1 : 0;
    }
    case TWTY_INT32: {
      int32_t V;
      std::memcpy(&V, P, 4);
      return V;
    }
    case TWTY_UINT32: {
      uint32_t V;
      std::memcpy(&V, P, 4);
      return V;
    }
    case TWTY_FIX32: {
      TW_FIX32 V;
      std::memcpy(&V, P, 4);
      return QLFromFix32(V);
    }
    default:
      return 0;
  }
}

void WriteItem(uint16_t Type, double Value, uint8_t* P) {
  switch (Type) {
    case TWTY_INT8:
    case TWTY_UINT8:
      P[0] = static_cast<uint8_t>(static_cast<int64_t>(Value));
      break;
    case TWTY_INT16:
    case TWTY_UINT16: {
      const uint16_t V = static_cast<uint16_t>(static_cast<int64_t>(Value));
      std::memcpy(P, &V, 2);
      break;
    }
    case TWTY_BOOL: {
      const uint16_t V = Value != 0 ? 0xFFFF : 0;
      std::memcpy(P, &V, 2);
      break;
    }
    case TWTY_INT32:
    case TWTY_UINT32: {
      const uint32_t V = static_cast<uint32_t>(static_cast<int64_t>(Value));
      std::memcpy(P, &V, 4);
      break;
    }
    case TWTY_FIX32: {
      const TW_FIX32 V = QLToFix32(Value);
      std::memcpy(P, &V, 4);
      break;
    }
    default:
      break;
  }
}

void Put16(std::vector<uint8_t>& B, uint16_t V) {
  const size_t At = B.size();
  B.resize(At + 2);
  std::memcpy(B.data() + At, &V, 2);
}
void Put32(std::vector<uint8_t>& B, uint32_t V) {
  const size_t At = B.size();
  B.resize(At + 4);
  std::memcpy(B.data() + At, &V, 4);
}
// A one-value or range slot: 32 bits whatever the item's size.
void PutSlot(std::vector<uint8_t>& B, uint16_t Type, double Value) {
  uint8_t Slot[4] = {};
  WriteItem(Type, Value, Slot);
  B.insert(B.end(), Slot, Slot + 4);
}
uint32_t Get32(const uint8_t* P) {
  uint32_t V;
  std::memcpy(&V, P, 4);
  return V;
}

}  // namespace

void QLTWEncode(TW_CAPABILITY& Cap, const TQLTWContainer& C) {
  std::vector<uint8_t>& B = Cap.Container;
  B.clear();
  Cap.ConType = C.ConType;
  Put16(B, C.ItemType);
  const int32_t Size = ItemSize(C.ItemType);
  switch (C.ConType) {
    case TWON_ONEVALUE:
      PutSlot(B, C.ItemType, C.Current);
      break;
    case TWON_RANGE:
      PutSlot(B, C.ItemType, C.Min);
      PutSlot(B, C.ItemType, C.Max);
      PutSlot(B, C.ItemType, C.Step);
      PutSlot(B, C.ItemType, C.Default);
      PutSlot(B, C.ItemType, C.Current);
      break;
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
      Put32(B, static_cast<uint32_t>(C.Items.size()));
      if (C.ConType == TWON_ENUMERATION) {
        Put32(B, C.CurrentIndex);
        Put32(B, C.DefaultIndex);
      }
      for (double V : C.Items) {
        const size_t At = B.size();
        B.resize(At + static_cast<size_t>(Size));
        WriteItem(C.ItemType, V, B.data() + At);
      }
      break;
    }
    default:
      break;
  }
}

bool QLTWDecode(const TW_CAPABILITY& Cap, TQLTWContainer& C) {
  const std::vector<uint8_t>& B = Cap.Container;
  C = TQLTWContainer{};
  C.ConType = Cap.ConType;
  if (B.size() < 2) return false;
  std::memcpy(&C.ItemType, B.data(), 2);
  const int32_t Size = ItemSize(C.ItemType);
  if (Size == 0) return false;
  const uint8_t* P = B.data() + 2;
  const size_t Left = B.size() - 2;
  switch (Cap.ConType) {
    case TWON_ONEVALUE:
      if (Left < 4) return false;
      C.Current = ReadItem(C.ItemType, P);
      return true;
    case TWON_RANGE:
      if (Left < 20) return false;
      C.Min = ReadItem(C.ItemType, P);
      C.Max = ReadItem(C.ItemType, P + 4);
      C.Step = ReadItem(C.ItemType, P + 8);
      C.Default = ReadItem(C.ItemType, P + 12);
      C.Current = ReadItem(C.ItemType, P + 16);
      return true;
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
      const size_t Header = Cap.ConType == TWON_ENUMERATION ? 12 : 4;
      if (Left < Header) return false;
      const uint32_t N = Get32(P);
      if (N > (Left - Header) / static_cast<size_t>(Size)) return false;
      if (Cap.ConType == TWON_ENUMERATION) {
        C.CurrentIndex = Get32(P + 4);
        C.DefaultIndex = Get32(P + 8);
        if (N > 0 && (C.CurrentIndex >= N || C.DefaultIndex >= N)) return false;
      }
      const uint8_t* Items = P + Header;
      C.Items.reserve(N);
      for (uint32_t I = 0; I < N; ++I) C.Items.push_back(ReadItem(C.ItemType, Items + I * Size));
      if (Cap.ConType == TWON_ENUMERATION && N > 0) C.Current = C.Items[C.CurrentIndex];
      return true;
    }
    default:
      return false;
  }
}

void QLTWOneValue(TW_CAPABILITY& Cap, uint16_t ItemType, double Value) {
  TQLTWContainer C;
  C.ConType = TWON_ONEVALUE;
  C.ItemType = ItemType;
  C.Current = Value;
  QLTWEncode(Cap, C);
}

namespace {
TQLScanDialogHook& DialogHook() {
  static TQLScanDialogHook Hook;
  return Hook;
}
}  // namespace

void QLSetScanDialogHook(TQLScanDialogHook Hook) {
  DialogHook() = std::move(Hook);
}

const TQLScanDialogHook& QLGetScanDialogHook() {
  return DialogHook();
}

}  // namespace quillo
