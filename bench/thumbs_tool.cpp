// thumbs_tool: the thumbnail view over a folder of JPEG photographs, for peers-thumbs.sh.
//   thumbs_tool gen DIR COUNT W H        writes COUNT photographs (JPEG, quality 90) into DIR
//   thumbs_tool view DIR THREADS [SIZE]  shows every JPEG of DIR as SIZE-pixel thumbnails
//                                        (default 128) in a 1280 x 800 view decoded on THREADS
//                                        workers; prints the milliseconds until every visible
//                                        cell is drawn and until every image is in the store,
//                                        and the peak resident memory
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/io/quilloio.h"
#include "quillo/multi/quillomview.h"
#include "quillo/platform/threads.h"

using namespace quillo;

namespace {

int Gen(const std::string& Dir, int32_t Count, int32_t W, int32_t H) {
  std::filesystem::create_directories(Dir);
  // Twenty different pictures, each written at a different quality; the rest are copies of
  // those files under their own names (decoding them is the same work).
  const int32_t Distinct = std::min(Count, 20);
  std::vector<std::string> Made;
  for (int32_t I = 0; I < Distinct; ++I) {
    TBitmap B = bench::PhotoImage(W, H, static_cast<uint32_t>(I + 1));
    TQuilloIO IO;
    IO.SetAttachedBitmap(&B);
    IO.IOParams().JpegQuality = 85 + I % 10;
    char Name[64];
    std::snprintf(Name, sizeof(Name), "/photo%04d.jpg", I);
    IO.SaveToFile(Dir + Name);
    if (IO.Aborting) return 1;
    Made.push_back(Dir + Name);
  }
  for (int32_t I = Distinct; I < Count; ++I) {
    char Name[64];
    std::snprintf(Name, sizeof(Name), "/photo%04d.jpg", I);
    std::filesystem::copy_file(Made[static_cast<size_t>(I % Distinct)], Dir + Name,
                               std::filesystem::copy_options::overwrite_existing);
  }
  return 0;
}

double Ms(std::chrono::steady_clock::time_point T0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
}

int View(const std::string& Dir, int32_t Threads, int32_t Size) {
  std::vector<std::string> Files;
  for (const auto& E : std::filesystem::directory_iterator(Dir))
    if (E.path().extension() == ".jpg") Files.push_back(E.path().string());
  std::sort(Files.begin(), Files.end());
  const auto T0 = std::chrono::steady_clock::now();
  TQuilloMView View;
  View.SetBorderStyle(bsNone);
  View.SetBounds(0, 0, 1280, 800);
  View.SetStoreType(qltThumb);
  View.SetThumbWidth(Size);
  View.SetThumbHeight(Size);
  View.SetGridWidth(-1);
  View.SetPrefetch(-1);
  View.LockPaint();
  for (size_t I = 0; I < Files.size(); ++I) {
    View.InsertImageEx(static_cast<int32_t>(I));
    View.SetImageFileName(static_cast<int32_t>(I), Files[I]);
  }
  View.UnLockPaint();
  TControlHost Host(View);
  View.SetAsyncLoading(true, Threads);
  const int32_t N = View.GetImageCount();
  double Visible = -1;
  for (;;) {
    Application().WaitAndProcess(2);
    bool AllVisible = true;
    for (int32_t I = 0; I < N && AllVisible; ++I)
      if (View.GetImageVisibility(I) > 0 && !View.IsImageLoaded(I)) AllVisible = false;
    if (Visible < 0 && AllVisible) {
      Host.PaintAll();
      Visible = Ms(T0);
    }
    if (View.GetPendingLoads() == 0) break;
  }
  Host.PaintAll();
  const double All = Ms(T0);
  int32_t Loaded = 0;
  for (int32_t I = 0; I < N; ++I) Loaded += View.IsImageLoaded(I) ? 1 : 0;
  rusage U{};
  getrusage(RUSAGE_SELF, &U);
  std::printf("images %d loaded %d visible_ms %.0f all_ms %.0f maxrss_kb %ld store_mb %.1f\n", N,
              Loaded, Visible, All, U.ru_maxrss, View.Store().GetFileSize() / 1048576.0);
  return Loaded == N ? 0 : 1;
}

}  // namespace

int main(int Argc, char** Argv) {
  const std::vector<std::string> A(Argv + 1, Argv + Argc);
  if (A.size() == 5 && A[0] == "gen")
    return Gen(A[1], std::atoi(A[2].c_str()), std::atoi(A[3].c_str()), std::atoi(A[4].c_str()));
  if ((A.size() == 3 || A.size() == 4) && A[0] == "view")
    return View(A[1], std::atoi(A[2].c_str()), A.size() == 4 ? std::atoi(A[3].c_str()) : 128);
  std::fprintf(stderr, "usage: thumbs_tool gen DIR COUNT W H | view DIR THREADS [SIZE]\n");
  return 2;
}
