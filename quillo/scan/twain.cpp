#include "quillo/scan/twain.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "quillo/platform/sysutils.h"
#include "quillo/platform/threads.h"

namespace quillo {

namespace {

// The largest transfer buffer we allocate, whatever a source prefers.
constexpr uint32_t MaxStripBuffer = 64u << 20;

void CopyStr32(char (&Dst)[34], const std::string& Src) {
  std::memset(Dst, 0, sizeof Dst);
  std::memcpy(Dst, Src.data(), std::min<size_t>(Src.size(), 32));
}

std::string Str34(const char (&S)[34]) {
  return std::string(S, strnlen(S, sizeof S));
}

// One call of an operation: the states 1 to 7, the identities and the last return code. The
// destructor walks back down to state 2, so that no source stays open whatever path ends a call.
class TSession {
 public:
  TSession(TQLTWainShared& Shared, const TQLTWainParams* Identity) : FShared(Shared) {
    App.Id = 0;
    App.Version.MajorNum = 1;
    App.Version.MinorNum = 0;
    App.Version.Language = 13;
    App.Version.Country = 1;
    App.ProtocolMajor = 1;
    App.ProtocolMinor = 9;
    App.SupportedGroups = DG_CONTROL_IMAGE;
    CopyStr32(App.Version.Info, Identity ? Identity->AppVersionInfo : " ");
    CopyStr32(App.Manufacturer, Identity ? Identity->AppManufacturer : " ");
    CopyStr32(App.ProductFamily, Identity ? Identity->AppProductFamily : " ");
    CopyStr32(App.ProductName, Identity ? Identity->AppProductName : " ");
  }
  ~TSession() { Close(); }
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // Loads (or reuses) the manager and opens it: state 3.
  bool Open() {
    if (!FShared.Manager)
      FShared.Manager = FShared.Loader ? FShared.Loader() : QLLoadSourceManager();
    if (!FShared.Manager) return false;
    State = 2;
    if (Manager(DAT_PARENT, MSG_OPENDSM, nullptr) != TWRC_SUCCESS) return false;
    State = 3;
    return true;
  }

  // Down to state 2, whatever was reached.
  void Close() {
    if (State >= 6) {
      TW_PENDINGXFERS P;
      Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &P);
      State = 5;
    }
    if (State == 5) DisableSource();
    if (State == 4) {
      Manager(DAT_IDENTITY, MSG_CLOSEDS, &Src);
      State = 3;
    }
    if (State == 3) {
      Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr);
      State = 2;
    }
  }

  uint16_t Manager(uint16_t DAT, uint16_t MSG, void* Data) {
    RC = FShared.Manager->Entry(&App, nullptr, DG_CONTROL, DAT, MSG, Data);
    if (RC == TWRC_FAILURE && DAT != DAT_STATUS) Status(false);
    return RC;
  }
  uint16_t Source(uint32_t DG, uint16_t DAT, uint16_t MSG, void* Data) {
    RC = FShared.Manager->Entry(&App, &Src, DG, DAT, MSG, Data);
    if (RC == TWRC_FAILURE && DAT != DAT_STATUS) Status(true);
    return RC;
  }
  // Keeps the first failure's condition code.
  void Status(bool OfSource) {
    const uint16_t Saved = RC;
    TW_STATUS S;
    const uint16_t R =
        OfSource ? FShared.Manager->Entry(&App, &Src, DG_CONTROL, DAT_STATUS, MSG_GET, &S)
                 : FShared.Manager->Entry(&App, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &S);
    if (R == TWRC_SUCCESS && !HaveCondition) {
      Condition = S.ConditionCode;
      HaveCondition = true;
    }
    RC = Saved;
  }

  void DisableSource() {
    TW_USERINTERFACE UI;
    Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &UI);
    State = 4;
  }

  // Opens the selected source of Params: state 4.
  bool OpenSource(TQLTWainParams& Params) {
    const TW_IDENTITY* Want = Params.GetSource(Params.GetSelectedSource());
    Src = TW_IDENTITY{};
    if (Want && Want->ProductName[0]) {
      TW_IDENTITY Id;
      uint16_t R = Manager(DAT_IDENTITY, MSG_GETFIRST, &Id);
      while (R == TWRC_SUCCESS) {
        if (std::strncmp(Id.ProductName, Want->ProductName, 34) == 0) {
          Src = Id;
          break;
        }
        R = Manager(DAT_IDENTITY, MSG_GETNEXT, &Id);
      }
    }
    if (Manager(DAT_IDENTITY, MSG_OPENDS, &Src) != TWRC_SUCCESS) return false;
    State = 4;
    return true;
  }

  TW_IDENTITY App;
  TW_IDENTITY Src;
  int32_t State = 1;
  uint16_t RC = TWRC_SUCCESS;
  uint16_t Condition = TWCC_SUCCESS;
  bool HaveCondition = false;

 private:
  TQLTWainShared& FShared;
};

