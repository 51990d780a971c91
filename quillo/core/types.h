// The records shared by every codec and every processing routine: the pixel, the progress
// record and the progress event.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "quillo/platform/classes.h"
#include "quillo/platform/sysutils.h"

namespace quillo {

// One pixel or palette entry, stored blue, green, red.
#pragma pack(push, 1)
struct TRGB {
  uint8_t b = 0;
  uint8_t g = 0;
  uint8_t r = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3, "TRGB is three packed bytes");

// Note the argument order red, green, blue against the storage order blue, green, red.
inline TRGB CreateRGB(uint8_t r, uint8_t g, uint8_t b) {
  return TRGB{b, g, r};
}
inline bool EqualRGB(const TRGB& A, const TRGB& B) {
  return A == B;
}

// Progress event: (Sender, per cent).
using TQLProgressEvent = std::function<void(TObject* Sender, int32_t Per)>;

// Why a reader or writer set the abort flag: the data ends early, the data contradicts itself,
// the file uses a variant of its format that is not read, or the image is larger than the pixel
// limit (QLSetMaxPixels). A flag the caller raised itself (cancellation) carries none.
enum TQLAbortReason : uint8_t {
  qlarNone,
  qlarTruncated,
  qlarDamaged,
  qlarUnsupported,
  qlarPixelLimit
};

// Progress and cancellation of one operation. The caller owns the record, the flag and the
// reason.
struct TProgressRec {
  TQLProgressEvent Handler;
  TObject* Sender = nullptr;
  int32_t Pass = 0;
  int32_t PassCount = 1;
  double StepFactor = 0.0;
  bool* AbortFlag = nullptr;
  TQLAbortReason* AbortReason = nullptr;  // optional
};

// A record whose handler is Handler and whose abort flag is Flag.
inline TProgressRec QLProgressRec(const TQLProgressEvent& Handler, TObject* Sender, bool& Flag) {
  TProgressRec P;
  P.Handler = Handler;
  P.Sender = Sender;
  P.AbortFlag = &Flag;
  return P;
}

// Calls the handler (when set) with Per.
inline void QLProgress(const TProgressRec& P, int32_t Per) {
  if (P.Handler) P.Handler(P.Sender, Per);
}
// Reports trunc(StepFactor x Done) for one-pass row loops.
inline void QLProgressStep(const TProgressRec& P, int32_t Done) {
  if (P.Handler) P.Handler(P.Sender, QLTrunc(P.StepFactor * Done));
}
// Reports trunc(StepFactor x Done + StepFactor x Pass x Rows) for multi-pass row loops.
inline void QLProgressPassStep(const TProgressRec& P, int32_t Done, int32_t Rows) {
  if (P.Handler) P.Handler(P.Sender, QLTrunc(P.StepFactor * Done + P.StepFactor * P.Pass * Rows));
}
// Reports the row progress of a processing operation after row Row of FirstRow..LastRow:
// trunc((Row - FirstRow + 1) x (100 / (LastRow - FirstRow + 0.5))); it passes 100 on the last
// rows of small areas (105 for 10 rows, 200 for one).
inline void QLRowProgress(const TProgressRec& P, int32_t Row, int32_t FirstRow, int32_t LastRow) {
  if (P.Handler)
    P.Handler(P.Sender, QLTrunc((Row - FirstRow + 1) * (100.0 / (LastRow - FirstRow + 0.5))));
}
// True when the caller asked to stop. The flag may be set from another thread (a background
// load being cancelled), so it is read and set atomically.
inline bool QLAborted(const TProgressRec& P) {
  return P.AbortFlag && std::atomic_ref<bool>(*P.AbortFlag).load(std::memory_order_relaxed);
}
// Sets the abort flag (a reader or writer that meets bad data) and, when the record carries a
// reason and the flag was not yet set, the reason: the first cause found is the one reported.
inline void QLSetAbort(TProgressRec& P, TQLAbortReason Reason) {
  if (!P.AbortFlag) return;
  const bool Was = std::atomic_ref<bool>(*P.AbortFlag).exchange(true, std::memory_order_relaxed);
  if (!Was && P.AbortReason) *P.AbortReason = Reason;
}
inline void QLSetAbort(TProgressRec& P) {
  QLSetAbort(P, qlarDamaged);
}

}  // namespace quillo
