// quillo: the command-line face of the library.
#include <algorithm>
#include <cerrno>
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
       "own parameters (a JPEG's quality as estimated from its tables) and its metadata (JPEG\n"
       "markers, IPTC records, comments, GIF frames and loop, TIFF pages; an AVI video's frame\n"
       "count, size, rate and codec). --json prints one\n"
       "array of objects for scripts: UTF-8 strings, numbers as numbers.",
       CmdInfo},
      {"convert", "convert an image, or every frame or page of one, to another format",
       "quillo convert IN OUT [--frame N | --page N] [--format EXT] [--params FILE]\n"
       "               [--set FIELD=VALUE]...\n\n"
       "The input format is found from the content (or the extension); the output format from\n"
       "OUT's extension, or from --format. The parameters read from IN are used for OUT; a saved\n"
       "parameters file and --set (any parameter by name, enumerations by full or short name,\n"
       "e.g. --set BmpCompression=rle --set BitsPerSample=8) change them.\n"
       "Every frame of a GIF and page of a TIFF is kept when OUT holds several (GIF, TIFF), with\n"
       "its delay, position, disposal and compression; --frame or --page picks one. A JPEG\n"
       "keeps its quality (estimated from its tables), other images are written as JPEG at\n"
       "quality 90.\n"
       "What OUT cannot keep (other frames, alpha, 16-bit samples, CMYK or Lab, colours) is\n"
       "said on standard error.",
       CmdConvert},
      {"process", "run a chain of processing operations on an image", ProcessUsage(), CmdProcess},
      {"frames", "write every frame of a GIF or AVI video (page of a TIFF) to its own file",
       "quillo frames IN OUTPATTERN\n\nOUTPATTERN holds %d for the frame number (from 0), or gets "
       "-N before its\n"
       "extension; the extension picks the format. AVI videos are decoded through FFmpeg\n"
       "(uncompressed, MJPEG, MPEG-4, H.264 and whatever else the installed FFmpeg decodes).",
       CmdFrames},
      {"join", "build an animated GIF, a multi-page TIFF or an AVI video from images",
       "quillo join OUT IN... [--delay CENTISECONDS] [--loop COUNT] [--set FIELD=VALUE]...\n"
       "quillo join OUT.avi IN... [--delay MS] [--codec raw|mjpeg|ffv1]\n"
       "                          [--set JpegQuality=Q]\n\n"
       "OUT's extension (.gif, .tif, .avi) picks the kind; --set applies to every frame or page\n"
       "(e.g. --set TiffCompression=lzw). A video's frames are --delay milliseconds apart\n"
       "(default 40, 25 frames a second) and take the first image's size (an image of another\n"
       "size repeats the frame before it); --codec picks uncompressed frames (the default),\n"
       "Motion JPEG at JpegQuality (default 75) or lossless FFV1.",
       CmdJoin},
      {"print", "print an image, or every frame or page of one, to a PDF file or a printer",
       "quillo print IN (--pdf OUT.pdf | --printer NAME) [--paper A4|A3|A5|Letter|Legal|W,H]\n"
       "             [--landscape] [--dpi N] [--fit | --stretch | --size W,H]\n"
       "             [--margins L,T,R,B] [--position left|center|right,top|center|bottom]\n"
       "             [--gamma G] [--frame N | --page N]\n"
       "quillo print --list\n\n"
       "Lengths are in inches, or in mm or cm with that suffix. Without --fit, --stretch or\n"
       "--size the image is printed at its own resolution; it is centred inside margins of half\n"
       "an inch unless --position says otherwise. Every frame of a GIF and page of a TIFF gets\n"
       "a page of its own; --frame or --page picks one. The PDF printer (300 dpi by default)\n"
       "embeds each page losslessly, and the file appears only when complete. --list names the\n"
       "printers there are.",
       CmdPrint},
      {"acquire", "scan a page, or every page of a document feeder, into image files",
       "quillo acquire [--device NAME] [--resolution N] [--mode color|gray|lineart] [--feeder]\n"
       "               OUT\n"
       "quillo acquire --list\n\n"
       "Scans from a scanner (through SANE; SANE_DEFAULT_DEVICE picks the default one) and\n"
       "writes the page to OUT, whose extension picks the format. --device takes a device name\n"
       "as --list shows it, or the beginning of a scanner's name; --resolution is in dots per\n"
       "inch; without --mode or --resolution the scanner's current settings are used.\n"
       "--feeder scans every page in the document feeder: a .tif or .gif OUT holds them all,\n"
       "other formats get one file per page, named OUT with -1, -2... before the extension.\n"
       "--list names the scanners there are: device name, then scanner name.",
       CmdAcquire},
      {"demo", "write the built-in sample in every format and variant, read each back, report",
       "quillo demo [FOLDER]   (default ./quillo-demo)", CmdDemo},
      {"formats", "list the file-format table", "quillo formats", CmdFormats},
  };
  return List;
}

