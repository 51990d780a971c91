// The scanner source manager: the records and codes of the TWAIN protocol and the interface an
// application drives it through. The SANE implementation lives in sane_source.cpp; a build
// without SANE has no source manager, and acquisition then fails.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillo {

// --- protocol codes ----------------------------------------------------------------------------
constexpr uint32_t DG_CONTROL = 0x0001;
constexpr uint32_t DG_IMAGE = 0x0002;

constexpr uint16_t DAT_CAPABILITY = 0x0001;
constexpr uint16_t DAT_EVENT = 0x0002;
constexpr uint16_t DAT_IDENTITY = 0x0003;
constexpr uint16_t DAT_PARENT = 0x0004;
constexpr uint16_t DAT_PENDINGXFERS = 0x0005;
constexpr uint16_t DAT_SETUPMEMXFER = 0x0006;
constexpr uint16_t DAT_STATUS = 0x0008;
constexpr uint16_t DAT_USERINTERFACE = 0x0009;
constexpr uint16_t DAT_IMAGEINFO = 0x0101;
constexpr uint16_t DAT_IMAGELAYOUT = 0x0102;
constexpr uint16_t DAT_IMAGEMEMXFER = 0x0103;
constexpr uint16_t DAT_IMAGENATIVEXFER = 0x0104;

constexpr uint16_t MSG_NULL = 0x0000;
constexpr uint16_t MSG_GET = 0x0001;
constexpr uint16_t MSG_GETCURRENT = 0x0002;
constexpr uint16_t MSG_GETDEFAULT = 0x0003;
constexpr uint16_t MSG_GETFIRST = 0x0004;
constexpr uint16_t MSG_GETNEXT = 0x0005;
constexpr uint16_t MSG_SET = 0x0006;
constexpr uint16_t MSG_RESET = 0x0007;
constexpr uint16_t MSG_XFERREADY = 0x0101;
constexpr uint16_t MSG_CLOSEDSREQ = 0x0102;
constexpr uint16_t MSG_OPENDSM = 0x0301;
constexpr uint16_t MSG_CLOSEDSM = 0x0302;
constexpr uint16_t MSG_OPENDS = 0x0401;
constexpr uint16_t MSG_CLOSEDS = 0x0402;
constexpr uint16_t MSG_USERSELECT = 0x0403;
constexpr uint16_t MSG_DISABLEDS = 0x0501;
constexpr uint16_t MSG_ENABLEDS = 0x0502;
constexpr uint16_t MSG_PROCESSEVENT = 0x0601;
constexpr uint16_t MSG_ENDXFER = 0x0701;

// Return codes.
constexpr uint16_t TWRC_SUCCESS = 0;
constexpr uint16_t TWRC_FAILURE = 1;
constexpr uint16_t TWRC_CHECKSTATUS = 2;
constexpr uint16_t TWRC_CANCEL = 3;
constexpr uint16_t TWRC_DSEVENT = 4;
constexpr uint16_t TWRC_NOTDSEVENT = 5;
constexpr uint16_t TWRC_XFERDONE = 6;
constexpr uint16_t TWRC_ENDOFLIST = 7;

// Condition codes (DAT_STATUS).
constexpr uint16_t TWCC_SUCCESS = 0;
constexpr uint16_t TWCC_BUMMER = 1;
constexpr uint16_t TWCC_LOWMEMORY = 2;
constexpr uint16_t TWCC_NODS = 3;
constexpr uint16_t TWCC_OPERATIONERROR = 5;
constexpr uint16_t TWCC_BADCAP = 6;
constexpr uint16_t TWCC_BADPROTOCOL = 9;
constexpr uint16_t TWCC_BADVALUE = 10;
constexpr uint16_t TWCC_SEQERROR = 11;
constexpr uint16_t TWCC_BADDEST = 12;
constexpr uint16_t TWCC_CAPUNSUPPORTED = 13;
constexpr uint16_t TWCC_NOMEDIA = 24;

// Container types.
constexpr uint16_t TWON_ARRAY = 3;
constexpr uint16_t TWON_ENUMERATION = 4;
constexpr uint16_t TWON_ONEVALUE = 5;
constexpr uint16_t TWON_RANGE = 6;
constexpr uint32_t TWON_DONTCARE32 = 0xFFFFFFFFu;
constexpr uint16_t TWON_DONTCARE16 = 0xFFFF;

// Item types.
constexpr uint16_t TWTY_INT8 = 0;
constexpr uint16_t TWTY_INT16 = 1;
constexpr uint16_t TWTY_INT32 = 2;
constexpr uint16_t TWTY_UINT8 = 3;
constexpr uint16_t TWTY_UINT16 = 4;
constexpr uint16_t TWTY_UINT32 = 5;
constexpr uint16_t TWTY_BOOL = 6;
constexpr uint16_t TWTY_FIX32 = 7;
constexpr uint16_t TWTY_FRAME = 8;

