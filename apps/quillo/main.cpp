// quillo: the command-line face of the library.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "apps/quillo/commands.h"
#include "apps/quillo/session.h"
#include "quillo/lzw/lzw.h"
#include "quillo/platform/bitmap.h"
#include "quillo/version.h"

using namespace quillo;
using namespace quillo::tool;

namespace {

const char* ProcessUsage() {
  static const std::string Usage = ProcessHelp();
  return Usage.c_str();
}

const std::vector<TCommand>& Commands() {
  static const std::vector<TCommand> List = {
      {"info", "describe image files: format, size, depth, resolution, parameters",
       "quillo info [--json] FILE...\n\n"
       "Prints the format, size, depth, resolution, palette, image or page count, the format's\n"
       "own parameters and its metadata (JPEG markers, IPTC records, comments, GIF frames and\n"
       "loop, TIFF pages). --json prints one array of objects for scripts.",
       CmdInfo},
      {"convert", "convert an image from one format to another",
       "quillo convert IN OUT [--format EXT] [--params FILE] [--set FIELD=VALUE]...\n\n"
       "The input format is found from the content (or the extension); the output format from\n"
       "OUT's extension, or from --format. The parameters read from IN are used for OUT; a saved\n"
       "parameters file and --set (any parameter by name, enumerations by full or short name,\n"
       "e.g. --set BmpCompression=rle --set BitsPerSample=8) change them.",
       CmdConvert},
      {"process", "run a chain of processing operations on an image", ProcessUsage(), CmdProcess},
      {"frames", "write every frame of a GIF (page of a TIFF) to its own file",
       "quillo frames IN OUTPATTERN\n\nOUTPATTERN holds %d for the frame number (from 0), or gets "
       "-N before its\n"
       "extension; the extension picks the format.",
       CmdFrames},
      {"join", "build an animated GIF or a multi-page TIFF from images",
       "quillo join OUT IN... [--delay CENTISECONDS] [--loop COUNT] [--set FIELD=VALUE]...\n\n"
       "OUT's extension (.gif, .tif) picks the kind; --set applies to every frame or page\n"
       "(e.g. --set TiffCompression=lzw).",
       CmdJoin},
      {"demo", "write the built-in sample in every format and variant, read each back, report",
       "quillo demo [FOLDER]   (default ./quillo-demo)", CmdDemo},
      {"formats", "list the file-format table", "quillo formats", CmdFormats},
  };
  return List;
}

void PrintHelp() {
  std::printf(
      "quillo %s: load, process and save raster images\n\n"
      "usage: quillo [OPTIONS] COMMAND [ARGS...]\n"
      "       quillo COMMAND --help\n"
      "       quillo --version\n\ncommands:\n",
      QuilloVersionString);
  for (const TCommand& C : Commands()) std::printf("  %-10s %s\n", C.Name, C.Summary);
  std::printf(
      "\noptions (anywhere on the line):\n"
      "  --progress        show a progress bar even when standard error is not a terminal\n"
      "  --quiet           no progress bar\n"
      "  --max-pixels N    refuse images of more than N pixels (default %lld)\n"
      "\nExit status: 0 done, 1 a file could not be read or written, 2 bad command line,\n"
      "130 interrupted.\n",
      static_cast<long long>(QLGetMaxPixels()));
}

// Takes the global options out of Args; false (after a message) when one is malformed.
bool TakeGlobalOptions(std::vector<std::string>& Args) {
  std::vector<std::string> Rest;
  for (size_t I = 0; I < Args.size(); ++I) {
    if (Args[I] == "--progress") {
      SetProgressMode(TProgressMode::Always);
    } else if (Args[I] == "--quiet" || Args[I] == "-q") {
      SetProgressMode(TProgressMode::Never);
    } else if (Args[I] == "--max-pixels") {
      char* End = nullptr;
      const long long N = I + 1 < Args.size() ? std::strtoll(Args[I + 1].c_str(), &End, 10) : 0;
      if (I + 1 >= Args.size() || *End || N <= 0) {
        std::fprintf(stderr, "quillo: --max-pixels needs a positive number\n");
        return false;
      }
      QLSetMaxPixels(N);
      ++I;
    } else {
      Rest.push_back(Args[I]);
    }
  }
  Args = std::move(Rest);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QLInstallLZWCoders();
  InstallInterruptHandler();
  std::vector<std::string> Args(argv + 1, argv + argc);
  if (!TakeGlobalOptions(Args)) return 2;
  if (Args.empty()) {
    PrintHelp();
    return 2;
  }
  if (Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help") {
    PrintHelp();
    return 0;
  }
  if (Args[0] == "--version") {
    std::printf("quillo %s\n", QuilloVersionString);
    return 0;
  }
  for (const TCommand& C : Commands()) {
    if (Args[0] != C.Name) continue;
    TArgs Rest(Args.begin() + 1, Args.end());
    for (const std::string& A : Rest)
      if (A == "--help" || A == "-h") {
        std::printf("usage: %s\n\n%s\n", C.Usage, C.Summary);
        return 0;
      }
    try {
      const int Status = C.Run(Rest);
      FinishProgress();
      return Status;
    } catch (const TInterrupted&) {
      FinishProgress();
      std::fprintf(stderr, "quillo %s: interrupted\n", C.Name);
      return 130;
    } catch (const TUsageError& E) {
      // The first line of the usage; --help has the rest.
      const std::string Usage(C.Usage);
      std::fprintf(stderr, "quillo %s: %s\nusage: %s\n(quillo %s --help for more)\n", C.Name,
                   E.Message.c_str(), Usage.substr(0, Usage.find('\n')).c_str(), C.Name);
      return 2;
    } catch (const std::exception& E) {
      FinishProgress();
      std::fprintf(stderr, "quillo %s: %s\n", C.Name, E.what());
      return 1;
    }
  }
  std::fprintf(stderr, "quillo: unknown command \"%s\" (try quillo --help)\n", Args[0].c_str());
  return 2;
}
