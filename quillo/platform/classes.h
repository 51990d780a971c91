// The component framework's base classes: objects, components with free notification, and
// string lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/platform/sysutils.h"
#include "quillo/platform/types.h"

namespace quillo {

class TStream;

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

class TPersistent : public TObject {};

enum TOperation : uint8_t { opInsert, opRemove };

// A component knows its owner and the components it owns, and tells the components that asked
// for it (FreeNotification) when it goes away, so they can clear their pointers to it.
//
// Ownership of memory is by C++ values and smart pointers, not by the owner: the owner list is
// for enumeration and notification only. A component destroyed before its owner leaves the
// owner's list; an owner destroyed first clears the owner pointer of what it owned.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;

  TComponent* GetOwner() const { return FOwner; }
  const std::string& GetName() const { return FName; }
  void SetName(const std::string& Name) { FName = Name; }
  int32_t GetComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  TComponent* GetComponent(int32_t Index) const;
  TComponent* FindComponent(const std::string& Name) const;

  // Ask to be told through Notification(this, opRemove) when AComponent is destroyed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // True once destruction has started (set by Destroying or by the base destructor).
  bool IsDestroying() const { return FDestroying; }

 protected:
  // Called on every component that asked for free notification of AComponent, and on its owner
  // for inserts and removals of owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Derived destructors call this first so that notifications reach partners while the derived
  // parts still exist.
  void Destroying();

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void SendFreeNotifications();

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  bool FDestroying = false;
  bool FNotified = false;
};

// An ordered list of byte strings.
class TStringList : public TPersistent {
 public:
  TStringList() = default;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  int32_t Add(const std::string& S);
  void Insert(int32_t Index, const std::string& S);
  void Delete(int32_t Index);
  void Clear();
  int32_t IndexOf(const std::string& S) const;
  const std::string& Strings(int32_t Index) const;
  void SetStrings(int32_t Index, const std::string& S);
  const std::string& operator[](int32_t Index) const { return Strings(Index); }
  void Assign(const TStringList& Source) { FItems = Source.FItems; }

  // Lines joined with CR LF, each line terminated.
  std::string GetText() const;
  // Splits at CR LF, LF or CR; a last line without terminator counts.
  void SetText(const std::string& Text);
  void SaveToStream(TStream& Stream) const;
  void LoadFromStream(TStream& Stream);

  const std::vector<std::string>& Items() const { return FItems; }

 private:
  void CheckIndex(int32_t Index, bool AllowEnd) const;
  std::vector<std::string> FItems;
};

}  // namespace quillo