// --- sending and reading capabilities ----------------------------------------------------------

uint16_t GetCap(TSession& S, uint16_t Cap, TQLTWContainer& C) {
  TW_CAPABILITY Rec;
  Rec.Cap = Cap;
  if (S.Source(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &Rec) != TWRC_SUCCESS) return S.RC;
  return QLTWDecode(Rec, C) ? TWRC_SUCCESS : TWRC_FAILURE;
}

uint16_t SetCap(TSession& S, uint16_t Cap, const TQLTWContainer& C) {
  TW_CAPABILITY Rec;
  Rec.Cap = Cap;
  QLTWEncode(Rec, C);
  return S.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &Rec);
}

uint16_t SetOne(TSession& S, uint16_t Cap, uint16_t ItemType, double V) {
  TQLTWContainer C;
  C.ItemType = ItemType;
  C.Current = V;
  return SetCap(S, Cap, C);
}

// A list goes only for what changed: its items as an enumeration, else its current value as
// one value, else its range. Returns the code, or TWRC_SUCCESS when nothing was due.
template <typename T>
uint16_t SendList(TSession& S, uint16_t Cap, uint16_t ItemType, TQLValueList<T>& L, bool& Sent) {
  TQLTWContainer C;
  C.ItemType = ItemType;
  Sent = true;
  if (L.Flags() & qlfItemsChanged) {
    C.ConType = TWON_ENUMERATION;
    for (int32_t I = 0; I < L.Count(); ++I) C.Items.push_back(static_cast<double>(L.GetItem(I)));
    const int32_t At = L.IndexOf(L.GetCurrentValue());
    C.CurrentIndex = C.DefaultIndex = At < 0 ? 0 : static_cast<uint32_t>(At);
  } else if (L.Flags() & qlfCurrentChanged) {
    C.ConType = TWON_ONEVALUE;
    C.Current = static_cast<double>(L.GetCurrentValue());
  } else if (L.Flags() & qlfRangeChanged) {
    C.ConType = TWON_RANGE;
    C.Min = static_cast<double>(L.GetRangeMin());
    C.Max = static_cast<double>(L.GetRangeMax());
    C.Step = static_cast<double>(L.GetRangeStep());
    C.Default = C.Current = static_cast<double>(L.GetCurrentValue());
  } else {
    Sent = false;
    return TWRC_SUCCESS;
  }
  return SetCap(S, Cap, C);
}

// Units must be inches for every length that follows; false when the source keeps another unit.
bool UnitsToInches(TSession& S) {
  TQLTWContainer C;
  if (GetCap(S, ICAP_UNITS, C) == TWRC_SUCCESS && C.Current == TWUN_INCHES) return true;
  return SetOne(S, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES) == TWRC_SUCCESS;
}

// Sends the settings; Buffered is cleared when memory transfer cannot be used. False only when
// the source refuses inches, as every length would then be misread.
bool SendSettings(TSession& S, TQLTWainCapabilities& Caps, bool& Buffered) {
  if (!UnitsToInches(S)) return false;
  SetOne(S, ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE);
  bool Sent = false;
  SendList(S, ICAP_XRESOLUTION, TWTY_FIX32, Caps.XResolution, Sent);
  SendList(S, ICAP_YRESOLUTION, TWTY_FIX32, Caps.YResolution, Sent);
  SendList(S, ICAP_XSCALING, TWTY_FIX32, Caps.XScaling, Sent);
  SendList(S, ICAP_YSCALING, TWTY_FIX32, Caps.YScaling, Sent);
  // Black and white, grey and RGB are the types we can take.
  TQLIntegerList& PT = Caps.PixelType;
  const uint8_t Flags = PT.Flags();
  for (int32_t I = 0; I < PT.Count(); ++I)
    if (PT.GetItem(I) > TWPT_RGB) PT.SetItem(I, TWPT_RGB);
  if (PT.GetCurrentValue() > TWPT_RGB) PT.SetCurrentValue(TWPT_RGB);
  PT.SetFlags(Flags);
  const bool PixelTypeOK = SendList(S, ICAP_PIXELTYPE, TWTY_UINT16, PT, Sent) == TWRC_SUCCESS;
  // Chunky rows where colour is asked for.
  bool ChunkyOK = true;
  TQLTWContainer C;
  if (GetCap(S, ICAP_PLANARCHUNKY, C) != TWRC_SUCCESS)
    ChunkyOK = false;
  else if (C.Current != TWPC_CHUNKY && PT.GetCurrentValue() == TWPT_RGB)
    ChunkyOK = SetOne(S, ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY) == TWRC_SUCCESS;
  if (Buffered && PixelTypeOK && ChunkyOK) {
    TQLTWContainer M;
    Buffered = GetCap(S, ICAP_XFERMECH, M) == TWRC_SUCCESS &&
               (std::find(M.Items.begin(), M.Items.end(), double(TWSX_MEMORY)) != M.Items.end() ||
                M.Current == TWSX_MEMORY) &&
               SetOne(S, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY) == TWRC_SUCCESS &&
               GetCap(S, ICAP_XFERMECH, M) == TWRC_SUCCESS && M.Current == TWSX_MEMORY;
  } else {
    Buffered = false;
  }
  SetOne(S, CAP_FEEDERENABLED, TWTY_BOOL, Caps.FeederEnabled ? 0xFFFF : 0);
  SendList(S, ICAP_ORIENTATION, TWTY_UINT16, Caps.Orientation, Sent);
  SetOne(S, CAP_INDICATORS, TWTY_BOOL, Caps.Indicators ? 0xFFFF : 0);
  SetOne(S, CAP_DUPLEXENABLED, TWTY_BOOL, Caps.DuplexEnabled ? 0xFFFF : 0);
  if (Caps.AcquireFrameEnabled) {
    TW_IMAGELAYOUT L;
    L.Frame = TW_FRAME{QLToFix32(Caps.AcquireFrameLeft), QLToFix32(Caps.AcquireFrameTop),
                       QLToFix32(Caps.AcquireFrameRight), QLToFix32(Caps.AcquireFrameBottom)};
    S.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &L);
  }
  return true;
}

