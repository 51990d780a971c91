// Exceptions, arithmetic words and size checks shared by every layer.
#pragma once

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <utility>

namespace quillo {

// Base of every exception the library raises; carries a readable message.
class Exception : public std::exception {
 public:
  explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }

 private:
  std::string FMessage;
};

// The silent abort: stops an operation without an error worth showing.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  using Exception::Exception;
};

class EInvalidGraphic : public Exception {
  using Exception::Exception;
};
class EInvalidOperation : public Exception {
  using Exception::Exception;
};
class EConvertError : public Exception {
  using Exception::Exception;
};
class EListError : public Exception {
  using Exception::Exception;
};
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
  using Exception::Exception;
};
// A bitmap size beyond the configured pixel limit (or beyond what a bitmap can address).
class EPixelLimit : public EOutOfMemory {
  using EOutOfMemory::EOutOfMemory;
};

class EStreamError : public Exception {
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};

// Round to the nearest integer, halves to the even neighbour. The one rounding rule of the
// library; every "round" goes through here.
inline int64_t QLRound(double X) {
  double F = std::floor(X);
  double Diff = X - F;
  if (Diff > 0.5) return static_cast<int64_t>(F) + 1;
  if (Diff < 0.5) return static_cast<int64_t>(F);
  int64_t I = static_cast<int64_t>(F);
  return (I % 2 == 0) ? I : I + 1;
}

// Conversion toward zero, saturated at the 32-bit range so that absurd values cannot make the
// conversion undefined. NaN gives 0.
inline int32_t QLTrunc(double X) {
  if (!(X == X)) return 0;
  if (X >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (X <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(X);
}

// QLRound narrowed to 32 bits, saturating like QLTrunc.
inline int32_t QLRound32(double X) {
  if (!(X == X)) return 0;
  if (X >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (X <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(QLRound(X));
}

// A * B into Result when both are non-negative and the product fits in 63 bits.
inline bool QLCheckedMul(int64_t A, int64_t B, int64_t& Result) {
  if (A < 0 || B < 0) return false;
  if (A != 0 && B > std::numeric_limits<int64_t>::max() / A) return false;
  Result = A * B;
  return true;
}

// Byte swaps for big-endian file data.
inline uint16_t QLSwapWord(uint16_t V) {
  return static_cast<uint16_t>((V >> 8) | (V << 8));
}
inline uint32_t QLSwapDWord(uint32_t V) {
  return (V >> 24) | ((V >> 8) & 0xFF00u) | ((V << 8) & 0xFF0000u) | (V << 24);
}

}  // namespace quillo
