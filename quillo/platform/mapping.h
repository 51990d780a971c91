// Memory-mapped backing stores: a temporary file (in DefTEMPPATH, or the system's temporary
// folder) or anonymous memory, grown in steps and mapped in windows at 64-bit offsets.
//
// The file has no name from the moment it exists, so it never outlives the process, however
// the process ends. Growing reserves the disk blocks at once: a full disk or an unwritable
// folder is an error when the store grows, never a fault later when a mapped page is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillo {

// Where a store's bytes live.
enum TQLVirtualLocation : uint8_t { qllTempFile, qllPageFile };

// A window of a store mapped into memory, read and write; unmapped when it goes.
class TMapping {
 public:
  TMapping() = default;
  TMapping(TMapping&& O) noexcept { *this = std::move(O); }
  TMapping& operator=(TMapping&& O) noexcept;
  TMapping(const TMapping&) = delete;
  TMapping& operator=(const TMapping&) = delete;
  ~TMapping() { Reset(); }
  // The first byte of the window; none when the mapping failed.
  uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }
  explicit operator bool() const { return FData != nullptr; }
  void Reset();

 private:
  friend class TMappedStore;
  void* FBase = nullptr;
  size_t FBaseSize = 0;
  uint8_t* FData = nullptr;
  size_t FSize = 0;
};

class TMappedStore {
 public:
  // A new empty store; on failure (no such folder, no permission, no memory) none, with the
  // reason in Error.
  static std::unique_ptr<TMappedStore> Create(TQLVirtualLocation Location,
                                              const std::string& Folder, std::string& Error);
  struct TKey {};
  explicit TMappedStore(TKey) {}
  ~TMappedStore();
  TMappedStore(const TMappedStore&) = delete;
  TMappedStore& operator=(const TMappedStore&) = delete;

  uint64_t Size() const { return FSize; }
  // Sets the store's size, reserving the room it needs; false (the size unchanged, the reason
  // in Error) when the room cannot be had.
  bool Resize(uint64_t Size, std::string& Error);
  // Maps Length bytes at Offset; an empty mapping when they pass the end or mapping fails.
  TMapping Map(uint64_t Offset, size_t Length) const;
  // Writes or reads Length bytes at Offset without mapping them: cheaper than touching a fresh
  // mapping page by page when whole tiles move. False when they pass the end or the system
  // refuses.
  bool Write(uint64_t Offset, const void* Data, size_t Length) const;
  bool Read(uint64_t Offset, void* Data, size_t Length) const;

 private:
  int FFd = -1;
  uint64_t FSize = 0;
};

}  // namespace quillo