// The container's items, range and current value into L; false when the source has no such
// capability (L then holds Fallback, when given).
template <typename T>
bool ReadList(TSession& S, uint16_t Cap, TQLValueList<T>& L, const T* Fallback) {
  TQLTWContainer C;
  L.Clear();
  if (GetCap(S, Cap, C) != TWRC_SUCCESS) {
    if (Fallback) {
      L.Add(*Fallback);
      L.SetCurrentValue(*Fallback);
    }
    return false;
  }
  switch (C.ConType) {
    case TWON_ENUMERATION:
    case TWON_ARRAY:
      for (double V : C.Items) L.Add(static_cast<T>(V));
      if (!C.Items.empty()) L.SetCurrentValue(static_cast<T>(C.Current));
      break;
    case TWON_RANGE:
      L.SetRangeMin(static_cast<T>(C.Min));
      L.SetRangeMax(static_cast<T>(C.Max));
      L.SetRangeStep(static_cast<T>(C.Step));
      L.SetCurrentValue(static_cast<T>(C.Current));
      break;
    default:
      L.Add(static_cast<T>(C.Current));
      L.SetCurrentValue(static_cast<T>(C.Current));
      break;
  }
  return true;
}

double ReadNumber(TSession& S, uint16_t Cap, double Fallback) {
  TQLTWContainer C;
  return GetCap(S, Cap, C) == TWRC_SUCCESS ? C.Current : Fallback;
}

void ReadCapabilities(TSession& S, TQLTWainCapabilities& Caps) {
  const double One = 1.0;
  const int32_t Zero = 0;
  ReadList<double>(S, ICAP_XRESOLUTION, Caps.XResolution, nullptr);
  ReadList<double>(S, ICAP_YRESOLUTION, Caps.YResolution, nullptr);
  ReadList(S, ICAP_XSCALING, Caps.XScaling, &One);
  ReadList(S, ICAP_YSCALING, Caps.YScaling, &One);
  ReadList<int32_t>(S, ICAP_PIXELTYPE, Caps.PixelType, nullptr);
  Caps.Gamma = ReadNumber(S, ICAP_GAMMA, 2.2);
  Caps.PhysicalHeight = ReadNumber(S, ICAP_PHYSICALHEIGHT, 0);
  Caps.PhysicalWidth = ReadNumber(S, ICAP_PHYSICALWIDTH, 0);
  Caps.FeederEnabled = ReadNumber(S, CAP_FEEDERENABLED, 0) != 0;
  Caps.FeederLoaded = ReadNumber(S, CAP_FEEDERLOADED, 0) != 0;
  Caps.DuplexEnabled = ReadNumber(S, CAP_DUPLEXENABLED, 0) != 0;
  Caps.DuplexSupported = ReadNumber(S, CAP_DUPLEX, 0) != 0;
  ReadList(S, ICAP_ORIENTATION, Caps.Orientation, &Zero);
  Caps.Indicators = ReadNumber(S, CAP_INDICATORS, 1) != 0;
  if (Caps.AcquireFrameEnabled) {
    TW_IMAGELAYOUT L;
    if (S.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &L) == TWRC_SUCCESS) {
      Caps.AcquireFrameLeft = QLFromFix32(L.Frame.Left);
      Caps.AcquireFrameTop = QLFromFix32(L.Frame.Top);
      Caps.AcquireFrameRight = QLFromFix32(L.Frame.Right);
      Caps.AcquireFrameBottom = QLFromFix32(L.Frame.Bottom);
    }
  }
}

