#include "quillo/platform/threads.h"

#include <chrono>
#include <exception>

namespace quillo {

TApplication::TApplication() : FMainThread(std::this_thread::get_id()) {}

TApplication& Application() {
  static TApplication App;
  return App;
}

void TApplication::Post(std::function<void()> Method) {
  {
    std::lock_guard<std::mutex> L(FLock);
    FQueue.push_back(std::move(Method));
  }
  FQueued.notify_all();
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
  for (auto& M : Batch) M();
  return static_cast<int32_t>(Batch.size());
}

int32_t TApplication::WaitAndProcess(int32_t Milliseconds) {
  {
    std::unique_lock<std::mutex> L(FLock);
    FQueued.wait_for(L, std::chrono::milliseconds(Milliseconds), [&] { return !FQueue.empty(); });
  }
  return ProcessMessages();
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