// Capabilities.
constexpr uint16_t CAP_FEEDERENABLED = 0x1002;
constexpr uint16_t CAP_FEEDERLOADED = 0x1003;
constexpr uint16_t CAP_INDICATORS = 0x100B;
constexpr uint16_t CAP_DUPLEX = 0x1012;
constexpr uint16_t CAP_DUPLEXENABLED = 0x1013;
constexpr uint16_t ICAP_COMPRESSION = 0x0100;
constexpr uint16_t ICAP_PIXELTYPE = 0x0101;
constexpr uint16_t ICAP_UNITS = 0x0102;
constexpr uint16_t ICAP_XFERMECH = 0x0103;
constexpr uint16_t ICAP_GAMMA = 0x1108;
constexpr uint16_t ICAP_ORIENTATION = 0x110C;
constexpr uint16_t ICAP_PHYSICALWIDTH = 0x1111;
constexpr uint16_t ICAP_PHYSICALHEIGHT = 0x1112;
constexpr uint16_t ICAP_XRESOLUTION = 0x1118;
constexpr uint16_t ICAP_YRESOLUTION = 0x1119;
constexpr uint16_t ICAP_PIXELFLAVOR = 0x111F;
constexpr uint16_t ICAP_PLANARCHUNKY = 0x1120;
constexpr uint16_t ICAP_XSCALING = 0x1124;
constexpr uint16_t ICAP_YSCALING = 0x1125;

// Capability values.
constexpr uint16_t TWPT_BW = 0;
constexpr uint16_t TWPT_GRAY = 1;
constexpr uint16_t TWPT_RGB = 2;
constexpr uint16_t TWSX_NATIVE = 0;
constexpr uint16_t TWSX_MEMORY = 2;
constexpr uint16_t TWPC_CHUNKY = 0;
constexpr uint16_t TWUN_INCHES = 0;
constexpr uint16_t TWPF_CHOCOLATE = 0;
constexpr uint16_t TWCP_NONE = 0;
constexpr uint16_t TWDX_NONE = 0;
constexpr uint16_t TWDX_1PASSDUPLEX = 1;
constexpr uint32_t TWMF_APPOWNS = 0x0001;
constexpr uint32_t TWMF_HANDLE = 0x0010;
constexpr uint32_t DG_CONTROL_IMAGE = DG_CONTROL | DG_IMAGE;
// The pending count of a source that cannot tell how many pages follow.
constexpr uint16_t TWPENDING_UNKNOWN = 0xFFFF;

// --- records -----------------------------------------------------------------------------------
#pragma pack(push, 2)
struct TW_FIX32 {
  int16_t Whole = 0;
  uint16_t Frac = 0;
};

struct TW_VERSION {
  uint16_t MajorNum = 0;
  uint16_t MinorNum = 0;
  uint16_t Language = 0;
  uint16_t Country = 0;
  char Info[34] = {};
};

// 156 bytes, as the source list stores it.
struct TW_IDENTITY {
  uint32_t Id = 0;
  TW_VERSION Version;
  uint16_t ProtocolMajor = 0;
  uint16_t ProtocolMinor = 0;
  uint32_t SupportedGroups = 0;
  char Manufacturer[34] = {};
  char ProductFamily[34] = {};
  char ProductName[34] = {};
};

struct TW_FRAME {
  TW_FIX32 Left, Top, Right, Bottom;
};

struct TW_IMAGELAYOUT {
  TW_FRAME Frame;
  uint32_t DocumentNumber = 0;
  uint32_t PageNumber = 0;
  uint32_t FrameNumber = 0;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  int32_t ImageWidth = 0;
  int32_t ImageLength = 0;
  int16_t SamplesPerPixel = 0;
  int16_t BitsPerSample[8] = {};
  int16_t BitsPerPixel = 0;
  uint16_t Planar = 0;
  int16_t PixelType = 0;
  uint16_t Compression = 0;
};

struct TW_SETUPMEMXFER {
  uint32_t MinBufSize = 0;
  uint32_t MaxBufSize = 0;
  uint32_t Preferred = 0;
};

struct TW_MEMORY {
  uint32_t Flags = 0;
  uint32_t Length = 0;
  void* TheMem = nullptr;
};

struct TW_IMAGEMEMXFER {
  uint16_t Compression = 0;
  uint32_t BytesPerRow = 0;
  uint32_t Columns = 0;
  uint32_t Rows = 0;
  uint32_t XOffset = 0;
  uint32_t YOffset = 0;
  uint32_t BytesWritten = 0;
  TW_MEMORY Memory;
};

struct TW_PENDINGXFERS {
  uint16_t Count = 0;
  uint32_t Reserved = 0;
};

