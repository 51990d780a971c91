// The application's main-thread queue and threads that synchronise with it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "quillo/platform/classes.h"

namespace quillo {

// The main thread's message queue, its timers and its deferred frees. The thread that first
// touches Application() is the main thread; a host backend (or a test) calls ProcessMessages
// to run what other threads queued and the timers that are due.
//
// Time is the steady clock in milliseconds, or, for tests, a virtual clock that stands still
// until AdvanceClock moves it and fires the timers due on the way, in order.
class TApplication : public TObject {
 public:
  using TTimerHandle = int64_t;
  // Queues Method to run on the main thread; returns at once.
  void Post(std::function<void()> Method);
  // Runs Method on the main thread and waits until it has run (at once when called there).
  // Exceptions raised by Method are passed back to the caller.
  void Send(const std::function<void()>& Method);
  // Runs everything queued so far and the timers that are due, then frees what was released;
  // returns how many methods and timers ran. Main thread only.
  int32_t ProcessMessages();
  // Waits up to Milliseconds (less when a timer falls due sooner) for something to be queued,
  // then runs what is there.
  int32_t WaitAndProcess(int32_t Milliseconds);
  bool IsMainThread() const { return std::this_thread::get_id() == FMainThread; }

  // Runs the loop until Terminate: queued methods and timers as they come. A window backend
  // installs its own loop (SetLoopHooks), which then runs here and calls ProcessMessages.
  void Run();
  void Terminate();
  // The backend's loop and the way to end it; unset, Run and Terminate use the built-in loop.
  void SetLoopHooks(std::function<void()> RunLoop, std::function<void()> QuitLoop);
  bool GetTerminated() const { return FTerminated; }

  // Timers: Callback runs on the main thread every Interval milliseconds (at least 1) until
  // the timer is removed. Removing a timer from inside a callback is fine.
  TTimerHandle AddTimer(int32_t Interval, std::function<void()> Callback);
  void RemoveTimer(TTimerHandle Handle);
  // The time now, in milliseconds.
  int64_t Now() const;
  // Switches to the virtual clock (standing at 0) or back to the steady clock.
  void UseVirtualClock(bool On);
  bool UsesVirtualClock() const { return FVirtual; }
  // Moves the virtual clock forward by Milliseconds, firing every timer due on the way at its
  // due time, earliest first (ties in the order the timers were added).
  void AdvanceClock(int64_t Milliseconds);
  // Milliseconds until the next timer is due (0 when one is due), -1 when there is none.
  int64_t NextTimerDue() const;

  // A window backend's loop installs this: it is called (on any thread) when a method is
  // queued or a timer is added, so that the loop wakes and calls ProcessMessages in time.
  void SetWakeHook(std::function<void()> Hook);

  // Frees Object once no input handler, queued method or timer is running: a control can
  // release itself from inside its own handler and be freed after the handler returns.
  void ReleaseLater(std::unique_ptr<TObject> Object);
  // Brackets a dispatch (a host's input event); frees what was released when the outermost
  // one ends.
  void EnterDispatch() { ++FDispatchDepth; }
  void LeaveDispatch();

 private:
  friend TApplication& Application();
  TApplication();
  struct TTimerEntry {
    TTimerHandle Handle;
    int32_t Interval;
    int64_t Due;
    std::function<void()> Callback;
  };
  int32_t FireDue(int64_t Upto);
  void FreeReleased();
  std::thread::id FMainThread;
  std::mutex FLock;
  std::condition_variable FQueued;
  std::deque<std::function<void()>> FQueue;
  std::function<void()> FWakeHook, FRunHook, FQuitHook;
  std::vector<TTimerEntry> FTimers;
  TTimerHandle FNextTimer = 1;
  bool FVirtual = false;
  int64_t FVirtualNow = 0;
  bool FTerminated = false;
  int32_t FDispatchDepth = 0;
  std::vector<std::unique_ptr<TObject>> FReleased;
};

// A timer component: OnTimer every Interval milliseconds while Enabled and set.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  ~TTimer() override;
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool V);
  int32_t GetInterval() const { return FInterval; }
  void SetInterval(int32_t V);
  // Restarting: called after OnTimer changes.
  void Restart();
  TNotifyEvent OnTimer;

 private:
  bool FEnabled = true;
  int32_t FInterval = 1000;
  TApplication::TTimerHandle FHandle = 0;
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