// --- transfers ---------------------------------------------------------------------------------

struct TPageInfo {
  int32_t BitsPerSample = 8, SamplesPerPixel = 3, Width = 0, Height = 0, DpiX = 0, DpiY = 0;
  bool Memory = true;  // memory transfer still usable for this page
  bool OneBit() const { return BitsPerSample == 1 && SamplesPerPixel == 1; }
};

void WriteInfo(const TPageInfo& I, TIOParamsVals& P) {
  P.BitsPerSample = I.BitsPerSample;
  P.SamplesPerPixel = I.SamplesPerPixel;
  P.DpiX = I.DpiX;
  P.DpiY = I.DpiY;
  P.Width = I.Width;
  P.Height = I.Height;
  P.FreeColorMap();
}

class TAcquisition {
 public:
  TAcquisition(TSession& S, TProgressRec& Progress, bool Multi, bool ShowUI)
      : S(S), Progress(Progress), Multi(Multi), ShowUI(ShowUI) {}

  // Runs after MSG_XFERREADY (state 6). Single mode leaves the page in Page.
  void Transfer(const TQLAcquirePageEvent& PageEvent, bool Buffered);

  TBitmap Page;
  TPageInfo PageInfo;
  bool Acquired = false;
  bool Failed = false;

 private:
  bool GetInfo(TPageInfo& Info, bool Buffered);
  // One page into B; TWRC_XFERDONE when it arrived whole.
  uint16_t MemoryTransfer(TBitmap& B, const TPageInfo& Info);
  uint16_t NativeTransfer(TBitmap& B);
  bool EndTransfer();
  void ResetPending() {
    TW_PENDINGXFERS P;
    S.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &P);
    S.State = 5;
  }
  bool Aborted() const { return Progress.AbortFlag && *Progress.AbortFlag; }

  TSession& S;
  TProgressRec& Progress;
  bool Multi;
  bool ShowUI;
};

bool TAcquisition::GetInfo(TPageInfo& Info, bool Buffered) {
  TW_IMAGEINFO I;
  if (S.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &I) != TWRC_SUCCESS) return false;
  Info = TPageInfo{};
  Info.Memory = Buffered && I.PixelType <= TWPT_RGB && !I.Planar && I.Compression == TWCP_NONE;
  if (I.BitsPerPixel >= 1 && I.BitsPerPixel <= 8) {
    Info.BitsPerSample = I.BitsPerPixel;
    Info.SamplesPerPixel = 1;
  } else if (I.BitsPerPixel == 24) {
    Info.BitsPerSample = 8;
    Info.SamplesPerPixel = 3;
  } else {
    return false;
  }
  Info.DpiX = QLRound32(QLFromFix32(I.XResolution));
  Info.DpiY = QLRound32(QLFromFix32(I.YResolution));
  Info.Width = I.ImageWidth;
  Info.Height = I.ImageLength;
  // A page of no size, or one beyond the pixel limit, ends the transfers.
  if (Info.Width < 1 || Info.Height < 1 || !QLImageSizeOK(Info.Width, Info.Height, 24))
    return false;
  // Memory strips arrive as 1, 8 or 24 bits per pixel.
  if (Info.Memory && I.BitsPerPixel != 1 && I.BitsPerPixel != 8 && I.BitsPerPixel != 24)
    return false;
  return true;
}