const char* const kSynopsis =
    "quillo [OPTIONS] COMMAND [ARGS...]\n"
    "quillo help COMMAND   (or quillo COMMAND --help)\n"
    "quillo --version";

std::string Options() {
  return "  --progress        show a progress bar (on standard error) even when it is not a "
         "terminal\n"
         "  --quiet           no progress bar and no warnings\n"
         "  --max-pixels N    refuse images of more than N pixels (default " +
         std::to_string(QLGetMaxPixels()) + ")\n";
}

const char* const kStreams =
    "A file name \"-\" is standard input (info, convert, process; the format is found from the\n"
    "content) or standard output (convert, process, join; the format from --format EXT or an\n"
    "EXT: prefix, as in png:-). Example: cat in.tif | quillo convert - png:- | quillo info -";

const char* const kExitStatus =
    "0 done, 1 a file could not be read or written, 2 bad command line, 130 interrupted,\n"
    "141 standard output closed by its reader.";

void PrintHelp() {
  std::printf("quillo %s: load, process and save raster images\n\n", QuilloVersionString);
  const std::string Synopsis = kSynopsis;
  for (size_t From = 0, Line = 0; From < Synopsis.size(); ++Line) {
    const size_t To = std::min(Synopsis.find('\n', From), Synopsis.size());
    std::printf("%s%s\n", Line ? "       " : "usage: ", Synopsis.substr(From, To - From).c_str());
    From = To + 1;
  }
  std::printf("\ncommands:\n");
  for (const TCommand& C : Commands()) std::printf("  %-10s %s\n", C.Name, C.Summary);
  std::printf("\noptions (anywhere on the line):\n%s\n%s\n\nExit status: %s\n", Options().c_str(),
              kStreams, kExitStatus);
}

// Text for a roff document: backslashes and hyphens escaped, no line read as a request.
std::string Roff(const std::string& Text) {
  std::string Out;
  bool LineStart = true;
  for (const char C : Text) {
    if (LineStart && (C == '.' || C == '\'')) Out += "\\&";
    if (C == '\\')
      Out += "\\e";
    else if (C == '-')
      Out += "\\-";
    else
      Out += C;
    LineStart = C == '\n';
  }
  return Out;
}

// The manual page, made from the same texts as --help and each command's --help.
void PrintManual() {
  std::string M = ".TH QUILLO 1 \"\" \"quillo " + std::string(QuilloVersionString) +
                  "\" \"User Commands\"\n"
                  ".SH NAME\nquillo \\- load, process and save raster images\n"
                  ".SH SYNOPSIS\n.nf\n" +
                  Roff(kSynopsis) + "\n.fi\n.SH DESCRIPTION\n" + Roff(kStreams) +
                  "\n.SH COMMANDS\n";
  for (const TCommand& C : Commands())
    M += ".SS " + std::string(C.Name) + "\n" + Roff(C.Summary) + "\n.PP\n.nf\n" + Roff(C.Usage) +
         "\n.fi\n";
  M += ".SH OPTIONS\nAnywhere on the line.\n.PP\n.nf\n" + Roff(Options()) +
       ".fi\n.SH EXIT STATUS\n" + Roff(kExitStatus) + "\n";
  std::fputs(M.c_str(), stdout);
}

// Exit status of a process ended by SIGPIPE, as the shell reports it.
constexpr int kBrokenPipeStatus = 141;

// The status to end with once output has been printed: a reader of standard output that went
// away ends the tool quietly.
int Finish(int Status) {
  if (std::fflush(stdout) != 0 && errno == EPIPE) return kBrokenPipeStatus;
  return Status;
}

// Takes the global options out of Args; false (after a message) when one is malformed.
bool TakeGlobalOptions(std::vector<std::string>& Args) {
  std::vector<std::string> Rest;
  for (size_t I = 0; I < Args.size(); ++I) {
    if (Args[I] == "--progress") {
      SetProgressMode(TProgressMode::Always);
    } else if (Args[I] == "--quiet" || Args[I] == "-q") {
      SetProgressMode(TProgressMode::Never);
      SetQuiet(true);
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
  // "help COMMAND" is "COMMAND --help".
  if (Args[0] == "help" && Args.size() > 1) Args = {Args[1], "--help"};
  if (Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help") {
    PrintHelp();
    return Finish(0);
  }
  if (Args[0] == "--version") {
    std::printf("quillo %s\n", QuilloVersionString);
    return Finish(0);
  }
  if (Args[0] == "--manual") {
    PrintManual();
    return Finish(0);
  }
  for (const TCommand& C : Commands()) {
    if (Args[0] != C.Name) continue;
    TArgs Rest(Args.begin() + 1, Args.end());
    for (const std::string& A : Rest)
      if (A == "--help" || A == "-h") {
        std::printf("usage: %s\n\n%s\n", C.Usage, C.Summary);
        return Finish(0);
      }
    try {
      const int Status = C.Run(Rest);
      FinishProgress();
      return Finish(Status);
    } catch (const TBrokenPipe&) {
      FinishProgress();
      return kBrokenPipeStatus;
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
