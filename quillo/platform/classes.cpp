#include "quillo/platform/classes.h"

#include <algorithm>

#include "quillo/platform/streams.h"

namespace quillo {

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  SendFreeNotifications();
  for (TComponent* C : FComponents) C->FOwner = nullptr;
  FComponents.clear();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::Destroying() {
  FDestroying = true;
}

void TComponent::SendFreeNotifications() {
  if (FNotified) return;
  FNotified = true;
  // A partner may remove itself (or others) while being told; work on a copy and re-check.
  std::vector<TComponent*> Partners = FFreeNotifies;
  FFreeNotifies.clear();
  for (TComponent* P : Partners) {
    auto& Back = P->FFreeNotifies;
    Back.erase(std::remove(Back.begin(), Back.end(), this), Back.end());
    P->Notification(this, opRemove);
  }
  if (FOwner) FOwner->Notification(this, opRemove);
}

TComponent* TComponent::GetComponent(int32_t Index) const {
  if (Index < 0 || Index >= GetComponentCount()) throw EListError("List index out of bounds");
  return FComponents[static_cast<size_t>(Index)];
}

TComponent* TComponent::FindComponent(const std::string& Name) const {
  for (TComponent* C : FComponents)
    if (!Name.empty() && C->FName == Name) return C;
  return nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  // Both sides remember each other, so that whichever goes first unregisters from the other.
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& Other = AComponent->FFreeNotifies;
  if (std::find(Other.begin(), Other.end(), this) == Other.end()) Other.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                      FFreeNotifies.end());
  auto& Other = AComponent->FFreeNotifies;
  Other.erase(std::remove(Other.begin(), Other.end(), this), Other.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  (void)AComponent;
  (void)Operation;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  AComponent->FOwner = this;
  FComponents.push_back(AComponent);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent),
                    FComponents.end());
  AComponent->FOwner = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TStringList

void TStringList::CheckIndex(int32_t Index, bool AllowEnd) const {
  if (Index < 0 || Index > Count() || (!AllowEnd && Index == Count()))
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

int32_t TStringList::Add(const std::string& S) {
  FItems.push_back(S);
  return Count() - 1;
}

void TStringList::Insert(int32_t Index, const std::string& S) {
  CheckIndex(Index, true);
  FItems.insert(FItems.begin() + Index, S);
}

void TStringList::Delete(int32_t Index) {
  CheckIndex(Index, false);
  FItems.erase(FItems.begin() + Index);
}

void TStringList::Clear() {
  FItems.clear();
}

int32_t TStringList::IndexOf(const std::string& S) const {
  for (size_t I = 0; I < FItems.size(); ++I)
    if (FItems[I] == S) return static_cast<int32_t>(I);
  return -1;
}

const std::string& TStringList::Strings(int32_t Index) const {
  CheckIndex(Index, false);
  return FItems[static_cast<size_t>(Index)];
}

void TStringList::SetStrings(int32_t Index, const std::string& S) {
  CheckIndex(Index, false);
  FItems[static_cast<size_t>(Index)] = S;
}

std::string TStringList::GetText() const {
  std::string Result;
  for (const auto& S : FItems) {
    Result += S;
    Result += "\r\n";
  }
  return Result;
}

void TStringList::SetText(const std::string& Text) {
  FItems.clear();
  size_t I = 0;
  const size_t N = Text.size();
  while (I < N) {
    size_t J = I;
    while (J < N && Text[J] != '\r' && Text[J] != '\n') ++J;
    FItems.push_back(Text.substr(I, J - I));
    if (J < N && Text[J] == '\r') {
      ++J;
      if (J < N && Text[J] == '\n') ++J;
    } else if (J < N) {
      ++J;
    }
    I = J;
  }
}

void TStringList::SaveToStream(TStream& Stream) const {
  std::string T = GetText();
  Stream.WriteBuffer(T.data(), static_cast<int64_t>(T.size()));
}

void TStringList::LoadFromStream(TStream& Stream) {
  int64_t N = Stream.Remaining();
  std::string T(static_cast<size_t>(N), '\0');
  Stream.ReadBuffer(T.data(), N);
  SetText(T);
}

}  // namespace quillo
