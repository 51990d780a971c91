#include "quillo/multi/detail/thumbloader.h"

#include <algorithm>
#include <thread>
#include <unordered_set>

#include "quillo/io/quilloio.h"
#include "quillo/multi/quillomview.h"

namespace quillo {

struct TQLThumbLoader::TShared {
  mutable std::mutex Lock;
  std::condition_variable Wake;
  std::deque<TQLThumbJob> Queue;
  std::unordered_set<uint64_t> Running;
  int32_t Posted = 0;  // results posted and not yet delivered
  bool Reduce = false;
  int32_t BoxW = 100, BoxH = 100;
  TResampleFilter Filter = rfBSpline;
  bool Stop = false;
  // Read and cleared on the user-interface thread only.
  TQuilloMView* View = nullptr;
};

namespace {

class TWorker : public TThread {
 public:
  explicit TWorker(std::shared_ptr<TQLThumbLoader::TShared> Shared)
      : TThread(true), FShared(std::move(Shared)) {}
  ~TWorker() override { StopAndWait(); }

 protected:
  void StopRequested() override {
    std::lock_guard<std::mutex> G(FShared->Lock);
    FShared->Stop = true;
    FShared->Wake.notify_all();
  }

  void Execute() override {
    auto& S = *FShared;
    for (;;) {
      TQLThumbJob Job;
      bool Reduce;
      int32_t BoxW, BoxH;
      TResampleFilter Filter;
      {
        std::unique_lock<std::mutex> G(S.Lock);
        S.Wake.wait(G, [&] { return S.Stop || GetTerminated() || !S.Queue.empty(); });
        if (S.Stop || GetTerminated()) return;
        Job = std::move(S.Queue.front());
        S.Queue.pop_front();
        S.Running.insert(Job.Serial);
        Reduce = S.Reduce;
        BoxW = S.BoxW;
        BoxH = S.BoxH;
        Filter = S.Filter;
      }
      auto Thumb = std::make_unique<TBitmap>(1, 1, pf24bit);
      TColor Background = Job.Background;
      bool Ok = Decode(Job, Reduce, BoxW, BoxH, Filter, *Thumb, Background);
      std::shared_ptr<TBitmap> Result(Thumb.release());
      {
        std::lock_guard<std::mutex> G(S.Lock);
        S.Running.erase(Job.Serial);
        ++S.Posted;
      }
      std::shared_ptr<TQLThumbLoader::TShared> Shared = FShared;
      const uint64_t Serial = Job.Serial;
      Application().Post([Shared, Serial, Result, Background, Ok] {
        TQLThumbLoader::Deliver(*Shared, Serial, std::make_unique<TBitmap>(std::move(*Result)),
                                Background, Ok);
      });
    }
  }

 private:
  static bool Decode(const TQLThumbJob& Job, bool Reduce, int32_t BoxW, int32_t BoxH,
                     TResampleFilter Filter, TBitmap& Out, TColor& Background) {
    TBitmap B(1, 1, pf24bit);
    TQuilloIO IO;
    IO.SetAttachedBitmap(&B);
    IO.SetBackground(Job.Background);
    if (Reduce) {
      IO.IOParams().JpegScale = ioJPEG_AUTOCALC;
      IO.IOParams().Width = BoxW;
      IO.IOParams().Height = BoxH;
    } else {
      IO.IOParams().JpegScale = ioJPEG_FULLSIZE;
    }
    try {
      IO.LoadFromFile(Job.FileName);
    } catch (const std::exception&) {
      return false;
    }
    IO.SetAttachedBitmap(nullptr);
    if (IO.Aborting || B.Empty()) return false;
    Background = IO.GetBackground();
    if (!Reduce) {
      Out = std::move(B);
      return true;
    }
    return QLMakeThumbnail(B, BoxW, BoxH, Filter, Out);
  }

  std::shared_ptr<TQLThumbLoader::TShared> FShared;
};

}  // namespace

void TQLThumbLoader::Deliver(TShared& Shared, uint64_t Serial, std::unique_ptr<TBitmap> Thumb,
                             TColor Background, bool Ok) {
  {
    std::lock_guard<std::mutex> G(Shared.Lock);
    --Shared.Posted;
  }
  if (Shared.View) Shared.View->Arrived(Serial, std::move(Thumb), Background, Ok);
}

TQLThumbLoader::TQLThumbLoader(TQuilloMView& View, int32_t Threads)
    : FShared(std::make_shared<TShared>()) {
  FShared->View = &View;
  if (Threads <= 0)
    Threads = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  for (int32_t I = 0; I < Threads; ++I) {
    FWorkers.push_back(std::make_unique<TWorker>(FShared));
    FWorkers.back()->Start();
  }
}

TQLThumbLoader::~TQLThumbLoader() {
  FShared->View = nullptr;
  {
    std::lock_guard<std::mutex> G(FShared->Lock);
    FShared->Stop = true;
    FShared->Queue.clear();
  }
  FShared->Wake.notify_all();
  FWorkers.clear();
}

void TQLThumbLoader::SetJobs(std::vector<TQLThumbJob> Jobs, bool Reduce, int32_t BoxW, int32_t BoxH,
                             TResampleFilter Filter) {
  {
    std::lock_guard<std::mutex> G(FShared->Lock);
    FShared->Queue.clear();
    for (auto& J : Jobs)
      if (!FShared->Running.count(J.Serial)) FShared->Queue.push_back(std::move(J));
    FShared->Reduce = Reduce;
    FShared->BoxW = BoxW;
    FShared->BoxH = BoxH;
    FShared->Filter = Filter;
  }
  FShared->Wake.notify_all();
}

int32_t TQLThumbLoader::Pending() const {
  std::lock_guard<std::mutex> G(FShared->Lock);
  return static_cast<int32_t>(FShared->Queue.size() + FShared->Running.size()) + FShared->Posted;
}

}  // namespace quillo
