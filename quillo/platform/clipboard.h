// TClipboard: data blocks by format, shared by the whole process. The default keeps them in
// memory; a host backend may install one that bridges the desktop's clipboard.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace quillo {

// The device-independent bitmap format: a 40-byte info header, the palette or bit masks, then
// the rows bottom-up, each padded to 4 bytes.
constexpr uint32_t CF_DIB = 8;

class TClipboard {
 public:
  TClipboard() = default;
  TClipboard(const TClipboard&) = delete;
  TClipboard& operator=(const TClipboard&) = delete;
  virtual ~TClipboard() = default;

  // Opens the clipboard for reading and writing; false when it is open already.
  virtual bool Open();
  virtual void Close();
  bool IsOpen() const { return FOpen; }
  // Removes every format; false unless the clipboard is open.
  virtual bool Clear();
  // True when data of Format is available (the clipboard need not be open).
  virtual bool HasFormat(uint32_t Format) const;
  // Stores Data under Format, replacing what was there; the clipboard takes it over. False
  // unless the clipboard is open.
  virtual bool SetAsHandle(uint32_t Format, std::vector<uint8_t> Data);
  // A copy of the data of Format; empty when there is none or the clipboard is not open.
  virtual std::vector<uint8_t> GetAsHandle(uint32_t Format) const;

 private:
  bool FOpen = false;
  std::map<uint32_t, std::vector<uint8_t>> FData;
};

// The process's clipboard.
TClipboard& Clipboard();
// Installs another clipboard (nullptr restores an empty in-memory one) and returns the previous.
std::unique_ptr<TClipboard> SetClipboard(std::unique_ptr<TClipboard> NewClipboard);

// Opens the clipboard for the lifetime of the object and closes it again; Opened() tells
// whether the open succeeded.
class TClipboardLock {
 public:
  explicit TClipboardLock(TClipboard& C) : FClipboard(C), FOpened(C.Open()) {}
  ~TClipboardLock() {
    if (FOpened) FClipboard.Close();
  }
  TClipboardLock(const TClipboardLock&) = delete;
  TClipboardLock& operator=(const TClipboardLock&) = delete;
  bool Opened() const { return FOpened; }

 private:
  TClipboard& FClipboard;
  bool FOpened;
};

}  // namespace quillo
