// The viewer's image control: the vector layer's view (an image view carrying annotations) that
// owns a processing and an I/O component attached to it, as the all-in-one control does for a
// plain image view.
#pragma once

#include <memory>

#include "quillo/io/quilloio.h"
#include "quillo/proc/quilloproc.h"
#include "quillo/vect/vect.h"

namespace quillo::view {

class TImageControl : public TQuilloVect {
 public:
  TImageControl()
      : FProc(std::make_unique<TQuilloProc>(this)), FIO(std::make_unique<TQuilloIO>(this)) {
    FProc->SetAttachedQuillo(this);
    FProc->SetAutoUndo(true);
    FIO->SetAttachedQuillo(this);
  }
  // The components go before the view they are attached to.
  ~TImageControl() override {
    FProc.reset();
    FIO.reset();
  }
  TQuilloProc& Proc() { return *FProc; }
  TQuilloIO& IO() { return *FIO; }
  TIOParamsVals& IOParams() { return FIO->IOParams(); }
  // Loads, saves and processing report to the same handler.
  void SetOnProgress(const TQLProgressEvent& Handler) {
    FProc->OnProgress = Handler;
    FIO->OnProgress = Handler;
  }

 private:
  std::unique_ptr<TQuilloProc> FProc;
  std::unique_ptr<TQuilloIO> FIO;
};

}  // namespace quillo::view
