// quillo: the command-line face of the library.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "quillo/quillo.h"

using namespace quillo;

namespace {

struct Command {
  const char* Name;
  const char* Summary;
  const char* Usage;
  std::function<int(const std::vector<std::string>&)> Run;
};

int CmdFormats(const std::vector<std::string>&) {
  std::printf("%-5s  %-36s  %s\n", "type", "format", "extensions");
  for (const auto& Row : qlgFileFormats())
    std::printf("%-5d  %-36s  %s\n", Row->FileType, Row->FullName.c_str(), Row->Extensions.c_str());
  return 0;
}

// Draws the built-in sample: colour ramps with a few hard edges, so that every codec has both
// smooth areas and detail to get right.
void DrawSample(TBitmap& B, int32_t W, int32_t H) {
  B.SetPixelFormat(pf24bit);
  B.SetSize(W, H);
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      bool Check = ((X / 16) + (Y / 16)) % 2 == 0;
      Row[X * 3 + 0] = static_cast<uint8_t>(X * 255 / (W - 1));
      Row[X * 3 + 1] = static_cast<uint8_t>(Y * 255 / (H - 1));
      Row[X * 3 + 2] = static_cast<uint8_t>(Check ? 220 : 40);
    }
  }
}

int CmdDemo(const std::vector<std::string>&) {
  std::printf("quillo %s demo\n\n", QuilloVersionString);
  TBitmap Sample;
  DrawSample(Sample, 320, 240);
  std::printf("sample image: %d x %d, 24-bit\n", Sample.GetWidth(), Sample.GetHeight());

  // The image model: a two-colour copy of a thresholded sample goes to 1 bit and back.
  TBitmap Bw(Sample.GetWidth(), Sample.GetHeight(), pf24bit);
  for (int32_t Y = 0; Y < Bw.GetHeight(); ++Y) {
    const uint8_t* S = Sample.ScanLine(Y);
    uint8_t* D = Bw.ScanLine(Y);
    for (int32_t X = 0; X < Bw.GetWidth(); ++X) {
      uint8_t V = S[X * 3 + 2] > 128 ? 255 : 0;
      D[X * 3] = D[X * 3 + 1] = D[X * 3 + 2] = V;
    }
  }
  TRGB C1, C2;
  auto OneBit = _ConvertTo1bit(Bw, C1, C2);
  TBitmap Back;
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  if (OneBit) _Conv1to24(*OneBit, Back, P);
  bool Same = OneBit && Back.BitsSize() == Bw.BitsSize() &&
              std::memcmp(Back.Bits(), Bw.Bits(), static_cast<size_t>(Bw.BitsSize())) == 0;
  std::printf("1-bit round trip of the thresholded sample: %s\n", Same ? "exact" : "DIFFERENT");

  // Parameters survive their persisted form.
  TIOParamsVals Params;
  Params.FileType = ioBMP;
  Params.BmpVersion = ioBMP_BMOS2V1;
  Params.Width = Sample.GetWidth();
  Params.Height = Sample.GetHeight();
  TMemoryStream Stored;
  Params.SaveToStream(Stored);
  Stored.SetPosition(0);
  TIOParamsVals Loaded;
  Loaded.LoadFromStream(Stored);
  std::printf("parameters: %lld bytes stored, read back as \"%s\"\n",
              static_cast<long long>(Stored.GetSize()), Loaded.GetFileTypeStr().c_str());

  std::printf("\nformats known to this build:\n");
  CmdFormats({});
  return Same ? 0 : 1;
}

std::vector<Command>& Commands() {
  static std::vector<Command> List = {
      {"demo", "run the built-in sample through the library and print what happened", "quillo demo",
       CmdDemo},
      {"formats", "list the file-format table", "quillo formats", CmdFormats},
  };
  return List;
}

void PrintHelp() {
  std::printf(
      "quillo %s: load, process and save raster images\n\n"
      "usage: quillo COMMAND [ARGS...]\n"
      "       quillo COMMAND --help\n"
      "       quillo --version\n\ncommands:\n",
      QuilloVersionString);
  for (const Command& C : Commands()) std::printf("  %-10s %s\n", C.Name, C.Summary);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> Args(argv + 1, argv + argc);
  if (Args.empty() || Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help") {
    PrintHelp();
    return Args.empty() ? 2 : 0;
  }
  if (Args[0] == "--version") {
    std::printf("quillo %s\n", QuilloVersionString);
    return 0;
  }
  for (const Command& C : Commands()) {
    if (Args[0] != C.Name) continue;
    std::vector<std::string> Rest(Args.begin() + 1, Args.end());
    for (const std::string& A : Rest)
      if (A == "--help" || A == "-h") {
        std::printf("%s\n\n%s\n", C.Usage, C.Summary);
        return 0;
      }
    try {
      return C.Run(Rest);
    } catch (const std::exception& E) {
      std::fprintf(stderr, "quillo %s: %s\n", C.Name, E.what());
      return 1;
    }
  }
  std::fprintf(stderr, "quillo: unknown command \"%s\" (try quillo --help)\n", Args[0].c_str());
  return 2;
}
