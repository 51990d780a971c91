// The application's main-thread queue and threads that synchronise with it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "quillo/platform/classes.h"

namespace quillo {

// The main thread's message queue. The thread that first touches Application() is the main
// thread; a host backend (or a test) calls ProcessMessages to run what other threads queued.
class TApplication : public TObject {
 public:
  // Queues Method to run on the main thread; returns at once.
  void Post(std::function<void()> Method);
  // Runs Method on the main thread and waits until it has run (at once when called there).
  // Exceptions raised by Method are passed back to the caller.
  void Send(const std::function<void()>& Method);
  // Runs everything queued so far; returns how many methods ran. Main thread only.
  int32_t ProcessMessages();
  // Waits up to Milliseconds for something to be queued, then runs what is there.
  int32_t WaitAndProcess(int32_t Milliseconds);
  bool IsMainThread() const { return std::this_thread::get_id() == FMainThread; }

 private:
  friend TApplication& Application();
  TApplication();
  std::thread::id FMainThread;
  std::mutex FLock;
  std::condition_variable FQueued;
  std::deque<std::function<void()>> FQueue;
};

TApplication& Application();

// A thread running Execute. Destroying the object asks the body to stop (Terminate) and waits
// for it, running the main-thread queue meanwhile so that a body inside Synchronize can finish.
class TThread : public TObject {
 public:
  explicit TThread(bool CreateSuspended = true);
  ~TThread() override;

  // Starts a suspended thread (once).
  void Start();
  void Terminate() { FTerminated = true; }
  bool GetTerminated() const { return FTerminated; }
  bool GetFinished() const { return FFinished; }
  // Waits for the body to end, running the main-thread queue when called on the main thread.
  void WaitFor();
  // Hands the thread over to itself: it starts (if suspended) and is destroyed on the main
  // thread after its body ends.
  static void FreeOnTerminate(std::unique_ptr<TThread> Thread);

 protected:
  virtual void Execute() = 0;
  // Runs Method on the main thread and waits for it.
  void Synchronize(const std::function<void()>& Method) { Application().Send(Method); }
  // Called on the main thread after Execute ended (and before a FreeOnTerminate deletion).
  virtual void DoTerminate() {}
  // Called while StopAndWait waits for a running body; derived classes use it to keep asking
  // their work to stop.
  virtual void StopRequested() {}
  // Terminates and waits for the body (and its end-of-thread step). Derived destructors call it
  // first, so that StopRequested and DoTerminate still see their members.
  void StopAndWait();

 private:
  void Run();
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FStarted = false;
  bool FSelfOwned = false;
};

}  // namespace quillo