uint16_t TAcquisition::MemoryTransfer(TBitmap& B, const TPageInfo& Info) {
  TW_SETUPMEMXFER Setup;
  if (S.Source(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &Setup) != TWRC_SUCCESS) return TWRC_FAILURE;
  uint32_t Size = Setup.Preferred ? Setup.Preferred : Setup.MinBufSize;
  Size = std::min(Size, MaxStripBuffer);
  if (Size == 0 || Setup.MinBufSize > MaxStripBuffer) return TWRC_FAILURE;
  std::vector<uint8_t> Buffer(Size, 0);
  const int32_t Bits = Info.OneBit() ? 1 : Info.SamplesPerPixel == 3 ? 24 : 8;
  int64_t FirstY = -1;
  for (;;) {
    TW_IMAGEMEMXFER X;
    X.Compression = TWON_DONTCARE16;
    X.BytesPerRow = X.Columns = X.Rows = X.XOffset = X.YOffset = X.BytesWritten = TWON_DONTCARE32;
    X.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
    X.Memory.Length = Size;
    X.Memory.TheMem = Buffer.data();
    const uint16_t RC = S.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &X);
    if (RC != TWRC_SUCCESS && RC != TWRC_XFERDONE) {
      S.State = RC == TWRC_CANCEL ? 7 : 6;
      return RC == TWRC_CANCEL ? TWRC_CANCEL : TWRC_FAILURE;
    }
    S.State = 7;
    // The strip must lie inside the page and inside the buffer; one that does not is a broken
    // source, and the page is dropped.
    int64_t Y = X.YOffset;
    if (Multi) {
      if (FirstY < 0) FirstY = Y;
      Y -= FirstY;
    }
    const int64_t Cols = X.Columns, Rows = X.Rows, XOff = X.XOffset, BPR = X.BytesPerRow;
    const int64_t RowBytes = (Cols * Bits + 7) / 8;
    if (X.Compression != TWCP_NONE || Y < 0 || XOff + Cols > Info.Width || Y + Rows > Info.Height ||
        BPR < RowBytes || BPR * Rows > static_cast<int64_t>(Size))
      return TWRC_FAILURE;
    for (int64_t R = 0; R < Rows; ++R) {
      const uint8_t* Src = Buffer.data() + R * BPR;
      uint8_t* Dst = B.ScanLine(static_cast<int32_t>(Y + R));
      if (Bits == 24) {
        const uint8_t* In = Src;
        uint8_t* D = Dst + 3 * XOff;
        for (const uint8_t* End = In + 3 * Cols; In != End; In += 3, D += 3) {
          D[0] = In[2];
          D[1] = In[1];
          D[2] = In[0];
        }
      } else if (Bits == 8) {
        for (int64_t C = 0; C < Cols; ++C) {
          uint8_t* D = Dst + 3 * (XOff + C);
          D[0] = D[1] = D[2] = Src[C];
        }
      } else {
        for (int64_t C = 0; C < Cols; ++C) {
          const int64_t To = XOff + C;
          const bool Bit = (Src[C >> 3] >> (7 - (C & 7))) & 1;
          const uint8_t Mask = static_cast<uint8_t>(0x80 >> (To & 7));
          if (Bit)
            Dst[To >> 3] |= Mask;
          else
            Dst[To >> 3] &= static_cast<uint8_t>(~Mask);
        }
      }
    }
    QLProgress(Progress, static_cast<int32_t>((Y + Rows) * 100 / Info.Height));
    if (RC == TWRC_XFERDONE) return TWRC_XFERDONE;
    if (!Multi && Aborted()) return TWRC_CANCEL;
  }
}

// A packed DIB (40-byte header, palette, rows bottom-up) into B: 1-bit stays 1-bit, the rest
// becomes 24-bit. False when the DIB is not one we read or is shorter than it says.
bool CopyDIB(const std::vector<uint8_t>& DIB, TBitmap& B) {
  auto U32 = [&](size_t At) {
    uint32_t V;
    std::memcpy(&V, DIB.data() + At, 4);
    return V;
  };
  if (DIB.size() < 40) return false;
  const uint32_t HeaderSize = U32(0);
  int32_t W, H;
  std::memcpy(&W, DIB.data() + 4, 4);
  std::memcpy(&H, DIB.data() + 8, 4);
  const uint16_t BitCount = static_cast<uint16_t>(DIB[14] | (DIB[15] << 8));
  const uint32_t Compression = U32(16);
  uint32_t Colors = U32(32);
  const bool TopDown = H < 0;
  if (H == INT32_MIN) return false;
  H = TopDown ? -H : H;
  if (HeaderSize < 40 || HeaderSize > DIB.size() || W < 1 || H < 1 || Compression != 0)
    return false;
  if (BitCount != 1 && BitCount != 8 && BitCount != 24 && BitCount != 32) return false;
  if (BitCount <= 8 && (Colors == 0 || Colors > (1u << BitCount))) Colors = 1u << BitCount;
  if (BitCount > 8) Colors = 0;
  if (!QLImageSizeOK(W, H, 24)) return false;
  const int64_t Stride = ((static_cast<int64_t>(W) * BitCount + 31) / 32) * 4;
  const int64_t Bits = HeaderSize + 4 * static_cast<int64_t>(Colors);
  if (Bits + Stride * H > static_cast<int64_t>(DIB.size())) return false;
  const uint8_t* Pal = DIB.data() + HeaderSize;
  auto Row = [&](int32_t Y) { return DIB.data() + Bits + Stride * (TopDown ? Y : H - 1 - Y); };
  if (BitCount == 1) {
    TBitmap Out(W, H, pf1bit);
    // Our 1-bit bitmaps read 0 as black; a DIB whose first entry is the lighter one is inverted.
    const int32_t G0 = Pal[0] + Pal[1] + Pal[2], G1 = Colors > 1 ? Pal[4] + Pal[5] + Pal[6] : 765;
    const bool Invert = G0 > G1;
    const size_t Bytes = static_cast<size_t>((W + 7) / 8);
    for (int32_t Y = 0; Y < H; ++Y) {
      uint8_t* D = Out.ScanLine(Y);
      std::memcpy(D, Row(Y), Bytes);
      if (Invert)
        for (size_t I = 0; I < Bytes; ++I) D[I] = static_cast<uint8_t>(~D[I]);
    }
    B = std::move(Out);
    return true;
  }
  TBitmap Out(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = Row(Y);
    uint8_t* D = Out.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X, D += 3) {
      if (BitCount == 8) {
        const uint32_t I = std::min<uint32_t>(S[X], Colors - 1);
        D[0] = Pal[4 * I], D[1] = Pal[4 * I + 1], D[2] = Pal[4 * I + 2];
      } else {
        const uint8_t* P = S + X * (BitCount / 8);
        D[0] = P[0], D[1] = P[1], D[2] = P[2];
      }
    }
  }
  B = std::move(Out);
  return true;
}

