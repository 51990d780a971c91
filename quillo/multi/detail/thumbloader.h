// TQLThumbLoader: the thumbnail view's pool of decoding threads. The view hands it the list of
// files it wants now, most wanted first; each worker takes the next one, reads it reduced
// (the JPEG decoder's own scaling), brings it to the cell size and posts the result to the
// user-interface thread, where the view stores it. A new list replaces the old one, so files
// that scrolled out of reach are never started.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/threads.h"
#include "quillo/platform/types.h"
#include "quillo/proc/geometry.h"

namespace quillo {

class TQuilloMView;

struct TQLThumbJob {
  uint64_t Serial;  // the view's record, which keeps it through insertions and deletions
  std::string FileName;
  TColor Background;
};

class TQLThumbLoader {
 public:
  // Threads <= 0: one per core.
  TQLThumbLoader(TQuilloMView& View, int32_t Threads);
  // Stops the workers; results still on their way are dropped.
  ~TQLThumbLoader();
  TQLThumbLoader(const TQLThumbLoader&) = delete;
  TQLThumbLoader& operator=(const TQLThumbLoader&) = delete;

  // Replaces the queue (jobs already running are not repeated). With Reduce, results are made
  // to fit BoxW x BoxH.
  void SetJobs(std::vector<TQLThumbJob> Jobs, bool Reduce, int32_t BoxW, int32_t BoxH,
               TResampleFilter Filter);
  // Jobs queued, running, or done and not yet handed to the view.
  int32_t Pending() const;
  int32_t ThreadCount() const { return static_cast<int32_t>(FWorkers.size()); }

  struct TShared;
  // Hands a result to the view, on the user-interface thread; dropped when the view is gone.
  static void Deliver(TShared& Shared, uint64_t Serial, std::unique_ptr<TBitmap> Thumb,
                      TColor Background, bool Ok);

 private:
  std::shared_ptr<TShared> FShared;
  std::vector<std::unique_ptr<TThread>> FWorkers;
};

}  // namespace quillo
