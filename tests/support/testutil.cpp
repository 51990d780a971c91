#include "tests/support/testutil.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "quillo/core/pixels.h"

namespace quillo::test {

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

bool HaveProgram(const std::string& Name) {
  return RunCommand("command -v '" + Name + "' >/dev/null 2>&1") == 0;
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
