#include "quillo/core/params.h"

#include <chrono>
#include <ctime>

#include "quillo/core/paramfields.h"
#include "quillo/core/pixels.h"

namespace quillo {

double QLToday() {
  std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  using namespace std::chrono;
  year_month_day Date{year{Local.tm_year + 1900}, month{static_cast<unsigned>(Local.tm_mon + 1)},
                      day{static_cast<unsigned>(Local.tm_mday)}};
  // Day 0 is 30 December 1899, which lies 25569 days before 1 January 1970.
  return static_cast<double>(sys_days(Date).time_since_epoch().count()) + 25569.0;
}

TIOParamsVals::TIOParamsVals(IQLParamsOwner* AOwner) : Owner(AOwner) {
  SetDefaultParams();
}

void TIOParamsVals::SetColorMap(const TRGB* Entries, int32_t Count) {
  if (!Entries || Count <= 0) {
    FreeColorMap();
    return;
  }
  ColorMap.assign(Entries, Entries + Count);
  ColorMapCount = Count;
}

void TIOParamsVals::FreeColorMap() {
  ColorMap.clear();
  ColorMap.shrink_to_fit();
  ColorMapCount = 0;
}

void TIOParamsVals::SetDefaultParams() {
  for (const TQLParamField& F : QLParamFields()) QLResetParamField(F, *this);
  if (!Owner) return;
  if (TBitmap* B = Owner->ParamsOwnerBitmap()) {
    Width = B->GetWidth();
    Height = B->GetHeight();
  }
  int32_t X, Y;
  if (Owner->ParamsOwnerViewDpi(X, Y)) {
    DpiX = X;
    DpiY = Y;
  }
}

void TIOParamsVals::Assign(const TIOParamsVals& Source) {
  if (&Source == this) return;
  for (const TQLParamField& F : QLParamFields()) QLCopyParamField(F, *this, Source);
}

void TIOParamsVals::SaveToStream(TStream& S) const {
  QLWriteIntLE(S, StreamVersion);
  for (const TQLParamField& F : QLParamFields())
    if (F.Stored()) QLSaveParamField(F, S, *this);
}

void TIOParamsVals::LoadFromStream(TStream& S) {
  const int32_t Version = QLReadIntLE(S);
  for (const TQLParamField& F : QLParamFields()) QLLoadParamField(F, S, *this, Version);
}

void TIOParamsVals::SaveToFile(const std::string& Name) const {
  TFileStream F(Name, fmCreate);
  SaveToStream(F);
  F.Flush();
}

void TIOParamsVals::LoadFromFile(const std::string& Name) {
  TFileStream F(Name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(F);
}

}  // namespace quillo
