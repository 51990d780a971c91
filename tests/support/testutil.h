// Helpers shared by the test suites: temporary folders, generated images, peer tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/platform/bitmap.h"

namespace quillo::test {

// A fresh folder removed (with its content) when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }

 private:
  std::string FPath;
};

// Starts recording the largest single allocation, from zero. False where the sanitizers'
// allocator does not run the process (a build without them): nothing is measured then, and a
// test passes its check over.
bool StartMeasuringAllocations();
// The largest single allocation since the last start.
size_t LargestAllocation();

// A W x H 24-bit bitmap of deterministic pseudo-random pixels.
TBitmap RandomBitmap24(int32_t W, int32_t H, uint32_t Seed);
// A W x H 1-bit bitmap of deterministic pseudo-random bits.
TBitmap RandomBitmap1(int32_t W, int32_t H, uint32_t Seed);
// True when both bitmaps have the same size and format and equal pixels (padding ignored).
bool SamePixels(const TBitmap& A, const TBitmap& B);

// The pixels of colour C as a picture, one string per row ('#' for C, '.' otherwise).
std::vector<std::string> Picture(TBitmap& B, TColor C);

// Runs a shell command; returns its exit status and puts standard output into Output.
int RunCommand(const std::string& Command, std::string* Output = nullptr);
// True when a program of that name is on the PATH. Peer cross-checks skip without their peer,
// but with QUILLO_REQUIRE_PEERS=1 in the environment (as CI sets it) a missing peer also fails
// the test, so that a passing run has always compared against the peers.
bool HaveProgram(const std::string& Name);
// The same rule for a peer found some other way (a library, a font, a delegate): returns Found.
bool PeerAvailable(bool Found, const std::string& What);

// An independent reader of binary netpbm files (P4, P5, P6; maxima up to 255 scaled to 255, or
// 65535 taking each sample's high byte) as peers write them, giving a 24-bit bitmap; false when
// the file is not one.
bool ReadReferencePNM(const std::string& Path, TBitmap& Out);
// Writes a 24-bit bitmap as a binary P6 file, independently of the library's codecs.
void WriteReferencePPM(const TBitmap& Bitmap, const std::string& Path);
// Runs a peer command (a shell line) that writes a netpbm file to OutPath, and reads it; false
// when the command fails.
bool PeerToPNM(const std::string& Command, const std::string& OutPath, TBitmap& Out);
// The bitmap as 24-bit (1-bit expanded: 1 white, 0 black).
TBitmap As24(const TBitmap& Bitmap);

std::vector<uint8_t> ReadFileBytes(const std::string& Path);
void WriteFileBytes(const std::string& Path, const std::vector<uint8_t>& Bytes);

}  // namespace quillo::test
