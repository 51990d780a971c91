#include "quillo/core/view.h"

#include <algorithm>

namespace quillo {

TQLView::TQLView(TComponent* AOwner) : TCustomControl(AOwner) {
  SetBorderStyle(bsSingle);
}

TQLView::~TQLView() {
  Destroying();
  // Listeners may unregister while being told; take the list first.
  std::vector<TEntry> Entries;
  Entries.swap(FListeners);
  for (TEntry& E : Entries)
    if (E.Event) E.Event(this, true);
}

void TQLView::RegisterBitmapChangeEvent(TObject* Owner, TQLBitmapChangeEvent Event) {
  FListeners.push_back(TEntry{Owner, std::move(Event)});
}

void TQLView::RemoveBitmapChangeEvent(TObject* Owner) {
  auto It = std::find_if(FListeners.begin(), FListeners.end(),
                         [&](const TEntry& E) { return E.Owner == Owner; });
  if (It != FListeners.end()) FListeners.erase(It);
}

void TQLView::CallBitmapChangeEvents() {
  // A copy: a listener may register or unregister others while being called.
  std::vector<TEntry> Entries = FListeners;
  for (TEntry& E : Entries)
    if (E.Event) E.Event(this, false);
}

}  // namespace quillo
