#include "quillo/platform/clipboard.h"

namespace quillo {

bool TClipboard::Open() {
  if (FOpen) return false;
  FOpen = true;
  return true;
}

void TClipboard::Close() {
  FOpen = false;
}

bool TClipboard::Clear() {
  if (!FOpen) return false;
  FData.clear();
  return true;
}

bool TClipboard::HasFormat(uint32_t Format) const {
  return FData.count(Format) != 0;
}

bool TClipboard::SetAsHandle(uint32_t Format, std::vector<uint8_t> Data) {
  if (!FOpen) return false;
  FData[Format] = std::move(Data);
  return true;
}

std::vector<uint8_t> TClipboard::GetAsHandle(uint32_t Format) const {
  if (!FOpen) return {};
  auto It = FData.find(Format);
  return It == FData.end() ? std::vector<uint8_t>{} : It->second;
}

namespace {
std::unique_ptr<TClipboard>& Current() {
  static std::unique_ptr<TClipboard> C = std::make_unique<TClipboard>();
  return C;
}
}  // namespace

TClipboard& Clipboard() {
  return *Current();
}

std::unique_ptr<TClipboard> SetClipboard(std::unique_ptr<TClipboard> NewClipboard) {
  std::unique_ptr<TClipboard> Old = std::move(Current());
  Current() = NewClipboard ? std::move(NewClipboard) : std::make_unique<TClipboard>();
  return Old;
}

}  // namespace quillo