uint16_t TAcquisition::NativeTransfer(TBitmap& B) {
  TW_IMAGENATIVEXFER X;
  const uint16_t RC = S.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &X);
  if (RC == TWRC_XFERDONE) {
    S.State = 7;
    return CopyDIB(X.DIB, B) ? TWRC_XFERDONE : TWRC_FAILURE;
  }
  S.State = RC == TWRC_CANCEL ? 7 : 6;
  return RC == TWRC_CANCEL ? TWRC_CANCEL : TWRC_FAILURE;
}

// MSG_ENDXFER: state 6 when more pages wait, 5 when none.
bool TAcquisition::EndTransfer() {
  TW_PENDINGXFERS P;
  if (S.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &P) != TWRC_SUCCESS) {
    ResetPending();
    return false;
  }
  S.State = P.Count == 0 ? 5 : 6;
  return true;
}

void TAcquisition::Transfer(const TQLAcquirePageEvent& PageEvent, bool Buffered) {
  do {
    TPageInfo Info;
    if (!GetInfo(Info, Buffered)) {
      ResetPending();
      Failed = true;
      return;
    }
    TBitmap B(Info.Width, Info.Height, Info.OneBit() ? pf1bit : pf24bit);
    const uint16_t RC = Info.Memory ? MemoryTransfer(B, Info) : NativeTransfer(B);
    if (RC == TWRC_XFERDONE) {
      Acquired = true;
      if (Multi) {
        TIOParamsVals* Params = nullptr;
        if (PageEvent) PageEvent(B, Params);
        if (Params) WriteInfo(Info, *Params);
      } else {
        Page = std::move(B);
        PageInfo = Info;
      }
    } else {
      // A failed or cancelled page is dropped whole; the pages before it stay delivered.
      if (Multi && !ShowUI) Failed = true;
      if (RC != TWRC_CANCEL) Failed = true;
    }
    if (S.State == 7 && !EndTransfer()) return;
    if (!Multi || RC != TWRC_XFERDONE) {
      if (S.State == 6) ResetPending();
      return;
    }
  } while (!Aborted() && S.State == 6);
  if (S.State == 6) ResetPending();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The operations

bool QLTW_Acquire(TBitmap* Bitmap, bool Multi, const TQLAcquirePageEvent& PageEvent,
                  TQLTWainParams& Params, TWinControl*, TQLTWainShared& Shared,
                  TProgressRec& Progress, TIOParamsVals* IOParams) {
  if (!Multi && !Bitmap) return false;
  // The list is read before the session opens the manager: it needs a session of its own.
  Params.GetSourceCount();
  TSession S(Shared, &Params);
  if (!S.Open() || !S.OpenSource(Params)) return false;
  bool Buffered = Params.BufferedTransfer;
  if (!SendSettings(S, Params.Capabilities(), Buffered)) return false;
  const bool ShowUI = Params.VisibleDialog;
  TW_USERINTERFACE UI;
  UI.ShowUI = ShowUI ? 1 : 0;
  UI.ModalUI = 0;
  UI.hParent = nullptr;
  if (S.Source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &UI) != TWRC_SUCCESS) return false;
  S.State = 5;
  TAcquisition A(S, Progress, Multi, ShowUI);
  const bool MainThread = Application().IsMainThread();
  // The source speaks through events: it is asked for one until it has delivered or asked to be
  // closed, and the application's own queue runs in between.
  while (S.State > 4 && !A.Acquired) {
    TW_EVENT E;
    const uint16_t RC = S.Source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &E);
    if (RC == TWRC_DSEVENT && E.TWMessage == MSG_XFERREADY) {
      S.State = 6;
      A.Transfer(PageEvent, Buffered);
      if (A.Failed && S.State == 5) S.DisableSource();
    } else if (RC == TWRC_DSEVENT && E.TWMessage == MSG_CLOSEDSREQ) {
      S.DisableSource();
    } else if (RC != TWRC_DSEVENT) {
      // No event from the source and none queued: nothing can come any more.
      const int32_t Ran = MainThread ? Application().ProcessMessages() : 0;
      if (Ran == 0) break;
    }
  }
  S.Close();
  if (!Multi && A.Acquired) {
    *Bitmap = std::move(A.Page);
    if (IOParams) WriteInfo(A.PageInfo, *IOParams);
    Bitmap->Modified();
  }
  return A.Acquired;
}

