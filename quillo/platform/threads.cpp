#include "quillo/platform/threads.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace quillo {

TApplication::TApplication() : FMainThread(std::this_thread::get_id()) {}

TApplication& Application() {
  static TApplication App;
  return App;
}

void TApplication::Post(std::function<void()> Method) {
  std::function<void()> Wake;
  {
    std::lock_guard<std::mutex> L(FLock);
    FQueue.push_back(std::move(Method));
    Wake = FWakeHook;
  }
  FQueued.notify_all();
  if (Wake) Wake();
}

void TApplication::SetWakeHook(std::function<void()> Hook) {
  std::lock_guard<std::mutex> L(FLock);
  FWakeHook = std::move(Hook);
}

void TApplication::Send(const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  std::mutex M;
  std::condition_variable Done;
  bool Finished = false;
  std::exception_ptr Error;
  Post([&] {
    try {
      Method();
    } catch (...) {
      Error = std::current_exception();
    }
    std::lock_guard<std::mutex> L(M);
    Finished = true;
    Done.notify_all();
  });
  std::unique_lock<std::mutex> L(M);
  Done.wait(L, [&] { return Finished; });
  if (Error) std::rethrow_exception(Error);
}

int32_t TApplication::ProcessMessages() {
  std::deque<std::function<void()>> Batch;
  {
    std::lock_guard<std::mutex> L(FLock);
    Batch.swap(FQueue);
  }
  EnterDispatch();
  int32_t Ran = 0;
  try {
    for (auto& M : Batch) M();
    Ran = static_cast<int32_t>(Batch.size());
    if (!FVirtual) Ran += FireDue(Now());
  } catch (...) {
    LeaveDispatch();
    throw;
  }
  LeaveDispatch();
  return Ran;
}

int32_t TApplication::WaitAndProcess(int32_t Milliseconds) {
  int64_t Wait = Milliseconds;
  const int64_t Next = FVirtual ? -1 : NextTimerDue();
  if (Next >= 0) Wait = std::min(Wait, Next);
  {
    std::unique_lock<std::mutex> L(FLock);
    FQueued.wait_for(L, std::chrono::milliseconds(Wait), [&] { return !FQueue.empty(); });
  }
  return ProcessMessages();
}

void TApplication::Run() {
  FTerminated = false;
  if (FRunHook) {
    FRunHook();
    return;
  }
  while (!FTerminated) WaitAndProcess(50);
}

void TApplication::Terminate() {
  FTerminated = true;
  if (FQuitHook) FQuitHook();
}

void TApplication::SetLoopHooks(std::function<void()> RunLoop, std::function<void()> QuitLoop) {
  FRunHook = std::move(RunLoop);
  FQuitHook = std::move(QuitLoop);
}