struct TW_USERINTERFACE {
  uint16_t ShowUI = 0;
  uint16_t ModalUI = 0;
  void* hParent = nullptr;
};

struct TW_STATUS {
  uint16_t ConditionCode = 0;
  uint16_t Reserved = 0;
};

struct TW_EVENT {
  void* pEvent = nullptr;
  uint16_t TWMessage = MSG_NULL;
};
#pragma pack(pop)
static_assert(sizeof(TW_IDENTITY) == 156, "the source list stores 156-byte identities");

// A capability and its container. The container is the packed container record (one value,
// enumeration, array or range, little-endian as in memory) owned by value: whoever fills it for
// MSG_GET is the source, and it is freed with the record.
struct TW_CAPABILITY {
  uint16_t Cap = 0;
  uint16_t ConType = TWON_DONTCARE16;
  std::vector<uint8_t> Container;
};

// A native transfer hands over the whole page as a packed device-independent bitmap: a 40-byte
// information header, the palette, then the rows bottom-up, each padded to 4 bytes.
struct TW_IMAGENATIVEXFER {
  std::vector<uint8_t> DIB;
};

// --- containers --------------------------------------------------------------------------------
// TW_FIX32 of a double: whole = high 16 bits, fraction = low 16 bits of round(Value x 65536),
// halves away from zero.
TW_FIX32 QLToFix32(double Value);
// Whole + Fraction / 65536.
double QLFromFix32(TW_FIX32 Value);

// A container in unpacked form: the items of an enumeration or array, the one value (Current),
// or the range; every item as a double (FIX32 items converted, booleans 0 or 1).
struct TQLTWContainer {
  uint16_t ConType = TWON_ONEVALUE;
  uint16_t ItemType = TWTY_UINT16;
  std::vector<double> Items;
  uint32_t CurrentIndex = 0;
  uint32_t DefaultIndex = 0;
  double Min = 0, Max = 0, Step = 0, Default = 0, Current = 0;
};
// Packs C into Cap's container and type. Booleans are written 0 or 0xFFFF (and any non-zero is
// read as true).
void QLTWEncode(TW_CAPABILITY& Cap, const TQLTWContainer& C);
// Unpacks Cap's container; false when it is shorter than its header and items say, of an unknown
// kind or item type, or an enumeration's index lies outside its items.
bool QLTWDecode(const TW_CAPABILITY& Cap, TQLTWContainer& C);
// A one-value container holding Value.
void QLTWOneValue(TW_CAPABILITY& Cap, uint16_t ItemType, double Value);

// --- the source manager ------------------------------------------------------------------------
// One entry point: Dest is nullptr for calls to the manager and the open source's identity for
// calls to the source; Data points to the record the triplet names.
class IQLSourceManager {
 public:
  virtual ~IQLSourceManager() = default;
  virtual uint16_t Entry(TW_IDENTITY* Origin, TW_IDENTITY* Dest, uint32_t DG, uint16_t DAT,
                         uint16_t MSG, void* Data) = 0;
};

// Loads the system's source manager: the SANE one where the library was built with SANE,
// nothing otherwise.
std::unique_ptr<IQLSourceManager> QLLoadSourceManager();
// True when this build has a real source manager.
bool QLHaveSourceManager();

// --- the source's own dialog -------------------------------------------------------------------
// One device setting as a dialog shows it. Numbers are in the setting's own unit.
struct TQLScanOption {
  enum TKind : uint8_t { skBool, skInt, skFixed, skString, skButton, skGroup };
  int32_t Index = 0;
  std::string Name, Title, Description, Unit;
  TKind Kind = skInt;
  bool Active = true;
  bool Settable = true;
  // The allowed values: a list of words (numbers), a list of strings, or a range.
  std::vector<double> Words;
  std::vector<std::string> Strings;
  bool HasRange = false;
  double Min = 0, Max = 0, Quant = 0;
  // The current value: Number for bool, int and fixed (the first element of an array), Text for
  // strings.
  double Number = 0;
  std::string Text;
};

// What a device shows its dialog: its settings, which change as others are set.
class IQLScanDevice {
 public:
  virtual ~IQLScanDevice() = default;
  virtual std::string DeviceTitle() = 0;
  virtual std::vector<TQLScanOption> Options() = 0;
  // Sets a number (bool, int, fixed) or a string; false when the device refuses it.
  virtual bool SetNumber(int32_t Index, double Value) = 0;
  virtual bool SetText(int32_t Index, const std::string& Value) = 0;
};

// Shows the device's dialog modally; true when the user asked to scan, false on cancel. A window
// backend installs it; without one (headless), asking for the source's dialog scans at once.
using TQLScanDialogHook = std::function<bool(IQLScanDevice& Device)>;
void QLSetScanDialogHook(TQLScanDialogHook Hook);
const TQLScanDialogHook& QLGetScanDialogHook();

}  // namespace quillo