bool QLTW_SelectImageSource(std::string& Name, TQLTWainShared& Shared, TWinControl*) {
  TSession S(Shared, nullptr);
  if (!S.Open()) return false;
  TW_IDENTITY Id;
  if (S.Manager(DAT_IDENTITY, MSG_USERSELECT, &Id) != TWRC_SUCCESS) return false;
  Name = Str34(Id.ProductName);
  return true;
}

bool QLTW_GetSourceList(std::vector<TW_IDENTITY>& List, TQLTWainShared& Shared, TWinControl*) {
  List.clear();
  TSession S(Shared, nullptr);
  if (!S.Open()) return false;
  TW_IDENTITY Id;
  uint16_t RC = S.Manager(DAT_IDENTITY, MSG_GETFIRST, &Id);
  // A manager that never ends its list cannot make us loop for ever.
  while (RC == TWRC_SUCCESS && List.size() < 4096) {
    List.push_back(Id);
    RC = S.Manager(DAT_IDENTITY, MSG_GETNEXT, &Id);
  }
  return true;
}

bool QLTW_GetDefaultSource(TQLTWainShared& Shared, TWinControl*, std::string& Name) {
  TSession S(Shared, nullptr);
  if (!S.Open()) return false;
  TW_IDENTITY Id;
  if (S.Manager(DAT_IDENTITY, MSG_GETDEFAULT, &Id) != TWRC_SUCCESS) return false;
  Name = Str34(Id.ProductName);
  return true;
}

bool QLTW_GetCapabilities(TQLTWainParams& Params, TQLTWainCapabilities& Caps, bool Apply,
                          TWinControl*, TQLTWainShared& Shared) {
  Params.GetSourceCount();
  TSession S(Shared, nullptr);
  if (!S.Open() || !S.OpenSource(Params)) return false;
  bool Buffered = Params.BufferedTransfer;
  if (Apply && !SendSettings(S, Caps, Buffered)) return false;
  if (!UnitsToInches(S)) return false;
  ReadCapabilities(S, Caps);
  if (!Apply)
    for (TQLList* L :
         std::initializer_list<TQLList*>{&Caps.XResolution, &Caps.YResolution, &Caps.XScaling,
                                         &Caps.YScaling, &Caps.PixelType, &Caps.Orientation})
      L->SetFlags(0);
  return true;
}

void QLTW_FreeResources(TQLTWainShared& Shared, TWinControl*) {
  Shared.Manager.reset();
}

// ---------------------------------------------------------------------------------------------
// TQLTWainParams

TQLTWainParams::TQLTWainParams(bool MultiOwner) : FMultiOwner(MultiOwner) {
  SetDefaultParams();
}

TQLTWainParams::~TQLTWainParams() {
  QLTW_FreeResources(Shared, ParentWindow);
}

void TQLTWainParams::SetDefaultParams() {
  FCaps.XResolution.Assign(TQLDoubleList());
  FCaps.YResolution.Assign(TQLDoubleList());
  FCaps.XScaling.Assign(TQLDoubleList());
  FCaps.YScaling.Assign(TQLDoubleList());
  FCaps.PixelType.Assign(TQLIntegerList());
  FCaps.Orientation.Assign(TQLIntegerList());
  FCaps.Gamma = 2.2;
  FCaps.PhysicalWidth = FCaps.PhysicalHeight = 0;
  FCaps.FeederLoaded = FCaps.DuplexSupported = false;
  FCaps.Indicators = true;
  FCaps.AcquireFrameEnabled = false;
  FCaps.AcquireFrameLeft = FCaps.AcquireFrameTop = FCaps.AcquireFrameRight = 0;
  FCaps.AcquireFrameBottom = 0;
  FCaps.FeederEnabled = FCaps.DuplexEnabled = FMultiOwner;
  FCapabilitiesFilled = false;
  BufferedTransfer = true;
  VisibleDialog = true;
  AppVersionInfo.clear();
  AppManufacturer.clear();
  AppProductFamily.clear();
  AppProductName.clear();
}

void TQLTWainParams::FillSourceList() {
  if (FSourceListFilled) return;
  QLTW_GetSourceList(FSourceList, Shared, ParentWindow);
  FSourceListFilled = true;
}

void TQLTWainParams::RefreshSourceList() {
  FSourceListFilled = false;
  FSourceList.clear();
}

int32_t TQLTWainParams::GetSourceCount() {
  FillSourceList();
  return static_cast<int32_t>(FSourceList.size());
}

const TW_IDENTITY* TQLTWainParams::GetSource(int32_t Index) {
  FillSourceList();
  if (Index < 0 || Index >= static_cast<int32_t>(FSourceList.size())) return nullptr;
  return &FSourceList[static_cast<size_t>(Index)];
}

