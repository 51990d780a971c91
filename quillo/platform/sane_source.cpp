// The source manager over SANE: each SANE device is a source, its options are the capabilities,
// and its frames are the transfers.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/twain.h"

#if QUILLO_HAVE_SANE
#include <poll.h>
#include <sane/sane.h>
#include <sane/saneopts.h>
#endif

namespace quillo {

#if !QUILLO_HAVE_SANE

std::unique_ptr<IQLSourceManager> QLLoadSourceManager() {
  return nullptr;
}
bool QLHaveSourceManager() {
  return false;
}

#else

bool QLHaveSourceManager() {
  return true;
}

namespace {

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

void CopyStr32(char (&Dst)[34], const std::string& Src) {
  std::memset(Dst, 0, sizeof Dst);
  std::memcpy(Dst, Src.data(), std::min<size_t>(Src.size(), 32));
}

// The pixel type a scan mode stands for, or -1 for modes we cannot deliver.
int32_t ModePixelType(const std::string& Mode) {
  const std::string M = Lower(Mode);
  if (M.find("lineart") != std::string::npos || M.find("halftone") != std::string::npos ||
      M.find("binary") != std::string::npos || M.find("black") != std::string::npos)
    return M.find("color") != std::string::npos ? -1 : TWPT_BW;
  if (M.find("color") != std::string::npos || M.find("colour") != std::string::npos)
    return TWPT_RGB;
  if (M.find("gray") != std::string::npos || M.find("grey") != std::string::npos) return TWPT_GRAY;
  return -1;
}

bool IsFeederSource(const std::string& S) {
  const std::string L = Lower(S);
  return L.find("adf") != std::string::npos || L.find("feeder") != std::string::npos ||
         L.find("duplex") != std::string::npos;
}
bool IsDuplexSource(const std::string& S) {
  return Lower(S).find("duplex") != std::string::npos;
}

uint16_t ConditionOf(SANE_Status S) {
  switch (S) {
    case SANE_STATUS_NO_DOCS:
      return TWCC_NOMEDIA;
    case SANE_STATUS_NO_MEM:
      return TWCC_LOWMEMORY;
    case SANE_STATUS_INVAL:
      return TWCC_BADVALUE;
    case SANE_STATUS_UNSUPPORTED:
      return TWCC_CAPUNSUPPORTED;
    default:
      return TWCC_OPERATIONERROR;
  }
}

// One open SANE device: its options by name, read and set.
class TSaneDevice : public IQLScanDevice {
 public:
  TSaneDevice(SANE_Handle H, std::string Title) : FH(H), FTitle(std::move(Title)) {}
  ~TSaneDevice() override {
    if (FH) {
      sane_cancel(FH);
      sane_close(FH);
    }
  }
  TSaneDevice(const TSaneDevice&) = delete;
  TSaneDevice& operator=(const TSaneDevice&) = delete;

  SANE_Handle Handle() const { return FH; }

