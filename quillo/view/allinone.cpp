#include "quillo/view/allinone.h"

namespace quillo {

TQuillo::TQuillo(TComponent* AOwner) : TQuilloView(AOwner) {
  FProc = std::make_unique<TQuilloProc>(this);
  FProc->SetAttachedQuillo(this);
  FProc->SetAutoUndo(true);
  FIO = std::make_unique<TQuilloIO>(this);
  FIO->SetAttachedQuillo(this);
}

// The components go before the view part they are attached to.
TQuillo::~TQuillo() {
  FProc.reset();
  FIO.reset();
}

void TQuillo::SetOnProgress(const TQLProgressEvent& Handler) {
  FProc->OnProgress = Handler;
  FIO->OnProgress = Handler;
}

void TQuillo::AssignIOParams(const TPersistent* Source) {
  if (const auto* Q = dynamic_cast<const TQuillo*>(Source))
    FIO->AssignParams(*Q->FIO);
  else if (const auto* IO = dynamic_cast<const TQuilloIO*>(Source))
    FIO->AssignParams(*IO);
}

void TQuillo::Assign(const TQuilloView* Source) {
  AssignIOParams(Source);
  TQuilloView::Assign(Source);
}

}  // namespace quillo
