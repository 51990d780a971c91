#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "quillo/core/pixels.h"
#include "quillo/platform/canvas.h"

namespace quillo::test {

namespace {
std::atomic<size_t> gLargestAlloc{0};
}  // namespace

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*))
    __attribute__((weak));

bool StartMeasuringAllocations() {
  static const bool Installed =
      __sanitizer_install_malloc_and_free_hooks &&
      __sanitizer_install_malloc_and_free_hooks(
          [](const volatile void*, size_t N) {
            size_t Seen = gLargestAlloc.load();
            while (N > Seen && !gLargestAlloc.compare_exchange_weak(Seen, N)) {
            }
          },
          [](const volatile void*) {}) != 0;
  gLargestAlloc = 0;
  return Installed;
}

size_t LargestAllocation() {
  return gLargestAlloc.load();
}

TempDir::TempDir() {
  std::string Pattern = (std::filesystem::temp_directory_path() / "quillo-test-XXXXXX").string();
  std::vector<char> Buf(Pattern.begin(), Pattern.end());
  Buf.push_back('\0');
  if (!mkdtemp(Buf.data())) throw std::runtime_error("mkdtemp failed");
  FPath = Buf.data();
}

TempDir::~TempDir() {
  std::error_code Ec;
  std::filesystem::remove_all(FPath, Ec);
}

TBitmap RandomBitmap24(int32_t W, int32_t H, uint32_t Seed) {
  TBitmap B(W, H, pf24bit);
  std::mt19937 Rng(Seed);
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t I = 0; I < W * 3; ++I) Row[I] = static_cast<uint8_t>(Rng());
  }
  return B;
}

TBitmap RandomBitmap1(int32_t W, int32_t H, uint32_t Seed) {
  TBitmap B(W, H, pf1bit);
  std::mt19937 Rng(Seed);
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X)
      if (Rng() & 1) Row[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
  }
  return B;
}

std::vector<std::string> Picture(TBitmap& B, TColor C) {
  std::vector<std::string> Rows;
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    std::string Row;
    for (int32_t X = 0; X < B.GetWidth(); ++X) Row += B.Canvas().GetPixel(X, Y) == C ? '#' : '.';
    Rows.push_back(Row);
  }
  return Rows;
}

bool SamePixels(const TBitmap& A, const TBitmap& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight() ||
      A.GetPixelFormat() != B.GetPixelFormat())
    return false;
  int32_t Bits = QLStorageBitCount(A.GetPixelFormat());
  int64_t RowBits = static_cast<int64_t>(A.GetWidth()) * Bits;
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y) {
    const uint8_t* Ra = A.ScanLine(Y);
    const uint8_t* Rb = B.ScanLine(Y);
    if (std::memcmp(Ra, Rb, static_cast<size_t>(RowBits / 8)) != 0) return false;
    if (RowBits % 8) {
      uint8_t Mask = static_cast<uint8_t>(0xFF00 >> (RowBits % 8));
      if ((Ra[RowBits / 8] & Mask) != (Rb[RowBits / 8] & Mask)) return false;
    }
  }
  return true;
}