  int32_t Count() {
    SANE_Int N = 0;
    if (sane_control_option(FH, 0, SANE_ACTION_GET_VALUE, &N, nullptr) != SANE_STATUS_GOOD)
      return 1;
    return N;
  }
  const SANE_Option_Descriptor* Desc(int32_t I) { return sane_get_option_descriptor(FH, I); }
  // The index of the active option of that name, or -1.
  int32_t Find(const char* Name) {
    const int32_t N = Count();
    for (int32_t I = 1; I < N; ++I) {
      const SANE_Option_Descriptor* D = Desc(I);
      if (D && D->name && std::strcmp(D->name, Name) == 0 && SANE_OPTION_IS_ACTIVE(D->cap))
        return I;
    }
    return -1;
  }
  bool GetNumber(int32_t I, double& V) {
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    if (!D || !SANE_OPTION_IS_ACTIVE(D->cap) || D->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
      return false;
    if (D->type != SANE_TYPE_INT && D->type != SANE_TYPE_FIXED && D->type != SANE_TYPE_BOOL)
      return false;
    std::vector<SANE_Word> Buf(static_cast<size_t>(D->size) / sizeof(SANE_Word) + 1);
    if (sane_control_option(FH, I, SANE_ACTION_GET_VALUE, Buf.data(), nullptr) != SANE_STATUS_GOOD)
      return false;
    V = D->type == SANE_TYPE_FIXED ? SANE_UNFIX(Buf[0]) : Buf[0];
    return true;
  }
  bool GetText(int32_t I, std::string& S) {
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    if (!D || D->type != SANE_TYPE_STRING || !SANE_OPTION_IS_ACTIVE(D->cap) || D->size <= 0)
      return false;
    std::vector<char> Buf(static_cast<size_t>(D->size) + 1, '\0');
    if (sane_control_option(FH, I, SANE_ACTION_GET_VALUE, Buf.data(), nullptr) != SANE_STATUS_GOOD)
      return false;
    S = Buf.data();
    return true;
  }
  std::vector<std::string> StringList(int32_t I) {
    std::vector<std::string> L;
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    if (D && D->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const* P = D->constraint.string_list; P && *P; ++P) L.emplace_back(*P);
    return L;
  }
  std::vector<double> WordList(int32_t I) {
    std::vector<double> L;
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    if (D && D->constraint_type == SANE_CONSTRAINT_WORD_LIST && D->constraint.word_list) {
      const SANE_Word* W = D->constraint.word_list;
      for (SANE_Word K = 1; K <= W[0]; ++K)
        L.push_back(D->type == SANE_TYPE_FIXED ? SANE_UNFIX(W[K]) : W[K]);
    }
    return L;
  }
  const SANE_Range* Range(int32_t I) {
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    return D && D->constraint_type == SANE_CONSTRAINT_RANGE ? D->constraint.range : nullptr;
  }
  double RangeValue(int32_t I, SANE_Word W) {
    const SANE_Option_Descriptor* D = Desc(I);
    return D && D->type == SANE_TYPE_FIXED ? SANE_UNFIX(W) : W;
  }

  // IQLScanDevice
  std::string DeviceTitle() override { return FTitle; }
  std::vector<TQLScanOption> Options() override;
  bool SetNumber(int32_t I, double V) override {
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    if (!D || !SANE_OPTION_IS_SETTABLE(D->cap) || !SANE_OPTION_IS_ACTIVE(D->cap)) return false;
    if (D->size < static_cast<SANE_Int>(sizeof(SANE_Word))) return false;
    SANE_Word W = 0;
    if (D->type == SANE_TYPE_FIXED)
      W = SANE_FIX(V);
    else if (D->type == SANE_TYPE_INT)
      W = static_cast<SANE_Word>(std::lround(V));
    else if (D->type == SANE_TYPE_BOOL)
      W = V != 0 ? SANE_TRUE : SANE_FALSE;
    else
      return false;
    // Array options take the value in every element.
    std::vector<SANE_Word> Buf(static_cast<size_t>(D->size) / sizeof(SANE_Word), W);
    return sane_control_option(FH, I, SANE_ACTION_SET_VALUE, Buf.data(), nullptr) ==
           SANE_STATUS_GOOD;
  }
  bool SetText(int32_t I, const std::string& S) override {
    const SANE_Option_Descriptor* D = I > 0 ? Desc(I) : nullptr;
    if (!D || D->type != SANE_TYPE_STRING || !SANE_OPTION_IS_SETTABLE(D->cap) ||
        !SANE_OPTION_IS_ACTIVE(D->cap) || D->size <= 0)
      return false;
    std::vector<char> Buf(std::max<size_t>(static_cast<size_t>(D->size), S.size() + 1), '\0');
    std::memcpy(Buf.data(), S.data(), S.size());
    return sane_control_option(FH, I, SANE_ACTION_SET_VALUE, Buf.data(), nullptr) ==
           SANE_STATUS_GOOD;
  }

 private:
  SANE_Handle FH;
  std::string FTitle;
};

std::vector<TQLScanOption> TSaneDevice::Options() {
  std::vector<TQLScanOption> L;
  const int32_t N = Count();
  for (int32_t I = 1; I < N; ++I) {
    const SANE_Option_Descriptor* D = Desc(I);
    if (!D) continue;
    TQLScanOption O;
    O.Index = I;
    O.Name = D->name ? D->name : "";
    O.Title = D->title ? D->title : O.Name;
    O.Description = D->desc ? D->desc : "";
    O.Active = SANE_OPTION_IS_ACTIVE(D->cap);
    O.Settable = SANE_OPTION_IS_SETTABLE(D->cap);
    static const char* const Units[] = {"", "px", "bit", "mm", "dpi", "%", "us"};
    if (D->unit >= 0 && static_cast<size_t>(D->unit) < std::size(Units)) O.Unit = Units[D->unit];
    switch (D->type) {
      case SANE_TYPE_BOOL:
        O.Kind = TQLScanOption::skBool;
        break;
      case SANE_TYPE_INT:
        O.Kind = TQLScanOption::skInt;
        break;
      case SANE_TYPE_FIXED:
        O.Kind = TQLScanOption::skFixed;
        break;
      case SANE_TYPE_STRING:
        O.Kind = TQLScanOption::skString;
        break;
      case SANE_TYPE_BUTTON:
        O.Kind = TQLScanOption::skButton;
        break;
      default:
        O.Kind = TQLScanOption::skGroup;
        break;
    }
    O.Strings = StringList(I);
    O.Words = WordList(I);
    if (const SANE_Range* R = Range(I)) {
      O.HasRange = true;
      O.Min = RangeValue(I, R->min);
      O.Max = RangeValue(I, R->max);
      O.Quant = RangeValue(I, R->quant);
    }
    if (O.Active) {
      if (O.Kind == TQLScanOption::skString)
        GetText(I, O.Text);
      else if (O.Kind != TQLScanOption::skButton && O.Kind != TQLScanOption::skGroup)
        GetNumber(I, O.Number);
    }
    L.push_back(std::move(O));
  }
  return L;
}

// SANE is initialised once for the process and never ended: sane_exit tears down every backend
// of the process, which a library cannot do on behalf of an application that may use SANE too.
bool SaneInit() {
  static const bool Ok = [] {
    SANE_Int Version = 0;
    return sane_init(&Version, nullptr) == SANE_STATUS_GOOD;
  }();
  return Ok;
}

class TSaneSourceManager : public IQLSourceManager {
 public:
  ~TSaneSourceManager() override { CloseManager(); }
  uint16_t Entry(TW_IDENTITY* Origin, TW_IDENTITY* Dest, uint32_t DG, uint16_t DAT, uint16_t MSG,
                 void* Data) override;

 private:
  uint16_t Fail(uint16_t Condition) {
    FCondition = Condition;
    return TWRC_FAILURE;
  }
  uint16_t ManagerCall(uint16_t DAT, uint16_t MSG, void* Data);
  uint16_t SourceCall(uint32_t DG, uint16_t DAT, uint16_t MSG, void* Data);
  uint16_t Capability(uint16_t MSG, TW_CAPABILITY& Cap);
  uint16_t GetCapability(TW_CAPABILITY& Cap);
  uint16_t SetCapability(TW_CAPABILITY& Cap);
  void CloseManager();
  void ListDevices();
  int32_t DefaultIndex() const;
  uint16_t OpenSource(TW_IDENTITY& Id);
  void CloseSource();

  // Settings over options.
  int32_t ResolutionOption(bool Y);
  int32_t ScalingOption();
  uint16_t ReadPixelType(std::vector<double>& Types, double& Current);
  bool SetPixelType(int32_t Type);
  bool GeometryInches(const char* Name, double& Inches);
  bool SetGeometryInches(const char* Name, double Inches);
  bool PhysicalInches(const char* Name, double& Inches);
  bool SourceIsFeeder(bool& Feeder, bool& Duplex);
  bool SetSource(bool Feeder, bool Duplex);

  // Pages.
  uint16_t StartPage();
  uint16_t ImageInfo(TW_IMAGEINFO& Info);
  uint16_t MemoryStrip(TW_IMAGEMEMXFER& X);
  uint16_t NativePage(TW_IMAGENATIVEXFER& X);
  uint16_t EndTransfer(TW_PENDINGXFERS& P);
  void CancelPage();
  // Reads Rows device lines and converts them into Out (OutStride bytes apart).
  SANE_Status ReadRows(int32_t Rows, uint8_t* Out, int64_t OutStride);
  int64_t OutRowBytes() const;