std::string TQLTWainParams::GetSourceName(int32_t Index) {
  const TW_IDENTITY* Id = GetSource(Index);
  return Id ? Str34(Id->ProductName) : std::string();
}

bool TQLTWainParams::SelectSourceByName(const std::string& Name) {
  auto Lower = [](std::string S) {
    for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    return S;
  };
  const std::string Want = Lower(Name);
  for (int32_t I = 0; I < GetSourceCount(); ++I)
    if (Lower(GetSourceName(I)).rfind(Want, 0) == 0) {
      SetSelectedSource(I);
      return true;
    }
  return false;
}

void TQLTWainParams::SetSelectedSource(int32_t Index) {
  if (Index != FSelectedSource) FCapabilitiesFilled = false;
  FSelectedSource = Index;
}

int32_t TQLTWainParams::GetDefaultSource() {
  std::string Name;
  if (!QLTW_GetDefaultSource(Shared, ParentWindow, Name)) return -1;
  for (int32_t I = 0; I < GetSourceCount(); ++I)
    if (GetSourceName(I) == Name) return I;
  return -1;
}

void TQLTWainParams::FillCapabilities() {
  if (FCapabilitiesFilled) return;
  FCapabilitiesFilled = true;
  QLTW_GetCapabilities(*this, FCaps, false, ParentWindow, Shared);
}

bool TQLTWainParams::Update() {
  FillCapabilities();
  return QLTW_GetCapabilities(*this, FCaps, true, ParentWindow, Shared);
}

// clang-format off
TQLDoubleList& TQLTWainParams::XResolution() { FillCapabilities(); return FCaps.XResolution; }
TQLDoubleList& TQLTWainParams::YResolution() { FillCapabilities(); return FCaps.YResolution; }
TQLDoubleList& TQLTWainParams::XScaling() { FillCapabilities(); return FCaps.XScaling; }
TQLDoubleList& TQLTWainParams::YScaling() { FillCapabilities(); return FCaps.YScaling; }
TQLIntegerList& TQLTWainParams::PixelType() { FillCapabilities(); return FCaps.PixelType; }
TQLIntegerList& TQLTWainParams::Orientation() { FillCapabilities(); return FCaps.Orientation; }
double TQLTWainParams::GetGamma() { FillCapabilities(); return FCaps.Gamma; }
void TQLTWainParams::SetGamma(double V) { FillCapabilities(); FCaps.Gamma = V; }
double TQLTWainParams::GetPhysicalWidth() { FillCapabilities(); return FCaps.PhysicalWidth; }
double TQLTWainParams::GetPhysicalHeight() { FillCapabilities(); return FCaps.PhysicalHeight; }
bool TQLTWainParams::GetFeederEnabled() { FillCapabilities(); return FCaps.FeederEnabled; }
void TQLTWainParams::SetFeederEnabled(bool V) { FillCapabilities(); FCaps.FeederEnabled = V; }
bool TQLTWainParams::GetFeederLoaded() { FillCapabilities(); return FCaps.FeederLoaded; }
bool TQLTWainParams::GetDuplexSupported() { FillCapabilities(); return FCaps.DuplexSupported; }
bool TQLTWainParams::GetDuplexEnabled() { FillCapabilities(); return FCaps.DuplexEnabled; }
void TQLTWainParams::SetDuplexEnabled(bool V) { FillCapabilities(); FCaps.DuplexEnabled = V; }
bool TQLTWainParams::GetIndicators() { FillCapabilities(); return FCaps.Indicators; }
void TQLTWainParams::SetIndicators(bool V) { FillCapabilities(); FCaps.Indicators = V; }
double TQLTWainParams::GetAcquireFrameLeft() { FillCapabilities(); return FCaps.AcquireFrameLeft; }
double TQLTWainParams::GetAcquireFrameTop() { FillCapabilities(); return FCaps.AcquireFrameTop; }
double TQLTWainParams::GetAcquireFrameRight() { FillCapabilities(); return FCaps.AcquireFrameRight; }
double TQLTWainParams::GetAcquireFrameBottom() { FillCapabilities(); return FCaps.AcquireFrameBottom; }
// clang-format on

void TQLTWainParams::SetAcquireFrame(double Left, double Top, double Right, double Bottom) {
  FillCapabilities();
  FCaps.AcquireFrameLeft = Left;
  FCaps.AcquireFrameTop = Top;
  FCaps.AcquireFrameRight = Right;
  FCaps.AcquireFrameBottom = Bottom;
}

bool QLTW_ChooseSource(TQLTWainParams& TW) {
  std::string Name;
  if (!QLTW_SelectImageSource(Name, TW.Shared, TW.ParentWindow)) return false;
  TW.RefreshSourceList();
  for (int32_t I = 0; I < TW.GetSourceCount(); ++I)
    if (TW.GetSourceName(I) == Name) {
      TW.SetSelectedSource(I);
      return true;
    }
  return false;
}

}  // namespace quillo
