// The I/O component's metafile import: a WMF or EMF drawn into a 24-bit bitmap.
#include <algorithm>

#include "quillo/io/quilloio.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/metafile.h"
#include "quillo/platform/screen.h"

namespace quillo {

void TQuilloIO::ImportMetafile(const std::string& FileName, int32_t Width, int32_t Height) {
  ClearAbort();
  if (Width == 0 || Height == 0 || !FBitmap) return;
  FParams.IPTCInfoList.Clear();
  FParams.JpegMarkerList.Clear();
  TMetafile Meta;
  try {
    Meta.LoadFromFile(FileName);
  } catch (const EInvalidGraphic&) {
    Fail(qlarDamaged);
    return;
  }
  // The drawing size: as asked, one side from the other by the picture's aspect, or the
  // picture's own size; the longer side at most 2800.
  const int64_t MW = Meta.GetWidth(), MH = Meta.GetHeight();
  int64_t W = Width, H = Height;
  if (W < 0 && H < 0) {
    W = MW, H = MH;
  } else if (W < 0) {
    W = MH > 0 ? H * MW / MH : 0;
  } else if (H < 0) {
    H = MW > 0 ? W * MH / MW : 0;
  }
  if (W <= 0 || H <= 0) {
    Fail(qlarDamaged);
    return;
  }
  constexpr int64_t kLongest = 2800;
  if (W > kLongest || H > kLongest) {
    if (W >= H) {
      H = H * kLongest / W;
      W = kLongest;
    } else {
      W = W * kLongest / H;
      H = kLongest;
    }
  }
  // The bitmap is one pixel smaller than the drawing in each direction; a drawing one pixel
  // wide or high leaves nothing.
  if (W < 2 || H < 2) {
    Fail(qlarDamaged);
    return;
  }
  FBitmap->Recreate(static_cast<int32_t>(W - 1), static_cast<int32_t>(H - 1), pf24bit);
  FParams.FileName = FileName;
  FParams.FileType = Meta.GetEnhanced() ? 10 : 9;
  FParams.BitsPerSample = 8;
  FParams.SamplesPerPixel = 3;
  FParams.Width = FBitmap->GetWidth();
  FParams.Height = FBitmap->GetHeight();
  FParams.DpiX = gSystemDPIX;
  FParams.DpiY = gSystemDPIY;
  FParams.FreeColorMap();
  if (FView) FView->SetDPI(FParams.DpiX, FParams.DpiY);
  Clear();
  Meta.Play(FBitmap->Canvas(), TRect{0, 0, static_cast<int32_t>(W), static_cast<int32_t>(H)});
  Update();
}

}  // namespace quillo