  int32_t FState = 2;
  uint16_t FCondition = TWCC_SUCCESS;
  std::vector<TW_IDENTITY> FSources;
  std::vector<std::string> FDeviceNames;
  size_t FNext = 0;
  std::unique_ptr<TSaneDevice> FDevice;
  TW_IDENTITY FDeviceId;
  uint16_t FEvent = MSG_NULL;
  uint16_t FXferMech = TWSX_NATIVE;
  bool FFeederBatch = false;
  // The page being transferred.
  bool FPageStarted = false;
  bool FGotData = false;  // any byte of the started page read
  SANE_Parameters FParams{};
  int32_t FPixelType = TWPT_GRAY;
  int32_t FRowsDone = 0;
  double FXRes = 0, FYRes = 0;
  std::vector<uint8_t> FLine;  // one device line: its length is the row stride
  std::vector<uint8_t> FStage;
};

void TSaneSourceManager::CloseSource() {
  FDevice.reset();
  FPageStarted = false;
  FEvent = MSG_NULL;
}

void TSaneSourceManager::CloseManager() {
  CloseSource();
  if (FState >= 3) FState = 2;
}

void TSaneSourceManager::ListDevices() {
  FSources.clear();
  FDeviceNames.clear();
  const SANE_Device** List = nullptr;
  if (sane_get_devices(&List, SANE_FALSE) != SANE_STATUS_GOOD || !List) return;
  for (const SANE_Device** D = List; *D; ++D) {
    TW_IDENTITY Id;
    Id.Id = static_cast<uint32_t>(FSources.size() + 1);
    Id.Version.MajorNum = 1;
    Id.ProtocolMajor = 1;
    Id.ProtocolMinor = 9;
    Id.SupportedGroups = DG_CONTROL_IMAGE;
    const std::string Vendor = (*D)->vendor ? (*D)->vendor : "";
    const std::string Model = (*D)->model ? (*D)->model : "";
    std::string Product = Vendor.empty() ? Model : Vendor + " " + Model;
    if (Product.empty()) Product = (*D)->name;
    // Sources are found again by product name, so equal names get a number.
    int32_t Same = 1;
    for (const TW_IDENTITY& S : FSources)
      if (std::strncmp(S.ProductName, Product.substr(0, 32).c_str(), 32) == 0 ||
          std::string(S.ProductName).rfind(Product.substr(0, 26) + " #", 0) == 0)
        ++Same;
    if (Same > 1) {
      const std::string Suffix = " #" + std::to_string(Same);
      Product = Product.substr(0, 32 - Suffix.size()) + Suffix;
    }
    CopyStr32(Id.Manufacturer, Vendor);
    CopyStr32(Id.ProductFamily, (*D)->name ? (*D)->name : "");
    CopyStr32(Id.ProductName, Product);
    CopyStr32(Id.Version.Info, (*D)->type ? (*D)->type : "");
    FSources.push_back(Id);
    FDeviceNames.emplace_back((*D)->name ? (*D)->name : "");
  }
}

int32_t TSaneSourceManager::DefaultIndex() const {
  if (FSources.empty()) return -1;
  if (const char* Env = std::getenv("SANE_DEFAULT_DEVICE"))
    for (size_t I = 0; I < FDeviceNames.size(); ++I)
      if (FDeviceNames[I] == Env) return static_cast<int32_t>(I);
  return 0;
}

uint16_t TSaneSourceManager::Entry(TW_IDENTITY*, TW_IDENTITY* Dest, uint32_t DG, uint16_t DAT,
                                   uint16_t MSG, void* Data) {
  if (!Dest) return ManagerCall(DAT, MSG, Data);
  if (!FDevice || Dest->Id != FDeviceId.Id) return Fail(TWCC_BADDEST);
  return SourceCall(DG, DAT, MSG, Data);
}

uint16_t TSaneSourceManager::ManagerCall(uint16_t DAT, uint16_t MSG, void* Data) {
  if (DAT == DAT_PARENT && MSG == MSG_OPENDSM) {
    if (FState != 2) return Fail(TWCC_SEQERROR);
    if (!SaneInit()) return Fail(TWCC_BUMMER);
    FState = 3;
    ListDevices();
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_PARENT && MSG == MSG_CLOSEDSM) {
    if (FState != 3) return Fail(TWCC_SEQERROR);
    CloseManager();
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_STATUS && MSG == MSG_GET && Data) {
    static_cast<TW_STATUS*>(Data)->ConditionCode = FCondition;
    FCondition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (FState < 3) return Fail(TWCC_SEQERROR);
  if (DAT != DAT_IDENTITY || !Data) return Fail(TWCC_BADPROTOCOL);
  TW_IDENTITY& Id = *static_cast<TW_IDENTITY*>(Data);
  switch (MSG) {
    case MSG_GETFIRST:
      FNext = 0;
      [[fallthrough]];
    case MSG_GETNEXT:
      if (FNext >= FSources.size()) return TWRC_ENDOFLIST;
      Id = FSources[FNext++];
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
    case MSG_USERSELECT: {
      // Headless there is nothing to choose from: the default device is the choice.
      const int32_t I = DefaultIndex();
      if (I < 0) return Fail(TWCC_NODS);
      Id = FSources[static_cast<size_t>(I)];
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS:
      return OpenSource(Id);
    case MSG_CLOSEDS:
      if (FState != 4 || !FDevice || Id.Id != FDeviceId.Id) return Fail(TWCC_SEQERROR);
      CloseSource();
      FState = 3;
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

uint16_t TSaneSourceManager::OpenSource(TW_IDENTITY& Id) {
  if (FState != 3) return Fail(TWCC_SEQERROR);
  int32_t I = -1;
  if (Id.Id != 0 || Id.ProductName[0] != 0) {
    for (size_t K = 0; K < FSources.size(); ++K)
      if ((Id.Id != 0 && FSources[K].Id == Id.Id) ||
          (Id.Id == 0 && std::strncmp(FSources[K].ProductName, Id.ProductName, 34) == 0))
        I = static_cast<int32_t>(K);
  } else {
    I = DefaultIndex();
  }
  if (I < 0) return Fail(TWCC_NODS);
  SANE_Handle H = nullptr;
  const SANE_Status S = sane_open(FDeviceNames[static_cast<size_t>(I)].c_str(), &H);
  if (S != SANE_STATUS_GOOD || !H) return Fail(ConditionOf(S));
  FDevice = std::make_unique<TSaneDevice>(H, FSources[static_cast<size_t>(I)].ProductName);
  FDeviceId = FSources[static_cast<size_t>(I)];
  Id = FDeviceId;
  FXferMech = TWSX_NATIVE;
  FState = 4;
  return TWRC_SUCCESS;
}

uint16_t TSaneSourceManager::SourceCall(uint32_t DG, uint16_t DAT, uint16_t MSG, void* Data) {
  if (DAT == DAT_STATUS && MSG == MSG_GET && Data) {
    static_cast<TW_STATUS*>(Data)->ConditionCode = FCondition;
    FCondition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (!Data && DAT != DAT_EVENT) return Fail(TWCC_BADPROTOCOL);
  if (DG == DG_CONTROL) {
    switch (DAT) {
      case DAT_CAPABILITY:
        if (FState != 4) return Fail(TWCC_SEQERROR);
        return Capability(MSG, *static_cast<TW_CAPABILITY*>(Data));
      case DAT_USERINTERFACE:
        if (MSG == MSG_ENABLEDS) {
          if (FState != 4) return Fail(TWCC_SEQERROR);
          const TW_USERINTERFACE& UI = *static_cast<TW_USERINTERFACE*>(Data);
          FState = 5;
          FFeederBatch = false;
          bool F = false, D = false;
          if (SourceIsFeeder(F, D)) FFeederBatch = F;
          const TQLScanDialogHook& Hook = QLGetScanDialogHook();
          if (UI.ShowUI && Hook)
            FEvent = Hook(*FDevice) ? MSG_XFERREADY : MSG_CLOSEDSREQ;
          else
            FEvent = MSG_XFERREADY;
          return TWRC_SUCCESS;
        }
        if (MSG == MSG_DISABLEDS) {
          if (FState < 5) return Fail(TWCC_SEQERROR);
          CancelPage();
          FEvent = MSG_NULL;
          FState = 4;
          return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
      case DAT_EVENT: {
        if (MSG != MSG_PROCESSEVENT || !Data) return Fail(TWCC_BADPROTOCOL);
        TW_EVENT& E = *static_cast<TW_EVENT*>(Data);
        E.TWMessage = MSG_NULL;
        if (FState < 5 || FEvent == MSG_NULL) return TWRC_NOTDSEVENT;
        E.TWMessage = FEvent;
        if (FEvent == MSG_XFERREADY) FState = 6;
        FEvent = MSG_NULL;
        return TWRC_DSEVENT;
      }
      case DAT_PENDINGXFERS: {
        TW_PENDINGXFERS& P = *static_cast<TW_PENDINGXFERS*>(Data);
        if (MSG == MSG_ENDXFER) {
          if (FState != 6 && FState != 7) return Fail(TWCC_SEQERROR);
          return EndTransfer(P);
        }
        if (MSG == MSG_RESET) {
          if (FState != 6) return Fail(TWCC_SEQERROR);
          CancelPage();
          P.Count = 0;
          FState = 5;
          // The dialog, if any, has closed: nothing more will come from this enabling.
          FEvent = MSG_CLOSEDSREQ;
          return TWRC_SUCCESS;
        }
        if (MSG == MSG_GET) {
          P.Count = FState >= 6 ? TWPENDING_UNKNOWN : 0;
          return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
      }
      case DAT_SETUPMEMXFER: {
        if (MSG != MSG_GET || FState < 4) return Fail(TWCC_SEQERROR);
        TW_SETUPMEMXFER& S = *static_cast<TW_SETUPMEMXFER*>(Data);
        const int64_t Row = FPageStarted ? std::max<int64_t>(1, OutRowBytes()) : 1;
        S.MinBufSize = static_cast<uint32_t>(std::min<int64_t>(Row, 0x7FFFFFFF));
        S.MaxBufSize = 0x7FFFFFFF;
        // About 1 MiB of whole rows: large enough that the calls cost nothing next to the
        // device, small enough for progress to move.
        S.Preferred = static_cast<uint32_t>(
            std::min<int64_t>(std::max<int64_t>(Row, (1 << 20) / Row * Row), 0x7FFFFFFF));
        return TWRC_SUCCESS;
      }
      default:
        return Fail(TWCC_BADPROTOCOL);
    }
  }
  if (DG == DG_IMAGE) {
    switch (DAT) {
      case DAT_IMAGEINFO:
        if (MSG != MSG_GET || FState != 6) return Fail(TWCC_SEQERROR);
        return ImageInfo(*static_cast<TW_IMAGEINFO*>(Data));
      case DAT_IMAGELAYOUT: {
        if (FState != 4) return Fail(TWCC_SEQERROR);
        TW_IMAGELAYOUT& L = *static_cast<TW_IMAGELAYOUT*>(Data);
        if (MSG == MSG_SET) {
          const double Le = QLFromFix32(L.Frame.Left), To = QLFromFix32(L.Frame.Top);
          const double Ri = QLFromFix32(L.Frame.Right), Bo = QLFromFix32(L.Frame.Bottom);
          if (Ri <= Le || Bo <= To) return Fail(TWCC_BADVALUE);
          bool Ok = SetGeometryInches(SANE_NAME_SCAN_TL_X, Le);
          Ok = SetGeometryInches(SANE_NAME_SCAN_TL_Y, To) && Ok;
          Ok = SetGeometryInches(SANE_NAME_SCAN_BR_X, Ri) && Ok;
          Ok = SetGeometryInches(SANE_NAME_SCAN_BR_Y, Bo) && Ok;
          return Ok ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
        }
        if (MSG == MSG_GET || MSG == MSG_GETCURRENT) {
          double Le, To, Ri, Bo;
          if (!GeometryInches(SANE_NAME_SCAN_TL_X, Le) ||
              !GeometryInches(SANE_NAME_SCAN_TL_Y, To) ||
              !GeometryInches(SANE_NAME_SCAN_BR_X, Ri) || !GeometryInches(SANE_NAME_SCAN_BR_Y, Bo))
            return Fail(TWCC_CAPUNSUPPORTED);
          L.Frame = TW_FRAME{QLToFix32(Le), QLToFix32(To), QLToFix32(Ri), QLToFix32(Bo)};
          L.DocumentNumber = L.PageNumber = L.FrameNumber = 1;
          return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
      }
      case DAT_IMAGEMEMXFER:
        if (MSG != MSG_GET || (FState != 6 && FState != 7)) return Fail(TWCC_SEQERROR);
        if (FXferMech != TWSX_MEMORY) return Fail(TWCC_SEQERROR);
        return MemoryStrip(*static_cast<TW_IMAGEMEMXFER*>(Data));
      case DAT_IMAGENATIVEXFER:
        if (MSG != MSG_GET || FState != 6) return Fail(TWCC_SEQERROR);
        return NativePage(*static_cast<TW_IMAGENATIVEXFER*>(Data));
      default:
        return Fail(TWCC_BADPROTOCOL);
    }
  }
  return Fail(TWCC_BADPROTOCOL);
}

// --- capabilities ------------------------------------------------------------------------------

int32_t TSaneSourceManager::ResolutionOption(bool Y) {
  const int32_t I = FDevice->Find(Y ? SANE_NAME_SCAN_Y_RESOLUTION : SANE_NAME_SCAN_X_RESOLUTION);
  return I >= 0 ? I : FDevice->Find(SANE_NAME_SCAN_RESOLUTION);
}

// Scaling is no standard SANE option; backends that scale call it zoom or scale, in per cent.
int32_t TSaneSourceManager::ScalingOption() {
  for (const char* Name : {"zoom", "scale", "scaling"}) {
    const int32_t I = FDevice->Find(Name);
    if (I >= 0 && FDevice->Desc(I)->unit == SANE_UNIT_PERCENT) return I;
  }
  return -1;
}

uint16_t TSaneSourceManager::ReadPixelType(std::vector<double>& Types, double& Current) {
  const int32_t Mode = FDevice->Find(SANE_NAME_SCAN_MODE);
  const int32_t Depth = FDevice->Find(SANE_NAME_BIT_DEPTH);
  std::string Now;
  if (Mode < 0 || !FDevice->GetText(Mode, Now)) return TWCC_CAPUNSUPPORTED;
  for (const std::string& M : FDevice->StringList(Mode)) {
    const int32_t T = ModePixelType(M);
    if (T >= 0 && std::find(Types.begin(), Types.end(), T) == Types.end()) Types.push_back(T);
  }
  // Line-art through a grey mode at one bit per sample, where the device has no such mode.
  const std::vector<double> Depths = Depth >= 0 ? FDevice->WordList(Depth) : std::vector<double>{};
  const bool GrayHasBit = std::find(Depths.begin(), Depths.end(), 1.0) != Depths.end();
  if (GrayHasBit && std::find(Types.begin(), Types.end(), TWPT_GRAY) != Types.end() &&
      std::find(Types.begin(), Types.end(), TWPT_BW) == Types.end())
    Types.push_back(TWPT_BW);
  std::sort(Types.begin(), Types.end());
  Current = ModePixelType(Now);
  double D = 8;
  if (Current == TWPT_GRAY && Depth >= 0 && FDevice->GetNumber(Depth, D) && D == 1)
    Current = TWPT_BW;
  return Types.empty() || Current < 0 ? TWCC_CAPUNSUPPORTED : TWCC_SUCCESS;
}

bool TSaneSourceManager::SetPixelType(int32_t Type) {
  const int32_t Mode = FDevice->Find(SANE_NAME_SCAN_MODE);
  if (Mode < 0) return false;
  const std::vector<std::string> Modes = FDevice->StringList(Mode);
  auto Pick = [&](int32_t T) -> const std::string* {
    for (const std::string& M : Modes)
      if (ModePixelType(M) == T) return &M;
    return nullptr;
  };
  const std::string* M = Pick(Type);
  int32_t WantDepth = 8;
  if (!M && Type == TWPT_BW) {
    M = Pick(TWPT_GRAY);
    WantDepth = 1;
  } else if (Type == TWPT_BW) {
    WantDepth = 1;
  }
  if (!M || !FDevice->SetText(Mode, *M)) return false;
  const int32_t Depth = FDevice->Find(SANE_NAME_BIT_DEPTH);
  if (Depth >= 0) {
    const std::vector<double> W = FDevice->WordList(Depth);
    if (std::find(W.begin(), W.end(), static_cast<double>(WantDepth)) != W.end())
      return FDevice->SetNumber(Depth, WantDepth);
    if (WantDepth == 1) return false;
  }
  return true;
}

// Lengths in millimetres or pixels (at the current resolution) as inches.
bool TSaneSourceManager::GeometryInches(const char* Name, double& Inches) {
  const int32_t I = FDevice->Find(Name);
  double V = 0;
  if (I < 0 || !FDevice->GetNumber(I, V)) return false;
  const SANE_Option_Descriptor* D = FDevice->Desc(I);
  if (D->unit == SANE_UNIT_MM) {
    Inches = V / 25.4;
    return true;
  }
  double Res = 0;
  if (D->unit == SANE_UNIT_PIXEL && FDevice->GetNumber(ResolutionOption(false), Res) && Res > 0) {
    Inches = V / Res;
    return true;
  }
  return false;
}

bool TSaneSourceManager::SetGeometryInches(const char* Name, double Inches) {
  const int32_t I = FDevice->Find(Name);
  if (I < 0) return false;
  const SANE_Option_Descriptor* D = FDevice->Desc(I);
  double Res = 0;
  if (D->unit == SANE_UNIT_MM) return FDevice->SetNumber(I, Inches * 25.4);
  if (D->unit == SANE_UNIT_PIXEL && FDevice->GetNumber(ResolutionOption(false), Res) && Res > 0)
    return FDevice->SetNumber(I, Inches * Res);
  return false;
}

bool TSaneSourceManager::PhysicalInches(const char* Name, double& Inches) {
  const int32_t I = FDevice->Find(Name);
  const SANE_Range* R = I >= 0 ? FDevice->Range(I) : nullptr;
  if (!R || FDevice->Desc(I)->unit != SANE_UNIT_MM) return false;
  Inches = FDevice->RangeValue(I, R->max) / 25.4;
  return true;
}

bool TSaneSourceManager::SourceIsFeeder(bool& Feeder, bool& Duplex) {
  const int32_t I = FDevice->Find(SANE_NAME_SCAN_SOURCE);
  std::string Now;
  if (I < 0 || !FDevice->GetText(I, Now)) return false;
  Feeder = IsFeederSource(Now);
  Duplex = IsDuplexSource(Now);
  return true;
}

bool TSaneSourceManager::SetSource(bool Feeder, bool Duplex) {
  const int32_t I = FDevice->Find(SANE_NAME_SCAN_SOURCE);
  if (I < 0) return false;
  for (const std::string& S : FDevice->StringList(I))
    if (IsFeederSource(S) == Feeder && (!Feeder || IsDuplexSource(S) == Duplex))
      return FDevice->SetText(I, S);
  return false;
}

uint16_t TSaneSourceManager::Capability(uint16_t MSG, TW_CAPABILITY& Cap) {
  switch (MSG) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
      return GetCapability(Cap);
    case MSG_SET:
      return SetCapability(Cap);
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

uint16_t TSaneSourceManager::GetCapability(TW_CAPABILITY& Cap) {
  TQLTWContainer C;
  switch (Cap.Cap) {
    case ICAP_UNITS:
      QLTWOneValue(Cap, TWTY_UINT16, TWUN_INCHES);
      return TWRC_SUCCESS;
    case ICAP_PIXELFLAVOR:
      QLTWOneValue(Cap, TWTY_UINT16, TWPF_CHOCOLATE);
      return TWRC_SUCCESS;
    case ICAP_PLANARCHUNKY:
      QLTWOneValue(Cap, TWTY_UINT16, TWPC_CHUNKY);
      return TWRC_SUCCESS;
    case ICAP_COMPRESSION:
      QLTWOneValue(Cap, TWTY_UINT16, TWCP_NONE);
      return TWRC_SUCCESS;
    case ICAP_XFERMECH:
      C.ConType = TWON_ENUMERATION;
      C.Items = {TWSX_NATIVE, TWSX_MEMORY};
      C.CurrentIndex = FXferMech == TWSX_MEMORY ? 1 : 0;
      QLTWEncode(Cap, C);
      return TWRC_SUCCESS;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      const int32_t I = ResolutionOption(Cap.Cap == ICAP_YRESOLUTION);
      double Now = 0;
      if (I < 0 || !FDevice->GetNumber(I, Now)) return Fail(TWCC_CAPUNSUPPORTED);
      C.ItemType = TWTY_FIX32;
      if (const SANE_Range* R = FDevice->Range(I)) {
        C.ConType = TWON_RANGE;
        C.Min = FDevice->RangeValue(I, R->min);
        C.Max = FDevice->RangeValue(I, R->max);
        C.Step = R->quant ? FDevice->RangeValue(I, R->quant) : 1;
        C.Default = C.Current = Now;
      } else if (std::vector<double> W = FDevice->WordList(I); !W.empty()) {
        C.ConType = TWON_ENUMERATION;
        C.Items = W;
        const auto At = std::find(W.begin(), W.end(), Now);
        C.CurrentIndex = At == W.end() ? 0 : static_cast<uint32_t>(At - W.begin());
      } else {
        C.Current = Now;
      }
      QLTWEncode(Cap, C);
      return TWRC_SUCCESS;
    }
    case ICAP_XSCALING:
    case ICAP_YSCALING: {
      const int32_t I = ScalingOption();
      double Now = 0;
      if (I < 0 || !FDevice->GetNumber(I, Now)) return Fail(TWCC_CAPUNSUPPORTED);
      C.ItemType = TWTY_FIX32;
      if (const SANE_Range* R = FDevice->Range(I)) {
        C.ConType = TWON_RANGE;
        C.Min = FDevice->RangeValue(I, R->min) / 100;
        C.Max = FDevice->RangeValue(I, R->max) / 100;
        C.Step = (R->quant ? FDevice->RangeValue(I, R->quant) : 1) / 100;
      } else if (std::vector<double> W = FDevice->WordList(I); !W.empty()) {
        C.ConType = TWON_ENUMERATION;
        for (double V : W) C.Items.push_back(V / 100);
        const auto At = std::find(W.begin(), W.end(), Now);
        C.CurrentIndex = At == W.end() ? 0 : static_cast<uint32_t>(At - W.begin());
      }
      C.Default = C.Current = Now / 100;
      QLTWEncode(Cap, C);
      return TWRC_SUCCESS;
    }
    case ICAP_PIXELTYPE: {
      double Now = 0;
      if (const uint16_t CC = ReadPixelType(C.Items, Now); CC != TWCC_SUCCESS) return Fail(CC);
      C.ConType = TWON_ENUMERATION;
      C.CurrentIndex =
          static_cast<uint32_t>(std::find(C.Items.begin(), C.Items.end(), Now) - C.Items.begin());
      QLTWEncode(Cap, C);
      return TWRC_SUCCESS;
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
      double In = 0;
      if (!PhysicalInches(Cap.Cap == ICAP_PHYSICALWIDTH ? SANE_NAME_SCAN_BR_X : SANE_NAME_SCAN_BR_Y,
                          In))
        return Fail(TWCC_CAPUNSUPPORTED);
      QLTWOneValue(Cap, TWTY_FIX32, In);
      return TWRC_SUCCESS;
    }
    case CAP_FEEDERENABLED:
    case CAP_FEEDERLOADED:
    case CAP_DUPLEXENABLED: {
      bool Feeder = false, Duplex = false;
      if (!SourceIsFeeder(Feeder, Duplex)) return Fail(TWCC_CAPUNSUPPORTED);
      QLTWOneValue(Cap, TWTY_BOOL, Cap.Cap == CAP_DUPLEXENABLED ? Duplex : Feeder);
      return TWRC_SUCCESS;
    }
    case CAP_DUPLEX: {
      const int32_t I = FDevice->Find(SANE_NAME_SCAN_SOURCE);
      bool Has = false;
      for (const std::string& S : FDevice->StringList(I)) Has = Has || IsDuplexSource(S);
      QLTWOneValue(Cap, TWTY_UINT16, Has ? TWDX_1PASSDUPLEX : TWDX_NONE);
      return TWRC_SUCCESS;
    }
    case CAP_INDICATORS:
      QLTWOneValue(Cap, TWTY_BOOL, 0);
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_CAPUNSUPPORTED);
  }
}

uint16_t TSaneSourceManager::SetCapability(TW_CAPABILITY& Cap) {
  TQLTWContainer C;
  if (!QLTWDecode(Cap, C)) return Fail(TWCC_BADVALUE);
  const double V = C.Current;
  switch (Cap.Cap) {
    case ICAP_UNITS:
      return V == TWUN_INCHES ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case ICAP_PIXELFLAVOR:
      return V == TWPF_CHOCOLATE ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case ICAP_PLANARCHUNKY:
      return V == TWPC_CHUNKY ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case ICAP_XFERMECH:
      if (V != TWSX_NATIVE && V != TWSX_MEMORY) return Fail(TWCC_BADVALUE);
      FXferMech = static_cast<uint16_t>(V);
      return TWRC_SUCCESS;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      const int32_t I = ResolutionOption(Cap.Cap == ICAP_YRESOLUTION);
      if (I < 0) return Fail(TWCC_CAPUNSUPPORTED);
      return FDevice->SetNumber(I, V) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case ICAP_XSCALING:
    case ICAP_YSCALING: {
      const int32_t I = ScalingOption();
      if (I < 0) return Fail(TWCC_CAPUNSUPPORTED);
      return FDevice->SetNumber(I, V * 100) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case ICAP_PIXELTYPE:
      return SetPixelType(static_cast<int32_t>(V)) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case CAP_FEEDERENABLED: {
      bool Feeder = false, Duplex = false;
      if (!SourceIsFeeder(Feeder, Duplex)) return Fail(TWCC_CAPUNSUPPORTED);
      if ((V != 0) == Feeder) return TWRC_SUCCESS;
      return SetSource(V != 0, false) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case CAP_DUPLEXENABLED: {
      bool Feeder = false, Duplex = false;
      if (!SourceIsFeeder(Feeder, Duplex)) return Fail(TWCC_CAPUNSUPPORTED);
      if ((V != 0) == Duplex) return TWRC_SUCCESS;
      // Duplex is a feeder's; a flatbed stays one.
      if (!Feeder) return Fail(TWCC_BADVALUE);
      return SetSource(true, V != 0) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case CAP_INDICATORS:
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_CAPUNSUPPORTED);
  }
}

// --- pages -------------------------------------------------------------------------------------

void TSaneSourceManager::CancelPage() {
  if (FDevice && FPageStarted) {
    // Backends that read in a thread end it with an asynchronous cancel. Cancelled before it
    // has delivered anything, it may be inside its first allocation and leave the allocator
    // locked for the rest of the process; so wait (briefly) until it has data ready.
    SANE_Int Fd = -1;
    if (!FGotData && sane_get_select_fd(FDevice->Handle(), &Fd) == SANE_STATUS_GOOD && Fd >= 0) {
      pollfd P{Fd, POLLIN, 0};
      poll(&P, 1, 2000);
    }
    sane_cancel(FDevice->Handle());
  }
  FPageStarted = false;
}

uint16_t TSaneSourceManager::StartPage() {
  if (FPageStarted) return TWRC_SUCCESS;
  // Options cannot be read while the device scans.
  FXRes = FYRes = 0;
  FDevice->GetNumber(ResolutionOption(false), FXRes);
  if (!FDevice->GetNumber(ResolutionOption(true), FYRes)) FYRes = FXRes;
  // A page the device already says is over the pixel limit is refused before it starts: no
  // scan runs only to be cancelled (see CancelPage for why an early cancel is best avoided).
  SANE_Parameters Estimate{};
  if (sane_get_parameters(FDevice->Handle(), &Estimate) == SANE_STATUS_GOOD &&
      Estimate.pixels_per_line > 0 && Estimate.lines > 0 &&
      !QLImageSizeOK(Estimate.pixels_per_line, Estimate.lines, 24))
    return Fail(TWCC_BADVALUE);
  const SANE_Status S = sane_start(FDevice->Handle());
  if (S != SANE_STATUS_GOOD) {
    sane_cancel(FDevice->Handle());
    return S == SANE_STATUS_CANCELLED ? TWRC_CANCEL : Fail(ConditionOf(S));
  }
  FPageStarted = true;
  FGotData = false;
  FRowsDone = 0;
  SANE_Parameters& P = FParams;
  if (sane_get_parameters(FDevice->Handle(), &P) != SANE_STATUS_GOOD) {
    CancelPage();
    return Fail(TWCC_OPERATIONERROR);
  }
  // One-pass grey or colour at 1, 8 or 16 bits, with a known length: what we can deliver.
  const int64_t Channels = P.format == SANE_FRAME_RGB ? 3 : 1;
  const bool FormatOK =
      (P.format == SANE_FRAME_GRAY && (P.depth == 1 || P.depth == 8 || P.depth == 16)) ||
      (P.format == SANE_FRAME_RGB && (P.depth == 8 || P.depth == 16));
  const int64_t Needed = (static_cast<int64_t>(P.pixels_per_line) * Channels * P.depth + 7) / 8;
  if (!FormatOK || P.pixels_per_line < 1 || P.lines < 1 || P.bytes_per_line < Needed ||
      !QLImageSizeOK(P.pixels_per_line, P.lines, 24)) {
    CancelPage();
    return Fail(TWCC_BADVALUE);
  }
  FPixelType = P.format == SANE_FRAME_RGB ? TWPT_RGB : P.depth == 1 ? TWPT_BW : TWPT_GRAY;
  FLine.assign(static_cast<size_t>(P.bytes_per_line), 0);
  return TWRC_SUCCESS;
}

int64_t TSaneSourceManager::OutRowBytes() const {
  const int64_t W = FParams.pixels_per_line;
  return FPixelType == TWPT_RGB ? W * 3 : FPixelType == TWPT_GRAY ? W : (W + 7) / 8;
}

uint16_t TSaneSourceManager::ImageInfo(TW_IMAGEINFO& Info) {
  if (const uint16_t RC = StartPage(); RC != TWRC_SUCCESS) return RC;
  Info = TW_IMAGEINFO{};
  Info.XResolution = QLToFix32(FXRes);
  Info.YResolution = QLToFix32(FYRes);
  Info.ImageWidth = FParams.pixels_per_line;
  Info.ImageLength = FParams.lines;
  Info.SamplesPerPixel = FPixelType == TWPT_RGB ? 3 : 1;
  const int16_t Bits = FPixelType == TWPT_BW ? 1 : 8;
  for (int32_t I = 0; I < Info.SamplesPerPixel; ++I) Info.BitsPerSample[I] = Bits;
  Info.BitsPerPixel = static_cast<int16_t>(Bits * Info.SamplesPerPixel);
  Info.Planar = 0;
  Info.PixelType = static_cast<int16_t>(FPixelType);
  Info.Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

SANE_Status TSaneSourceManager::ReadRows(int32_t Rows, uint8_t* Out, int64_t OutStride) {
  const int64_t W = FParams.pixels_per_line;
  const int32_t Depth = FParams.depth;
  const int64_t Samples = W * (FPixelType == TWPT_RGB ? 3 : 1);
  const size_t Line = FLine.size();
  // Whole strips in as few reads as the device allows: backends hand data through a pipe, and
  // line-sized reads spend their time on its lock. Eight-bit rows that need no change land in
  // place.
  const bool InPlace = Depth == 8 && OutStride == static_cast<int64_t>(Line);
  const size_t Total = static_cast<size_t>(Rows) * Line;
  if (!InPlace && FStage.size() < Total) FStage.resize(Total);
  uint8_t* Buf = InPlace ? Out : FStage.data();
  size_t Got = 0;
  while (Got < Total) {
    SANE_Int N = 0;
    const size_t Want = std::min<size_t>(Total - Got, 1u << 30);
    const SANE_Status S = sane_read(FDevice->Handle(), Buf + Got, static_cast<SANE_Int>(Want), &N);
    if (S != SANE_STATUS_GOOD) return S == SANE_STATUS_EOF ? SANE_STATUS_IO_ERROR : S;
    if (N < 0 || static_cast<size_t>(N) > Want) return SANE_STATUS_IO_ERROR;
    Got += static_cast<size_t>(N);
    FGotData = FGotData || N > 0;
  }
  if (!InPlace)
    for (int32_t R = 0; R < Rows; ++R) {
      const uint8_t* Src = Buf + static_cast<size_t>(R) * Line;
      uint8_t* Dst = Out + R * OutStride;
      if (Depth == 1) {
        // The device's 1 is black; ours is 0 (chocolate).
        const int64_t Bytes = (W + 7) / 8;
        for (int64_t I = 0; I < Bytes; ++I) Dst[I] = static_cast<uint8_t>(~Src[I]);
        if (W % 8) Dst[Bytes - 1] |= static_cast<uint8_t>(0xFF >> (W % 8));
      } else if (Depth == 8) {
        std::memcpy(Dst, Src, static_cast<size_t>(Samples));
      } else {
        for (int64_t I = 0; I < Samples; ++I) {
          uint16_t V;
          std::memcpy(&V, Src + 2 * I, 2);
          Dst[I] = static_cast<uint8_t>(V >> 8);
        }
      }
    }
  FRowsDone += Rows;
  return SANE_STATUS_GOOD;
}

uint16_t TSaneSourceManager::MemoryStrip(TW_IMAGEMEMXFER& X) {
  if (!FPageStarted) {
    if (const uint16_t RC = StartPage(); RC != TWRC_SUCCESS) return RC;
  }
  const int64_t Row = OutRowBytes();
  if (!X.Memory.TheMem || X.Memory.Length < Row) return Fail(TWCC_BADVALUE);
  const int32_t Rows =
      static_cast<int32_t>(std::min<int64_t>(X.Memory.Length / Row, FParams.lines - FRowsDone));
  FState = 7;
  X.Compression = TWCP_NONE;
  X.BytesPerRow = static_cast<uint32_t>(Row);
  X.Columns = static_cast<uint32_t>(FParams.pixels_per_line);
  X.XOffset = 0;
  X.YOffset = static_cast<uint32_t>(FRowsDone);
  X.Rows = 0;
  X.BytesWritten = 0;
  const SANE_Status S = ReadRows(Rows, static_cast<uint8_t*>(X.Memory.TheMem), Row);
  if (S != SANE_STATUS_GOOD) {
    CancelPage();
    if (S == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
    return Fail(ConditionOf(S));
  }
  X.Rows = static_cast<uint32_t>(Rows);
  X.BytesWritten = static_cast<uint32_t>(Rows * Row);
  return FRowsDone >= FParams.lines ? TWRC_XFERDONE : TWRC_SUCCESS;
}

uint16_t TSaneSourceManager::NativePage(TW_IMAGENATIVEXFER& X) {
  if (const uint16_t RC = StartPage(); RC != TWRC_SUCCESS) return RC;
  const int32_t W = FParams.pixels_per_line, H = FParams.lines;
  const int32_t Bits = FPixelType == TWPT_RGB ? 24 : FPixelType == TWPT_GRAY ? 8 : 1;
  const int64_t Stride = ((static_cast<int64_t>(W) * Bits + 31) / 32) * 4;
  const int32_t Colors = Bits == 24 ? 0 : 1 << Bits;
  const int64_t Header = 40 + 4 * Colors;
  FState = 7;
  std::vector<uint8_t> DIB(static_cast<size_t>(Header + Stride * H), 0);
  auto Put32 = [&](size_t At, uint32_t V) { std::memcpy(DIB.data() + At, &V, 4); };
  Put32(0, 40);
  Put32(4, static_cast<uint32_t>(W));
  Put32(8, static_cast<uint32_t>(H));
  DIB[12] = 1;
  DIB[14] = static_cast<uint8_t>(Bits);
  Put32(20, static_cast<uint32_t>(Stride * H));
  Put32(24, static_cast<uint32_t>(std::lround(FXRes / 0.0254)));
  Put32(28, static_cast<uint32_t>(std::lround(FYRes / 0.0254)));
  Put32(32, static_cast<uint32_t>(Colors));
  for (int32_t I = 0; I < Colors; ++I) {
    const uint8_t G = static_cast<uint8_t>(Colors == 2 ? I * 255 : I);
    DIB[static_cast<size_t>(40 + 4 * I)] = DIB[static_cast<size_t>(41 + 4 * I)] =
        DIB[static_cast<size_t>(42 + 4 * I)] = G;
  }
  // Rows arrive top first, in bands; the DIB stores the bottom row first.
  const int64_t RowBytes = OutRowBytes();
  const int32_t Band = static_cast<int32_t>(std::max<int64_t>(1, (1 << 20) / RowBytes));
  std::vector<uint8_t> Rows(static_cast<size_t>(RowBytes * std::min(Band, H)));
  for (int32_t Y0 = 0; Y0 < H; Y0 += Band) {
    const int32_t N = std::min(Band, H - Y0);
    const SANE_Status S = ReadRows(N, Rows.data(), RowBytes);
    if (S != SANE_STATUS_GOOD) {
      CancelPage();
      if (S == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
      return Fail(ConditionOf(S));
    }
    for (int32_t R = 0; R < N; ++R) {
      const uint8_t* Src = Rows.data() + R * RowBytes;
      uint8_t* Dst = DIB.data() + Header + Stride * (H - 1 - (Y0 + R));
      if (Bits == 24) {
        for (int32_t I = 0; I < W; ++I) {
          Dst[3 * I] = Src[3 * I + 2];
          Dst[3 * I + 1] = Src[3 * I + 1];
          Dst[3 * I + 2] = Src[3 * I];
        }
      } else {
        std::memcpy(Dst, Src, static_cast<size_t>(RowBytes));
      }
    }
  }
  X.DIB = std::move(DIB);
  return TWRC_XFERDONE;
}

uint16_t TSaneSourceManager::EndTransfer(TW_PENDINGXFERS& P) {
  const bool Complete = FPageStarted && FRowsDone >= FParams.lines;
  if (Complete) {
    // The device ends the page with end-of-file; drain whatever it adds beyond the length it
    // announced, bounded so that a device that never ends cannot hold us.
    std::vector<uint8_t> Sink(4096);
    for (int32_t I = 0; I < 1024; ++I) {
      SANE_Int N = 0;
      if (sane_read(FDevice->Handle(), Sink.data(), static_cast<SANE_Int>(Sink.size()), &N) !=
          SANE_STATUS_GOOD)
        break;
    }
  }
  FPageStarted = false;
  P.Count = 0;
  // A feeder has another page when the next start finds paper; that page stays started.
  if (Complete && FFeederBatch && StartPage() == TWRC_SUCCESS) P.Count = TWPENDING_UNKNOWN;
  if (P.Count == 0) CancelPage(), sane_cancel(FDevice->Handle());
  FState = P.Count == 0 ? 5 : 6;
  if (FState == 5) FEvent = MSG_CLOSEDSREQ;
  return TWRC_SUCCESS;
}

}  // namespace

std::unique_ptr<IQLSourceManager> QLLoadSourceManager() {
  return std::make_unique<TSaneSourceManager>();
}

#endif

}  // namespace quillo