int64_t TApplication::Now() const {
  if (FVirtual) return FVirtualNow;
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TApplication::UseVirtualClock(bool On) {
  const int64_t Before = Now();
  FVirtual = On;
  FVirtualNow = 0;
  // Timers keep the time they still have to run.
  const int64_t After = Now();
  for (TTimerEntry& T : FTimers) T.Due += After - Before;
}

TApplication::TTimerHandle TApplication::AddTimer(int32_t Interval,
                                                  std::function<void()> Callback) {
  const int32_t I = std::max(Interval, 1);
  FTimers.push_back({FNextTimer, I, Now() + I, std::move(Callback)});
  std::function<void()> Wake;
  {
    std::lock_guard<std::mutex> L(FLock);
    Wake = FWakeHook;
  }
  if (Wake) Wake();
  return FNextTimer++;
}

void TApplication::RemoveTimer(TTimerHandle Handle) {
  for (auto It = FTimers.begin(); It != FTimers.end(); ++It)
    if (It->Handle == Handle) {
      FTimers.erase(It);
      return;
    }
}

int64_t TApplication::NextTimerDue() const {
  if (FTimers.empty()) return -1;
  int64_t Due = FTimers.front().Due;
  for (const TTimerEntry& T : FTimers) Due = std::min(Due, T.Due);
  return std::max<int64_t>(Due - Now(), 0);
}

int32_t TApplication::FireDue(int64_t Upto) {
  int32_t Fired = 0;
  for (;;) {
    // The earliest due timer; on a tie the one added first (handles grow).
    size_t Best = FTimers.size();
    for (size_t I = 0; I < FTimers.size(); ++I) {
      const TTimerEntry& T = FTimers[I];
      if (T.Due > Upto) continue;
      if (Best == FTimers.size() || T.Due < FTimers[Best].Due ||
          (T.Due == FTimers[Best].Due && T.Handle < FTimers[Best].Handle))
        Best = I;
    }
    if (Best == FTimers.size()) return Fired;
    TTimerEntry& T = FTimers[Best];
    if (FVirtual) FVirtualNow = std::max(FVirtualNow, T.Due);
    // A real clock that fell behind skips the missed ticks instead of firing them in a burst.
    T.Due = FVirtual ? T.Due + T.Interval : std::max(T.Due + T.Interval, Upto + 1);
    // The callback may add or remove timers (this one too): run a copy.
    const std::function<void()> Callback = T.Callback;
    ++Fired;
    Callback();
  }
}

void TApplication::AdvanceClock(int64_t Milliseconds) {
  if (!FVirtual) return;
  const int64_t Target = FVirtualNow + std::max<int64_t>(Milliseconds, 0);
  EnterDispatch();
  try {
    FireDue(Target);
  } catch (...) {
    LeaveDispatch();
    throw;
  }
  FVirtualNow = Target;
  LeaveDispatch();
}

void TApplication::ReleaseLater(std::unique_ptr<TObject> Object) {
  if (!Object) return;
  FReleased.push_back(std::move(Object));
  if (FDispatchDepth == 0) FreeReleased();
}

void TApplication::LeaveDispatch() {
  if (FDispatchDepth > 0) --FDispatchDepth;
  if (FDispatchDepth == 0) FreeReleased();
}

void TApplication::FreeReleased() {
  // Freeing may release more; take them in rounds.
  while (!FReleased.empty()) {
    std::vector<std::unique_ptr<TObject>> Batch;
    Batch.swap(FReleased);
    Batch.clear();
  }
}

// ---------------------------------------------------------------------------------------------

TTimer::~TTimer() {
  if (FHandle) Application().RemoveTimer(FHandle);
}

void TTimer::SetEnabled(bool V) {
  FEnabled = V;
  Restart();
}

void TTimer::SetInterval(int32_t V) {
  FInterval = V;
  Restart();
}

void TTimer::Restart() {
  if (FHandle) Application().RemoveTimer(FHandle);
  FHandle = 0;
  if (FEnabled && FInterval > 0)
    FHandle = Application().AddTimer(FInterval, [this] {
      if (OnTimer) OnTimer(this);
    });
}

// ---------------------------------------------------------------------------------------------

TThread::TThread(bool CreateSuspended) {
  Application();  // fix the main thread before any worker exists
  if (!CreateSuspended) Start();
}

TThread::~TThread() {
  StopAndWait();
}

void TThread::StopAndWait() {
  if (!FStarted || !FThread.joinable()) return;
  Terminate();
  if (std::this_thread::get_id() == FThread.get_id()) {
    // Destroyed by its own body: nothing to wait for.
    FThread.detach();
    return;
  }
  while (!FFinished) {
    StopRequested();
    if (Application().IsMainThread())
      Application().WaitAndProcess(5);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  FThread.join();
}

void TThread::Start() {
  if (FStarted) return;
  FStarted = true;
  FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    // A body that fails ends like one that returns; its work reports through its own state.
  }
  Application().Post([this] {
    DoTerminate();
    FFinished = true;
    if (FSelfOwned) {
      std::unique_ptr<TThread> Self(this);
    }
  });
}

void TThread::WaitFor() {
  if (!FStarted) return;
  while (!FFinished) {
    if (Application().IsMainThread())
      Application().WaitAndProcess(5);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void TThread::FreeOnTerminate(std::unique_ptr<TThread> Thread) {
  TThread* T = Thread.release();
  T->FSelfOwned = true;
  T->Start();
}

}  // namespace quillo