int RunCommand(const std::string& Command, std::string* Output) {
  FILE* P = popen(Command.c_str(), "r");
  if (!P) return -1;
  char Buf[4096];
  size_t N;
  while ((N = fread(Buf, 1, sizeof(Buf), P)) > 0)
    if (Output) Output->append(Buf, N);
  int Status = pclose(P);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

bool PeerAvailable(bool Found, const std::string& What) {
  const char* Require = std::getenv("QUILLO_REQUIRE_PEERS");
  if (!Found && Require && std::string(Require) == "1")
    ADD_FAILURE() << What << " is missing, and QUILLO_REQUIRE_PEERS=1 asks for every peer";
  return Found;
}

bool HaveProgram(const std::string& Name) {
  return PeerAvailable(RunCommand("command -v '" + Name + "' >/dev/null 2>&1") == 0,
                       "the peer program " + Name);
}

bool ReadReferencePNM(const std::string& Path, TBitmap& Out) {
  std::vector<uint8_t> B = ReadFileBytes(Path);
  size_t I = 0;
  auto Skip = [&] {
    while (I < B.size() && (std::isspace(B[I]) || B[I] == '#')) {
      if (B[I] == '#')
        while (I < B.size() && B[I] != '\n') ++I;
      else
        ++I;
    }
  };
  auto Num = [&]() -> long {
    Skip();
    long V = 0;
    bool Any = false;
    while (I < B.size() && std::isdigit(B[I])) V = V * 10 + (B[I++] - '0'), Any = true;
    return Any ? V : -1;
  };
  if (B.size() < 2 || B[0] != 'P' || (B[1] != '4' && B[1] != '5' && B[1] != '6')) return false;
  const char Kind = static_cast<char>(B[1]);
  I = 2;
  long W = Num(), H = Num(), Max = Kind == '4' ? 1 : Num();
  if (W <= 0 || H <= 0 || (Kind != '4' && (Max < 1 || (Max > 255 && Max != 65535)))) return false;
  ++I;  // the single separator before the raster
  // Two-byte samples (maximum 65535) are taken by their high byte.
  const size_t Bytes = Max == 65535 ? 2 : 1;
  size_t RowBytes = Kind == '4' ? (W + 7) / 8 : Kind == '5' ? W * Bytes : W * 3 * Bytes;
  if (I + RowBytes * H > B.size()) return false;
  Out = TBitmap(static_cast<int32_t>(W), static_cast<int32_t>(H), pf24bit);
  for (long Y = 0; Y < H; ++Y) {
    const uint8_t* Src = B.data() + I + RowBytes * Y;
    uint8_t* Dst = Out.ScanLine(static_cast<int32_t>(Y));
    for (long X = 0; X < W; ++X) {
      uint8_t R, G, Bl;
      if (Kind == '4') {
        R = G = Bl = ((Src[X / 8] >> (7 - X % 8)) & 1) ? 0 : 255;
      } else if (Kind == '5') {
        R = G = Bl = Src[X * Bytes];
      } else {
        R = Src[X * 3 * Bytes], G = Src[(X * 3 + 1) * Bytes], Bl = Src[(X * 3 + 2) * Bytes];
      }
      // Small maxima (1, 3, 15...) are scaled to 255.
      if (Kind != '4' && Max < 255) {
        R = static_cast<uint8_t>(R * 255 / Max);
        G = static_cast<uint8_t>(G * 255 / Max);
        Bl = static_cast<uint8_t>(Bl * 255 / Max);
      }
      Dst[X * 3] = Bl, Dst[X * 3 + 1] = G, Dst[X * 3 + 2] = R;
    }
  }
  return true;
}

void WriteReferencePPM(const TBitmap& Bitmap, const std::string& Path) {
  TBitmap B = As24(Bitmap);
  std::string Head =
      "P6\n" + std::to_string(B.GetWidth()) + " " + std::to_string(B.GetHeight()) + "\n255\n";
  std::vector<uint8_t> Bytes(Head.begin(), Head.end());
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    const uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < B.GetWidth(); ++X)
      Bytes.insert(Bytes.end(), {Row[X * 3 + 2], Row[X * 3 + 1], Row[X * 3]});
  }
  WriteFileBytes(Path, Bytes);
}

bool PeerToPNM(const std::string& Command, const std::string& OutPath, TBitmap& Out) {
  if (RunCommand(Command + " 2>/dev/null") != 0) return false;
  return ReadReferencePNM(OutPath, Out);
}

TBitmap As24(const TBitmap& Bitmap) {
  TBitmap Out;
  if (Bitmap.GetPixelFormat() == pf1bit) {
    bool Abort = false;
    TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
    _Conv1to24(Bitmap, Out, P);
  } else {
    Out.Assign(Bitmap);
    Out.SetPixelFormat(pf24bit);
  }
  return Out;
}

std::vector<uint8_t> ReadFileBytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(F), {});
}

void WriteFileBytes(const std::string& Path, const std::vector<uint8_t>& Bytes) {
  std::ofstream F(Path, std::ios::binary);
  F.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

}  // namespace quillo::test
