#include "quillo/codecs/fax.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "quillo/core/pixels.h"

namespace quillo {

namespace {

// ---------------------------------------------------------------------------------------------
// The code tables of T.4: terminating codes for runs 0..63, make-up codes for 64..1728 per
// colour, and the extended make-up codes 1792..2560 both colours share.

struct TCode {
  uint16_t Code;
  uint8_t Len;
};

constexpr TCode kWhiteTerm[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4}, {0x0F, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0x0C, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x04, 8}, {0x05, 8}, {0x0A, 8},
    {0x0B, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8}};

// Runs 64, 128, ... 1728.
constexpr TCode kWhiteMakeUp[27] = {
    {0x1B, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8}, {0x64, 8},
    {0x65, 8}, {0x68, 8}, {0x67, 8}, {0xCC, 9}, {0xCD, 9}, {0xD2, 9}, {0xD3, 9},
    {0xD4, 9}, {0xD5, 9}, {0xD6, 9}, {0xD7, 9}, {0xD8, 9}, {0xD9, 9}, {0xDA, 9},
    {0xDB, 9}, {0x98, 9}, {0x99, 9}, {0x9A, 9}, {0x18, 6}, {0x9B, 9}};

constexpr TCode kBlackTerm[64] = {
    {0x37, 10}, {0x02, 3},  {0x03, 2},  {0x02, 2},  {0x03, 3},  {0x03, 4},  {0x02, 4},  {0x03, 5},
    {0x05, 6},  {0x04, 6},  {0x04, 7},  {0x05, 7},  {0x07, 7},  {0x04, 8},  {0x07, 8},  {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12}};

constexpr TCode kBlackMakeUp[27] = {
    {0x0F, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12},
    {0x6C, 13}, {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13},
    {0x73, 13}, {0x74, 13}, {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13},
    {0x54, 13}, {0x55, 13}, {0x5A, 13}, {0x5B, 13}, {0x64, 13}, {0x65, 13}};

// Runs 1792, 1856, ... 2560.
constexpr TCode kExtMakeUp[13] = {{0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
                                  {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12},
                                  {0x1D, 12}, {0x1E, 12}, {0x1F, 12}};

constexpr uint32_t kEOL = 0x001;  // 000000000001
constexpr int kEOLLen = 12;

// ---------------------------------------------------------------------------------------------
// Decoding tables: one entry per value of the next IndexBits bits. The table holds exactly the
// codes of the standard, so a prefix look-up finds what a scan of the codes in order would.

enum TKind : uint8_t {
  kInvalid,  // no code matches
  kTerm,     // terminating code: the run ends, the colour changes
  kMakeUp,   // make-up code: the run goes on
  kZeros,    // eight or more leading zeros: EOL, a fill pattern or nothing (see LeadingZeros)
  // modes of two-dimensional coding
  kPass,
  kHoriz,
  kVert,
  kExt2D,
};

struct TEntry {
  int16_t Run;  // run length, or the vertical offset
  uint8_t Len;
  TKind Kind;
};

constexpr int kWhiteBits = 12;
constexpr int kBlackBits = 13;
constexpr int kModeBits = 7;

struct TTables {
  std::array<TEntry, 1 << kWhiteBits> White{};
  std::array<TEntry, 1 << kBlackBits> Black{};
  std::array<TEntry, 1 << kModeBits> Mode{};
};

template <size_t N>
void Put(std::array<TEntry, N>& T, int Bits, uint32_t Code, int Len, TEntry E) {
  const uint32_t First = Code << (Bits - Len);
  for (uint32_t I = 0; I < (1u << (Bits - Len)); ++I) T[First + I] = E;
}

template <size_t N>
void FillColour(std::array<TEntry, N>& T, int Bits, const TCode (&Term)[64],
                const TCode (&MakeUp)[27]) {
  // Eight leading zeros start no code of the standard; those values go to the zero handling.
  for (uint32_t I = 0; I < (1u << (Bits - 8)); ++I) T[I] = TEntry{0, 0, kZeros};
  for (int I = 0; I < 64; ++I)
    Put(T, Bits, Term[I].Code, Term[I].Len, TEntry{static_cast<int16_t>(I), Term[I].Len, kTerm});
  for (int I = 0; I < 27; ++I)
    Put(T, Bits, MakeUp[I].Code, MakeUp[I].Len,
        TEntry{static_cast<int16_t>(64 * (I + 1)), MakeUp[I].Len, kMakeUp});
  for (int I = 0; I < 13; ++I)
    Put(T, Bits, kExtMakeUp[I].Code, kExtMakeUp[I].Len,
        TEntry{static_cast<int16_t>(1792 + 64 * I), kExtMakeUp[I].Len, kMakeUp});
}

TTables BuildTables() {
  TTables T;
  FillColour(T.White, kWhiteBits, kWhiteTerm, kWhiteMakeUp);
  FillColour(T.Black, kBlackBits, kBlackTerm, kBlackMakeUp);
  Put(T.Mode, kModeBits, 0x1, 1, TEntry{0, 1, kVert});
  Put(T.Mode, kModeBits, 0x3, 3, TEntry{1, 3, kVert});
  Put(T.Mode, kModeBits, 0x2, 3, TEntry{-1, 3, kVert});
  Put(T.Mode, kModeBits, 0x1, 3, TEntry{0, 3, kHoriz});
  Put(T.Mode, kModeBits, 0x1, 4, TEntry{0, 4, kPass});
  Put(T.Mode, kModeBits, 0x3, 6, TEntry{2, 6, kVert});
  Put(T.Mode, kModeBits, 0x2, 6, TEntry{-2, 6, kVert});
  Put(T.Mode, kModeBits, 0x3, 7, TEntry{3, 7, kVert});
  Put(T.Mode, kModeBits, 0x2, 7, TEntry{-3, 7, kVert});
  Put(T.Mode, kModeBits, 0x1, 7, TEntry{0, 10, kExt2D});
  Put(T.Mode, kModeBits, 0x0, 7, TEntry{0, 0, kZeros});
  return T;
}

const TTables& Tables() {
  static const TTables T = BuildTables();
  return T;
}

// ---------------------------------------------------------------------------------------------
// Bits

inline int Clz32(uint32_t V) {
  return V ? __builtin_clz(V) : 32;
}

inline uint64_t LoadBE64(const uint8_t* P) {
  uint64_t V;
  std::memcpy(&V, P, 8);
  return __builtin_bswap64(V);
}

// Every byte of V with its bits in reverse order.
inline uint64_t ReverseBytes(uint64_t V) {
  V = ((V >> 1) & 0x5555555555555555ull) | ((V & 0x5555555555555555ull) << 1);
  V = ((V >> 2) & 0x3333333333333333ull) | ((V & 0x3333333333333333ull) << 2);
  return ((V >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((V & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// The coded data as a bit string: Peek gives the 32 bits at Pos, most significant first, with
// zeros beyond the end. Rev reads fill order 2.
template <bool Rev>
struct TBits {
  const uint8_t* Data;
  int64_t Size;
  int64_t End;  // Size x 8

  uint32_t Peek(int64_t Pos) const {
    const int64_t I = Pos >> 3;
    uint64_t V;
    if (I + 8 <= Size) {
      V = LoadBE64(Data + I);
    } else {
      V = 0;
      for (int K = 0; K < 8; ++K) {
        V <<= 8;
        if (I + K < Size) V |= Data[I + K];
      }
    }
    if constexpr (Rev) V = ReverseBytes(V);
    return static_cast<uint32_t>((V << (Pos & 7)) >> 32);
  }
};

// The first position at or after From whose bit is Bit, or Width when there is none.
int32_t FindBit(const uint8_t* Row, int64_t From, int32_t Width, int Bit) {
  if (From >= Width) return Width;
  const uint8_t Flip = Bit ? 0x00 : 0xFF;  // makes the wanted bits ones
  int64_t I = From >> 3;
  uint8_t B = static_cast<uint8_t>((Row[I] ^ Flip) & (0xFF >> (From & 7)));
  if (B) return static_cast<int32_t>(std::min<int64_t>(Width, I * 8 + __builtin_clz(B) - 24));
  const int64_t N = (static_cast<int64_t>(Width) + 7) >> 3;
  const uint64_t Flip64 = Bit ? 0 : ~uint64_t{0};
  for (++I; I + 8 <= N; I += 8) {
    const uint64_t V = LoadBE64(Row + I) ^ Flip64;
    if (V) return static_cast<int32_t>(std::min<int64_t>(Width, I * 8 + __builtin_clzll(V)));
  }
  for (; I < N; ++I) {
    B = static_cast<uint8_t>(Row[I] ^ Flip);
    if (B) return static_cast<int32_t>(std::min<int64_t>(Width, I * 8 + __builtin_clz(B) - 24));
  }
  return Width;
}

// ---------------------------------------------------------------------------------------------
// Decoding
//
// A row is decoded into its changing elements: the positions where the colour changes, the
// first one to black, in increasing order. The reference row is kept in the same form, so b1
// and b2 are found by walking a list instead of scanning bits.

constexpr int kWhite = 1;  // the decoders' white

// What a window with eight or more leading zeros holds: a fill pattern that produces no
// pixels (8 to 10 zeros and a one), an EOL (11 or more zeros and a one), or nothing.
enum TZeros { kNoPixels, kEndOfLine, kNoMatch };
inline TZeros LeadingZeros(uint32_t Win, int& Len) {
  const int Z = Clz32(Win);
  if (Z >= 32) return kNoMatch;
  Len = Z + 1;
  return Z <= 10 ? kNoPixels : kEndOfLine;
}

// Builds the changing elements of a row from runs laid down left to right, into C (room for
// Width + 3: the positions strictly increase inside the row, then three sentinels). Pixels
// once laid stay (a run that would go back is cut), and nothing goes past the width.
struct TRowBuilder {
  int32_t* C;
  int32_t Width;
  int32_t N = 0;
  int64_t End = 0;

  // Pixels up to To (excluded) in Colour.
  void Extend(int64_t To, int Colour) {
    if (To <= End || End >= Width) return;
    if (Colour != Tail()) C[N++] = static_cast<int32_t>(End);
    End = std::min<int64_t>(To, Width);
  }
  // The colour of the last pixel laid (white before the first).
  int Tail() const { return N & 1 ? kWhite ^ 1 : kWhite; }
  // Three sentinels at the width close the list.
  void Close() { C[N] = C[N + 1] = C[N + 2] = Width; }
};

// Room for the changing elements of a row of Width pixels and the sentinels.
void Room(std::vector<int32_t>& C, int32_t Width) {
  if (C.size() < static_cast<size_t>(Width) + 4) C.resize(static_cast<size_t>(Width) + 4);
}

// The changing elements of a row of bits whose black is Black, closed.
void BitsToChanges(const uint8_t* Row, int32_t Width, int Black, std::vector<int32_t>& C) {
  Room(C, Width);
  TRowBuilder Out{C.data(), Width};
  int Bit = Black;
  for (int32_t P = FindBit(Row, 0, Width, Bit); P < Width; P = FindBit(Row, P, Width, Bit)) {
    Out.C[Out.N++] = P;
    Bit ^= 1;
  }
  Out.Close();
}

// Writes the row's bits (1 white) from its closed list of changing elements.
void ChangesToBits(const int32_t* C, int32_t Width, uint8_t* Row) {
  std::memset(Row, 0xFF, (static_cast<size_t>(Width) + 7) / 8);
  // Black runs: C[I] < C[I + 1] <= Width.
  for (size_t I = 0; C[I] < Width; I += 2) {
    const uint32_t From = static_cast<uint32_t>(C[I]), Last = static_cast<uint32_t>(C[I + 1]) - 1;
    const uint32_t I0 = From >> 3, I1 = Last >> 3;
    const uint8_t M0 = static_cast<uint8_t>(0xFF >> (From & 7));
    const uint8_t M1 = static_cast<uint8_t>(0xFF << (7 - (Last & 7)));
    if (I0 == I1) {
      Row[I0] &= static_cast<uint8_t>(~(M0 & M1));
      continue;
    }
    Row[I0] &= static_cast<uint8_t>(~M0);
    if (I1 - I0 > 16)
      std::memset(Row + I0 + 1, 0, I1 - I0 - 1);
    else
      for (uint32_t K = I0 + 1; K < I1; ++K) Row[K] = 0;
    Row[I1] &= static_cast<uint8_t>(~M1);
  }
}

// b1 and b2 for a0 and the colour of a0 from the reference row's closed changing elements;
// K carries the walk along the list from one code to the next.
inline void FindB1B2(const int32_t* Ref, size_t& K, int64_t A0, int Colour, int32_t& B1,
                     int32_t& B2) {
  while (K > 0 && Ref[K - 1] > A0) --K;
  while (Ref[K] <= A0) ++K;  // stops at a sentinel: A0 is inside the row
  // Elements at even places turn black: b1 is one of them while the colour is white.
  const size_t J = K + (((K & 1) == 0) == (Colour == kWhite) ? 0 : 1);
  B1 = Ref[J];
  B2 = Ref[J + 1];
}

template <bool Rev>
int64_t Decode1D(TRowBuilder& Out, const TBits<Rev>& B, int32_t Width, int64_t Pos) {
  const TTables& T = Tables();
  int Colour = kWhite;
  int64_t X = 0;
  bool MakeUp = false, Started = false;
  while ((X < Width || MakeUp) && Pos < B.End) {
    const uint32_t Win = B.Peek(Pos);
    const TEntry& E =
        Colour == kWhite ? T.White[Win >> (32 - kWhiteBits)] : T.Black[Win >> (32 - kBlackBits)];
    switch (E.Kind) {
      case kTerm:
      case kMakeUp:
        X += E.Run;
        Out.Extend(X, Colour);
        Pos += E.Len;
        MakeUp = E.Kind == kMakeUp;
        if (!MakeUp) Colour ^= 1;
        break;
      case kZeros: {
        int Len = 0;
        const TZeros Z = LeadingZeros(Win, Len);
        if (Z == kEndOfLine) {
          Pos += Len;
          if (!Started) continue;  // an EOL before the row's first code is passed over
          Out.Extend(Width, Colour);
          return Pos;
        }
        if (Z == kNoPixels) {
          Pos += Len;
          MakeUp = true;
        } else {
          Pos += Colour == kWhite ? 11 : 4;
        }
        break;
      }
      default:
        Pos += Colour == kWhite ? 11 : 4;
        break;
    }
    Started = true;
  }
  // Data that ends early leaves the rest of the row in the current colour.
  Out.Extend(Width, Colour);
  return Pos;
}

// Reads one run of a horizontal mode: make-up codes ended by a terminating code. False, with
// the offending code left unread, when a code of another kind comes first.
template <bool Rev>
bool ReadRun(const TBits<Rev>& B, int64_t& Pos, int Colour, int64_t& Run) {
  const TTables& T = Tables();
  Run = 0;
  int64_t P = Pos;
  while (P < B.End) {
    const uint32_t Win = B.Peek(P);
    const TEntry& E =
        Colour == kWhite ? T.White[Win >> (32 - kWhiteBits)] : T.Black[Win >> (32 - kBlackBits)];
    if (E.Kind != kTerm && E.Kind != kMakeUp) break;
    Run += E.Run;
    P += E.Len;
    Pos = P;
    if (E.Kind == kTerm) return true;
  }
  return false;
}

// Uncompressed mode, entered by an extension code: groups of n zeros ended by a one. n < 5 are
// n white pixels and a black one, 5 are five white pixels, 6 to 10 leave the mode after n - 6
// white pixels, the next bit giving the colour that follows.
template <bool Rev>
void Uncompressed(TRowBuilder& Out, const TBits<Rev>& B, int32_t Width, int64_t& Pos, int64_t& A0,
                  int& Colour) {
  int64_t X = std::max<int64_t>(A0, 0);
  while (Pos < B.End) {
    const int N = Clz32(B.Peek(Pos));
    if (N <= 4) {
      Out.Extend(X + N, kWhite);
      Out.Extend(X + N + 1, kWhite ^ 1);
      X += N + 1;
      Pos += N + 1;
    } else if (N == 5) {
      Out.Extend(X + 5, kWhite);
      X += 5;
      Pos += 6;
    } else if (N <= 10) {
      Out.Extend(X + N - 6, kWhite);
      A0 = X + N - 6;
      Pos += N + 1;
      Colour = (B.Peek(Pos) >> 31) ? kWhite ^ 1 : kWhite;
      ++Pos;
      return;
    } else {
      break;  // no one bit within eleven: the row cannot go on
    }
  }
  Out.Extend(Width, Colour);
  A0 = Width;
}

// One two-dimensional row against the closed changing elements Ref, into Cur (room for
// Width + 3), closed.
template <bool Rev>
int64_t Decode2D(const TBits<Rev>& B, int32_t Width, const int32_t* Ref, int32_t* Cur,
                 int64_t Pos) {
  const TTables& T = Tables();
  TRowBuilder Out{Cur, Width};
  int64_t A0 = -1;
  int Colour = kWhite;
  bool First = true;
  size_t K = 0;
  int32_t B1, B2;
  while (A0 < Width && Pos < B.End) {
    const uint32_t Win = B.Peek(Pos);
    const bool WasFirst = First;
    First = false;
    if (Win >> 31) {
      // V0, the most frequent code, without the table: a1 under b1. After it the next b1 is
      // the next changing element, so a run of V0 codes walks the reference list.
      FindB1B2(Ref, K, A0, Colour, B1, B2);
      int Ones = Clz32(~Win);
      size_t J = K + (((K & 1) == 0) == (Colour == kWhite) ? 0 : 1);
      do {
        A0 = Ref[J++];
        Out.Extend(A0, Colour);
        Colour ^= 1;
        ++Pos;
      } while (--Ones > 0 && A0 < Width && Pos < B.End);
      K = J;
      continue;
    }
    const TEntry& E = T.Mode[Win >> (32 - kModeBits)];
    switch (E.Kind) {
      case kVert:
        FindB1B2(Ref, K, A0, Colour, B1, B2);
        A0 = B1 + E.Run;
        Out.Extend(A0, Colour);
        Colour ^= 1;
        Pos += E.Len;
        break;
      case kHoriz: {
        int64_t P = Pos + E.Len, R1 = 0, R2 = 0;
        if (!ReadRun(B, P, Colour, R1) || !ReadRun(B, P, Colour ^ 1, R2)) {
          Pos = P;  // the mode is dropped; what stopped it is decoded next
          break;
        }
        const int64_t Start = std::max<int64_t>(A0, 0);
        Out.Extend(Start + R1, Colour);
        Out.Extend(Start + R1 + R2, Colour ^ 1);
        A0 = Start + R1 + R2;
        Pos = P;
        break;
      }
      case kPass:
        FindB1B2(Ref, K, A0, Colour, B1, B2);
        Out.Extend(B2, Colour);
        A0 = B2;
        Pos += E.Len;
        break;
      case kExt2D:
        // 0000001111 enters uncompressed mode; the other extensions are not defined.
        if (((Win >> 22) & 7) != 7) {
          Pos += 12;
          break;
        }
        Pos += E.Len;
        Uncompressed(Out, B, Width, Pos, A0, Colour);
        break;
      default: {
        int Len = 0;
        const TZeros Z = LeadingZeros(Win, Len);
        if (Z == kEndOfLine) {
          if (WasFirst) {
            // Group 3: the tag bit after the EOL says how the row is coded.
            Pos += Len;
            if (Pos >= B.End) break;
            const bool OneD = B.Peek(Pos) >> 31;
            ++Pos;
            if (OneD) {
              TRowBuilder OneRow = Out;
              Pos = Decode1D(OneRow, B, Width, Pos);
              OneRow.Close();
              return Pos;
            }
            break;
          }
          // An EOL inside the row ends it and is left for the next row.
          A0 = Width;
          break;
        }
        if (Z == kNoPixels && Len == 9 && ((Win >> 20) & 7) == 7) {
          Pos += 12;  // the one-dimensional extension 000000001111: uncompressed mode
          Uncompressed(Out, B, Width, Pos, A0, Colour);
          break;
        }
        Pos += 12;  // code 0 or no match
        break;
      }
    }
  }
  // The rest of a row cut short keeps the current colour.
  Out.Extend(Width, Colour);
  Out.Close();
  return Pos;
}

// ---------------------------------------------------------------------------------------------
// Encoding

// Bits appended most significant first to a byte vector; the partial byte is kept aside.
class TBitWriter {
 public:
  TBitWriter(std::vector<uint8_t>& Out, uint8_t PendingByte, int32_t PendingBits)
      : FOut(Out),
        FAcc(PendingBits > 0 ? PendingByte >> (8 - PendingBits) : 0),
        FN(std::clamp(PendingBits, 0, 7)) {}
  void Put(uint32_t Code, int Len) {
    FAcc = (FAcc << Len) | Code;
    FN += Len;
    while (FN >= 8) {
      FN -= 8;
      FOut.push_back(static_cast<uint8_t>(FAcc >> FN));
    }
    FAcc &= (1u << FN) - 1;
  }
  void PutRun(int White, int64_t Run) {
    const TCode(&Term)[64] = White ? kWhiteTerm : kBlackTerm;
    const TCode(&MakeUp)[27] = White ? kWhiteMakeUp : kBlackMakeUp;
    while (Run >= 64) {
      const int64_t M = std::min<int64_t>(Run / 64, 40);  // 40 x 64 = 2560
      const TCode& C = M <= 27 ? MakeUp[M - 1] : kExtMakeUp[M - 28];
      Put(C.Code, C.Len);
      Run -= M * 64;
    }
    Put(Term[Run].Code, Term[Run].Len);
  }
  // Pads the partial byte with zeros and writes it.
  void Pad() {
    if (FN > 0) Put(0, 8 - FN);
  }
  uint8_t PendingByte() const { return static_cast<uint8_t>(FN ? FAcc << (8 - FN) : 0); }
  int32_t PendingBits() const { return FN; }

 private:
  std::vector<uint8_t>& FOut;
  uint32_t FAcc;
  int FN;
};

constexpr int kEncWhite = 0;  // the encoders' white
constexpr int kEncBlack = 1;

void Encode1D(const uint8_t* Row, int32_t Width, TBitWriter& W) {
  int64_t X = 0;
  int Colour = kEncWhite;
  while (X < Width) {
    const int32_t Next = FindBit(Row, X, Width, Colour ^ 1);
    W.PutRun(Colour == kEncWhite, Next - X);
    X = Next;
    Colour ^= 1;
  }
}

// Two-dimensional coding of a row against the reference row, both as closed changing elements.
void Encode2D(const int32_t* Cur, const int32_t* Ref, int32_t Width, TBitWriter& W) {
  static constexpr TCode kVertCodes[7] = {{0x2, 7}, {0x2, 6}, {0x2, 3}, {0x1, 1},
                                          {0x3, 3}, {0x3, 6}, {0x3, 7}};
  int64_t A0 = -1;
  int Colour = kWhite;
  size_t KA = 0, KB = 0;
  int32_t B1, B2;
  while (A0 < Width) {
    while (Cur[KA] <= A0) ++KA;
    const int32_t A1 = Cur[KA];
    FindB1B2(Ref, KB, A0, Colour, B1, B2);
    if (B2 < A1) {
      W.Put(0x1, 4);
      A0 = B2;
    } else if (A1 - B1 >= -3 && A1 - B1 <= 3) {
      const TCode& C = kVertCodes[A1 - B1 + 3];
      W.Put(C.Code, C.Len);
      A0 = A1;
      Colour ^= 1;
    } else {
      const int32_t A2 = Cur[KA + 1];
      W.Put(0x1, 3);
      W.PutRun(Colour == kWhite, A1 - std::max<int64_t>(A0, 0));
      W.PutRun(Colour != kWhite, A2 - A1);
      A0 = A2;
    }
  }
}

void Flush(TStream& Stream, std::vector<uint8_t>& Bytes, bool& Abort) {
  if (!Bytes.empty())
    SafeStreamWrite(Stream, Abort, Bytes.data(), static_cast<int64_t>(Bytes.size()));
}

// The shared body of the group 3 and group 4 coders.
enum TFaxMode { kG3, kG32D, kG4 };
void PutLine(TFaxMode Mode, const uint8_t* Row, int32_t Width, TStream& Stream,
             uint8_t& PendingByte, int32_t& PendingBits, std::vector<uint8_t>* RefRow,
             bool& Abort) {
  std::vector<uint8_t> Bytes;
  TBitWriter W(Bytes, PendingByte, PendingBits);
  if (!Row) {
    if (Mode == kG32D) W.Put(kEOL, kEOLLen);
    if (Mode == kG4) {
      W.Put(kEOL, kEOLLen);
      W.Put(kEOL, kEOLLen);
    }
    W.Pad();
  } else {
    Bytes.reserve(static_cast<size_t>(Width) / 4 + 16);
    const size_t RowBytes = (static_cast<size_t>(Width) + 7) / 8;
    if (Mode == kG3) {
      // TIFF group 3 data starts every row with an EOL; readers look for it.
      W.Put(kEOL, kEOLLen);
      Encode1D(Row, Width, W);
    } else if (Mode == kG32D && RefRow->size() < RowBytes) {
      W.Put(kEOL << 1 | 1, kEOLLen + 1);
      Encode1D(Row, Width, W);
    } else {
      if (Mode == kG32D) W.Put(kEOL << 1, kEOLLen + 1);
      if (RefRow->size() < RowBytes) RefRow->assign(RowBytes, 0);
      // The changing elements of the last row coded serve as the reference while the caller's
      // reference row still holds that row's bits.
      thread_local std::vector<int32_t> RefC, CurC;
      thread_local std::vector<uint8_t> RefBits;
      thread_local int32_t RefWidth = -1;
      if (RefWidth != Width || RefBits.size() != RowBytes ||
          std::memcmp(RefBits.data(), RefRow->data(), RowBytes) != 0)
        BitsToChanges(RefRow->data(), Width, kEncBlack, RefC);
      BitsToChanges(Row, Width, kEncBlack, CurC);
      Encode2D(CurC.data(), RefC.data(), Width, W);
      RefC.swap(CurC);
      RefBits.assign(Row, Row + RowBytes);
      RefWidth = Width;
    }
    if (RefRow) RefRow->assign(Row, Row + RowBytes);
  }
  Flush(Stream, Bytes, Abort);
  PendingByte = W.PendingByte();
  PendingBits = W.PendingBits();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

int64_t CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int32_t Width,
                            int32_t FillOrder) {
  const int64_t Bits = _CCITTHuffmanGetLine(Row, Data, DataSize, Width, 0, FillOrder);
  return std::min((Bits + 7) / 8, std::max<int64_t>(DataSize, 0));
}

int64_t _CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int32_t Width,
                             int64_t BitPos, int32_t FillOrder) {
  if (Width <= 0) return BitPos;
  DataSize = std::max<int64_t>(DataSize, 0);
  thread_local std::vector<int32_t> Changes;
  Room(Changes, Width);
  TRowBuilder Out{Changes.data(), Width};
  if (FillOrder == 2)
    BitPos = Decode1D(Out, TBits<true>{Data, DataSize, DataSize * 8}, Width, BitPos);
  else
    BitPos = Decode1D(Out, TBits<false>{Data, DataSize, DataSize * 8}, Width, BitPos);
  Out.Close();
  ChangesToBits(Changes.data(), Width, Row);
  return BitPos;
}

int64_t CCITT3_2D_GetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int32_t Width,
                          uint8_t* RefRow, int64_t BitPos, int32_t FillOrder) {
  if (Width <= 0) return BitPos;
  thread_local TQLFax2DDecoder Decoder;
  Decoder.SetReference(RefRow, Width);
  BitPos = Decoder.GetLine(Row, Data, DataSize, BitPos, FillOrder);
  std::memcpy(RefRow, Row, (static_cast<size_t>(Width) + 7) / 8);
  return BitPos;
}

void TQLFax2DDecoder::Reset(int32_t Width) {
  FWidth = std::max(Width, 0);
  Room(FRef, FWidth);
  Room(FCur, FWidth);
  TRowBuilder{FRef.data(), FWidth}.Close();
}

void TQLFax2DDecoder::SetReference(const uint8_t* RefRow, int32_t Width) {
  FWidth = std::max(Width, 0);
  Room(FCur, FWidth);
  BitsToChanges(RefRow, FWidth, kWhite ^ 1, FRef);
}

int64_t TQLFax2DDecoder::GetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize,
                                 int64_t BitPos, int32_t FillOrder) {
  if (FWidth <= 0) return BitPos;
  DataSize = std::max<int64_t>(DataSize, 0);
  if (FillOrder == 2)
    BitPos = Decode2D(TBits<true>{Data, DataSize, DataSize * 8}, FWidth, FRef.data(), FCur.data(),
                      BitPos);
  else
    BitPos = Decode2D(TBits<false>{Data, DataSize, DataSize * 8}, FWidth, FRef.data(), FCur.data(),
                      BitPos);
  ChangesToBits(FCur.data(), FWidth, Row);
  FRef.swap(FCur);
  return BitPos;
}

void _CCITTHuffmanPutLine(const uint8_t* Row, int32_t Width, std::vector<uint8_t>& Bits,
                          int64_t& BitPos) {
  const size_t Whole = static_cast<size_t>(BitPos >> 3);
  const int32_t Part = static_cast<int32_t>(BitPos & 7);
  Bits.resize(std::max(Bits.size(), Whole + 1));
  const uint8_t Pending = Bits[Whole];
  Bits.resize(Whole);
  TBitWriter W(Bits, Pending, Part);
  Encode1D(Row, Width, W);
  BitPos = static_cast<int64_t>(Bits.size()) * 8 + W.PendingBits();
  if (W.PendingBits()) Bits.push_back(W.PendingByte());
}

void CCITTHuffmanPutLine(const uint8_t* Row, int32_t Width, TStream& Stream, bool& Abort) {
  std::vector<uint8_t> Bytes;
  int64_t Pos = 0;
  _CCITTHuffmanPutLine(Row, Width, Bytes, Pos);
  Flush(Stream, Bytes, Abort);
}

void CCITTHuffmanPutLineG3(const uint8_t* Row, int32_t Width, TStream& Stream, uint8_t& PendingByte,
                           int32_t& PendingBits, bool& Abort) {
  PutLine(kG3, Row, Width, Stream, PendingByte, PendingBits, nullptr, Abort);
}

void CCITTHuffmanPutLineG32D(const uint8_t* Row, int32_t Width, TStream& Stream,
                             uint8_t& PendingByte, int32_t& PendingBits,
                             std::vector<uint8_t>& RefRow, bool& Abort) {
  PutLine(kG32D, Row, Width, Stream, PendingByte, PendingBits, &RefRow, Abort);
}

void CCITTHuffmanPutLineG4(const uint8_t* Row, int32_t Width, TStream& Stream, uint8_t& PendingByte,
                           int32_t& PendingBits, std::vector<uint8_t>& RefRow, bool& Abort) {
  PutLine(kG4, Row, Width, Stream, PendingByte, PendingBits, &RefRow, Abort);
}

}  // namespace quillo
