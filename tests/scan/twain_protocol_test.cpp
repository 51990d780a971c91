// The application side of the protocol against a scripted source manager that records every
// call, so that the order of operations and what is sent can be checked.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>

#include "quillo/io/quilloio.h"
#include "quillo/scan/twain.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

struct TScriptPage {
  int32_t Width = 5, Height = 7;
  int16_t PixelType = TWPT_RGB;
  int16_t BitsPerPixel = 24;
  // Strips of at most this many rows.
  uint32_t StripRows = 3;
  // What goes wrong: fail or cancel after the first strip, or a strip wider than the page.
  enum { Fine, FailMidway, CancelMidway, WideStrip } Fault = Fine;
};

// Pixel (x, y) of a page: every channel distinct, so that swaps and offsets show.
uint8_t Sample(int32_t X, int32_t Y, int32_t C) {
  return static_cast<uint8_t>(X * 31 + Y * 17 + C * 80 + 1);
}

class TScripted : public IQLSourceManager {
 public:
  std::vector<std::string> Log;
  std::map<uint16_t, TW_CAPABILITY> Caps;
  std::deque<TScriptPage> Pages;
  bool MemoryMech = true;
  int32_t State = 2;
  uint32_t Preferred = 64;

  TScripted() {
    Set(ICAP_UNITS, TWTY_UINT16, 2);  // centimetres until told otherwise
    Set(ICAP_PLANARCHUNKY, TWTY_UINT16, 0);
    TQLTWContainer R;
    R.ConType = TWON_RANGE;
    R.ItemType = TWTY_FIX32;
    R.Min = 50, R.Max = 600, R.Step = 1, R.Default = R.Current = 150;
    Caps[ICAP_XRESOLUTION].Cap = ICAP_XRESOLUTION;
    QLTWEncode(Caps[ICAP_XRESOLUTION], R);
    TQLTWContainer E;
    E.ConType = TWON_ENUMERATION;
    E.ItemType = TWTY_FIX32;
    E.Items = {75, 150, 300};
    E.CurrentIndex = 1;
    QLTWEncode(Caps[ICAP_YRESOLUTION], E);
    E.ItemType = TWTY_UINT16;
    E.Items = {0, 1, 2};
    E.CurrentIndex = 2;
    QLTWEncode(Caps[ICAP_PIXELTYPE], E);
    Set(CAP_FEEDERENABLED, TWTY_BOOL, 0);
    Set(ICAP_PHYSICALWIDTH, TWTY_FIX32, 8.5);
  }
  void Set(uint16_t Cap, uint16_t Type, double V) { QLTWOneValue(Caps[Cap], Type, V); }

  static std::string Name(uint16_t DAT, uint16_t MSG) {
    static const std::map<uint16_t, const char*> Dats = {
        {DAT_CAPABILITY, "CAP"},       {DAT_EVENT, "EVENT"},
        {DAT_IDENTITY, "IDENTITY"},    {DAT_PARENT, "PARENT"},
        {DAT_PENDINGXFERS, "PENDING"}, {DAT_SETUPMEMXFER, "SETUPMEM"},
        {DAT_STATUS, "STATUS"},        {DAT_USERINTERFACE, "UI"},
        {DAT_IMAGEINFO, "IMAGEINFO"},  {DAT_IMAGELAYOUT, "LAYOUT"},
        {DAT_IMAGEMEMXFER, "MEMXFER"}, {DAT_IMAGENATIVEXFER, "NATIVE"}};
    static const std::map<uint16_t, const char*> Msgs = {{MSG_GET, "GET"},
                                                         {MSG_GETFIRST, "GETFIRST"},
                                                         {MSG_GETNEXT, "GETNEXT"},
                                                         {MSG_GETDEFAULT, "GETDEFAULT"},
                                                         {MSG_SET, "SET"},
                                                         {MSG_RESET, "RESET"},
                                                         {MSG_OPENDSM, "OPENDSM"},
                                                         {MSG_CLOSEDSM, "CLOSEDSM"},
                                                         {MSG_OPENDS, "OPENDS"},
                                                         {MSG_CLOSEDS, "CLOSEDS"},
                                                         {MSG_USERSELECT, "USERSELECT"},
                                                         {MSG_ENABLEDS, "ENABLEDS"},
                                                         {MSG_DISABLEDS, "DISABLEDS"},
                                                         {MSG_PROCESSEVENT, "PROCESSEVENT"},
                                                         {MSG_ENDXFER, "ENDXFER"}};
    return std::string(Dats.at(DAT)) + " " + Msgs.at(MSG);
  }
  static std::string ConName(uint16_t T) {
    return T == TWON_ONEVALUE      ? "ONE"
           : T == TWON_ENUMERATION ? "ENUM"
           : T == TWON_RANGE       ? "RANGE"
                                   : "?";
  }

  uint16_t Entry(TW_IDENTITY* Origin, TW_IDENTITY* Dest, uint32_t, uint16_t DAT, uint16_t MSG,
                 void* Data) override {
    EXPECT_EQ(Origin->ProtocolMajor, 1);
    EXPECT_EQ(Origin->ProtocolMinor, 9);
    std::string Line = Name(DAT, MSG);
    if (DAT == DAT_CAPABILITY) {
      auto& C = *static_cast<TW_CAPABILITY*>(Data);
      Line.append(" ").append(std::to_string(C.Cap));
      if (MSG == MSG_SET) Line.append(" ").append(ConName(C.ConType));
    }
    Log.push_back(Line);
    if (DAT == DAT_STATUS) return TWRC_SUCCESS;
    if (!Dest) return Manager(MSG, Data);
    EXPECT_STREQ(Dest->ProductName, "Beta");
    return Source(DAT, MSG, Data);
  }

  uint16_t Manager(uint16_t MSG, void* Data) {
    auto* Id = static_cast<TW_IDENTITY*>(Data);
    switch (MSG) {
      case MSG_OPENDSM:
        State = 3;
        return TWRC_SUCCESS;
      case MSG_CLOSEDSM:
        State = 2;
        return TWRC_SUCCESS;
      case MSG_GETFIRST:
        Next = 0;
        [[fallthrough]];
      case MSG_GETNEXT:
        if (Next >= 2) return TWRC_ENDOFLIST;
        *Id = TW_IDENTITY{};
        Id->Id = static_cast<uint32_t>(Next + 1);
        std::strcpy(Id->ProductName, Next == 0 ? "Alpha" : "Beta");
        ++Next;
        return TWRC_SUCCESS;
      case MSG_GETDEFAULT:
      case MSG_USERSELECT:
        *Id = TW_IDENTITY{};
        std::strcpy(Id->ProductName, "Beta");
        return TWRC_SUCCESS;
      case MSG_OPENDS:
        EXPECT_STREQ(Id->ProductName, "Beta");
        State = 4;
        return TWRC_SUCCESS;
      case MSG_CLOSEDS:
        State = 3;
        return TWRC_SUCCESS;
    }
    return TWRC_FAILURE;
  }

  uint16_t Source(uint16_t DAT, uint16_t MSG, void* Data) {
    switch (DAT) {
      case DAT_CAPABILITY: {
        auto& C = *static_cast<TW_CAPABILITY*>(Data);
        if (C.Cap == ICAP_XFERMECH) {
          if (MSG == MSG_SET) {
            Mech = 2;
            return MemoryMech ? TWRC_SUCCESS : TWRC_FAILURE;
          }
          TQLTWContainer E;
          E.ConType = TWON_ENUMERATION;
          E.Items = MemoryMech ? std::vector<double>{0, 2} : std::vector<double>{0};
          E.CurrentIndex = MemoryMech && Mech == 2 ? 1 : 0;
          QLTWEncode(C, E);
          return TWRC_SUCCESS;
        }
        if (MSG == MSG_SET) {
          Sent[C.Cap] = C;
          if (Caps.count(C.Cap)) Caps[C.Cap] = C;
          return TWRC_SUCCESS;
        }
        if (!Caps.count(C.Cap)) return TWRC_FAILURE;
        C.ConType = Caps[C.Cap].ConType;
        C.Container = Caps[C.Cap].Container;
        return TWRC_SUCCESS;
      }
      case DAT_USERINTERFACE:
        if (MSG == MSG_ENABLEDS) {
          State = 5;
          Event = Pages.empty() ? MSG_CLOSEDSREQ : MSG_XFERREADY;
        } else {
          State = 4;
        }
        return TWRC_SUCCESS;
      case DAT_EVENT: {
        auto& E = *static_cast<TW_EVENT*>(Data);
        E.TWMessage = Event;
        Event = MSG_NULL;
        if (E.TWMessage == MSG_NULL) return TWRC_NOTDSEVENT;
        if (E.TWMessage == MSG_XFERREADY) State = 6;
        return TWRC_DSEVENT;
      }
      case DAT_IMAGEINFO: {
        auto& I = *static_cast<TW_IMAGEINFO*>(Data);
        const TScriptPage& P = Pages.front();
        I = TW_IMAGEINFO{};
        I.XResolution = QLToFix32(149.6);
        I.YResolution = QLToFix32(300);
        I.ImageWidth = P.Width;
        I.ImageLength = P.Height;
        I.BitsPerPixel = P.BitsPerPixel;
        I.SamplesPerPixel = P.BitsPerPixel == 24 ? 3 : 1;
        I.PixelType = P.PixelType;
        Row = 0;
        return TWRC_SUCCESS;
      }
      case DAT_SETUPMEMXFER:
        static_cast<TW_SETUPMEMXFER*>(Data)->Preferred = Preferred;
        static_cast<TW_SETUPMEMXFER*>(Data)->MinBufSize = 1;
        return TWRC_SUCCESS;
      case DAT_IMAGEMEMXFER:
        return Strip(*static_cast<TW_IMAGEMEMXFER*>(Data));
      case DAT_IMAGENATIVEXFER:
        return Native(*static_cast<TW_IMAGENATIVEXFER*>(Data));
      case DAT_PENDINGXFERS: {
        auto& P = *static_cast<TW_PENDINGXFERS*>(Data);
        if (MSG == MSG_ENDXFER) Pages.pop_front(), ++Done;
        if (MSG == MSG_RESET) Pages.clear();
        P.Count = static_cast<uint16_t>(Pages.size());
        State = Pages.empty() ? 5 : 6;
        return TWRC_SUCCESS;
      }
      case DAT_IMAGELAYOUT:
        Layout = *static_cast<TW_IMAGELAYOUT*>(Data);
        return TWRC_SUCCESS;
    }
    return TWRC_FAILURE;
  }

  uint16_t Strip(TW_IMAGEMEMXFER& X) {
    const uint32_t Flags = X.Memory.Flags;  // a packed field: read by value
    EXPECT_EQ(Flags, 0x11u);
    const TScriptPage& P = Pages.front();
    if (Row > 0 && P.Fault == TScriptPage::FailMidway) return TWRC_FAILURE;
    if (Row > 0 && P.Fault == TScriptPage::CancelMidway) return TWRC_CANCEL;
    const int32_t Bits = P.BitsPerPixel;
    const uint32_t BPR = static_cast<uint32_t>((P.Width * Bits + 7) / 8);
    const uint32_t Rows = std::min<uint32_t>(
        {P.StripRows, X.Memory.Length / BPR, static_cast<uint32_t>(P.Height - Row)});
    auto* M = static_cast<uint8_t*>(X.Memory.TheMem);
    std::memset(M, 0, X.Memory.Length);
    for (uint32_t R = 0; R < Rows; ++R)
      for (int32_t Xp = 0; Xp < P.Width; ++Xp) {
        const int32_t Y = Row + static_cast<int32_t>(R);
        if (Bits == 24)
          for (int32_t C = 0; C < 3; ++C) M[R * BPR + 3 * Xp + C] = Sample(Xp, Y, C);
        else if (Bits == 8)
          M[R * BPR + Xp] = Sample(Xp, Y, 0);
        else if ((Xp + Y) % 3 == 0)
          M[R * BPR + Xp / 8] |= static_cast<uint8_t>(0x80 >> (Xp % 8));
      }
    X.Compression = 0;
    X.BytesPerRow = BPR;
    X.Columns = static_cast<uint32_t>(P.Width) + (P.Fault == TScriptPage::WideStrip ? 1 : 0);
    X.Rows = Rows;
    X.XOffset = 0;
    // A running offset across pages, as some sources report it.
    X.YOffset = static_cast<uint32_t>(Row + 1000 * Done);
    X.BytesWritten = Rows * BPR;
    Row += static_cast<int32_t>(Rows);
    State = 7;
    return Row >= P.Height ? TWRC_XFERDONE : TWRC_SUCCESS;
  }

  uint16_t Native(TW_IMAGENATIVEXFER& X) {
    const TScriptPage& P = Pages.front();
    // A 24-bit DIB, bottom-up, rows padded to 4 bytes.
    const int32_t Stride = (P.Width * 3 + 3) / 4 * 4;
    X.DIB.assign(static_cast<size_t>(40 + Stride * P.Height), 0);
    auto Put32 = [&](size_t At, int32_t V) { std::memcpy(X.DIB.data() + At, &V, 4); };
    Put32(0, 40);
    Put32(4, P.Width);
    Put32(8, P.Height);
    X.DIB[12] = 1;
    X.DIB[14] = 24;
    for (int32_t Y = 0; Y < P.Height; ++Y)
      for (int32_t Xp = 0; Xp < P.Width; ++Xp)
        for (int32_t C = 0; C < 3; ++C)
          X.DIB[static_cast<size_t>(40 + Stride * (P.Height - 1 - Y) + 3 * Xp + C)] =
              Sample(Xp, Y, 2 - C);
    State = 7;
    return TWRC_XFERDONE;
  }

  std::map<uint16_t, TW_CAPABILITY> Sent;
  TW_IMAGELAYOUT Layout;

 private:
  int32_t Next = 0;
  uint16_t Event = MSG_NULL;
  int32_t Row = 0;
  int32_t Done = 0;
  uint16_t Mech = 0;
};

// A TQLTWainParams whose manager is a scripted one, with source "Beta" selected.
struct TRig {
  TQLTWainParams Params;
  TScripted* DSM = nullptr;
  explicit TRig(bool Multi = false) : Params(Multi) {
    auto M = std::make_unique<TScripted>();
    DSM = M.get();
    Params.Shared.Manager = std::move(M);
    Params.VisibleDialog = false;
    EXPECT_TRUE(Params.SelectSourceByName("be"));
    DSM->Log.clear();
  }
  std::vector<std::string> Calls(const std::string& Prefix) const {
    std::vector<std::string> R;
    for (const std::string& L : DSM->Log)
      if (L.rfind(Prefix, 0) == 0) R.push_back(L);
    return R;
  }
};

std::string CapLine(const char* Msg, uint16_t Cap, const char* Con = nullptr) {
  return std::string("CAP ") + Msg + " " + std::to_string(Cap) +
         (Con ? std::string(" ") + Con : "");
}

TEST(TwainFix32, RoundsHalvesAwayFromZeroAndReadsBack) {
  struct {
    double V;
    int16_t Whole;
    uint16_t Frac;
  } Cases[] = {{300.25, 300, 0x4000},      {0.5 / 65536, 0, 1},  // a half unit goes up
               {-0.5 / 65536, -1, 0xFFFF},                       // and down from zero: -1 unit
               {1.5 / 65536, 0, 2},        {-2.75, -3, 0x4000}, {0.1, 0, 6554},
               {40000.0, 32767, 0xFFFF}};  // beyond the range: the largest value
  for (const auto& C : Cases) {
    const TW_FIX32 F = QLToFix32(C.V);
    EXPECT_EQ(F.Whole, C.Whole) << C.V;
    EXPECT_EQ(F.Frac, C.Frac) << C.V;
  }
  EXPECT_DOUBLE_EQ(QLFromFix32(QLToFix32(-2.75)), -2.75);
  EXPECT_NEAR(QLFromFix32(QLToFix32(0.1)), 0.1, 1.0 / 65536);
}

TEST(TwainContainers, RoundTripAndRejectMalformed) {
  TW_CAPABILITY Cap;
  TQLTWContainer E;
  E.ConType = TWON_ENUMERATION;
  E.ItemType = TWTY_FIX32;
  E.Items = {75, 150.5, 300};
  E.CurrentIndex = 2;
  QLTWEncode(Cap, E);
  TQLTWContainer D;
  ASSERT_TRUE(QLTWDecode(Cap, D));
  EXPECT_EQ(D.Items, E.Items);
  EXPECT_EQ(D.Current, 300);
  // An index beyond the items, a count beyond the bytes, an unknown item type.
  TW_CAPABILITY Bad = Cap;
  Bad.Container[6] = 3;
  EXPECT_FALSE(QLTWDecode(Bad, D));
  Bad = Cap;
  Bad.Container[2] = 200;
  EXPECT_FALSE(QLTWDecode(Bad, D));
  Bad = Cap;
  Bad.Container[0] = 99;
  EXPECT_FALSE(QLTWDecode(Bad, D));
  Bad = Cap;
  Bad.Container.resize(5);
  EXPECT_FALSE(QLTWDecode(Bad, D));
  // Booleans travel as 0 or 0xFFFF and any non-zero reads as true.
  QLTWOneValue(Cap, TWTY_BOOL, 1);
  EXPECT_EQ(Cap.Container[2], 0xFF);
  EXPECT_EQ(Cap.Container[3], 0xFF);
  ASSERT_TRUE(QLTWDecode(Cap, D));
  EXPECT_EQ(D.Current, 1);
  TQLTWContainer R;
  R.ConType = TWON_RANGE;
  R.ItemType = TWTY_FIX32;
  R.Min = -1.25, R.Max = 600, R.Step = 0.5, R.Current = 72;
  QLTWEncode(Cap, R);
  ASSERT_TRUE(QLTWDecode(Cap, D));
  EXPECT_EQ(D.Min, -1.25);
  EXPECT_EQ(D.Step, 0.5);
  EXPECT_EQ(D.Current, 72);
}

TEST(TwainCapabilities, ReadOnFirstAccessInTheOrderOfTheProtocol) {
  TRig Rig;
  TQLDoubleList& X = Rig.Params.XResolution();
  const std::vector<std::string> Expected = {"PARENT OPENDSM",
                                             "IDENTITY GETFIRST",
                                             "IDENTITY GETNEXT",
                                             "IDENTITY OPENDS",
                                             CapLine("GET", ICAP_UNITS),
                                             CapLine("SET", ICAP_UNITS, "ONE"),
                                             CapLine("GET", ICAP_XRESOLUTION),
                                             CapLine("GET", ICAP_YRESOLUTION),
                                             CapLine("GET", ICAP_XSCALING),
                                             "STATUS GET",
                                             CapLine("GET", ICAP_YSCALING),
                                             CapLine("GET", ICAP_PIXELTYPE),
                                             CapLine("GET", ICAP_GAMMA),
                                             CapLine("GET", ICAP_PHYSICALHEIGHT),
                                             CapLine("GET", ICAP_PHYSICALWIDTH),
                                             CapLine("GET", CAP_FEEDERENABLED),
                                             CapLine("GET", CAP_FEEDERLOADED),
                                             CapLine("GET", CAP_DUPLEXENABLED),
                                             CapLine("GET", CAP_DUPLEX),
                                             CapLine("GET", ICAP_ORIENTATION),
                                             CapLine("GET", CAP_INDICATORS),
                                             "IDENTITY CLOSEDS",
                                             "PARENT CLOSEDSM"};
  std::vector<std::string> Got;
  for (const std::string& L : Rig.DSM->Log)
    if (L != "STATUS GET" || Got.size() == 9) Got.push_back(L);
  EXPECT_EQ(Got, Expected);
  // A range becomes the list's range, an enumeration its items, the unsupported their defaults.
  EXPECT_EQ(X.Count(), 0);
  EXPECT_EQ(X.GetRangeMin(), 50);
  EXPECT_EQ(X.GetRangeMax(), 600);
  EXPECT_EQ(X.GetCurrentValue(), 150);
  EXPECT_EQ(Rig.Params.YResolution().Count(), 3);
  EXPECT_EQ(Rig.Params.YResolution().GetCurrentValue(), 150);
  EXPECT_EQ(Rig.Params.XScaling().GetItem(0), 1.0);
  EXPECT_EQ(Rig.Params.Orientation().GetItem(0), 0);
  EXPECT_EQ(Rig.Params.PixelType().GetCurrentValue(), TWPT_RGB);
  EXPECT_EQ(Rig.Params.GetGamma(), 2.2);
  EXPECT_EQ(Rig.Params.GetPhysicalWidth(), 8.5);
  EXPECT_TRUE(Rig.Params.GetIndicators());
  // Read without applying: nothing counts as changed, and the second access asks nothing.
  EXPECT_EQ(X.Flags(), 0);
  EXPECT_EQ(Rig.Params.YResolution().Flags(), 0);
  const size_t Calls = Rig.DSM->Log.size();
  Rig.Params.PixelType();
  EXPECT_EQ(Rig.DSM->Log.size(), Calls);
}

TEST(TwainCapabilities, ChangeFlagsDecideWhatIsSent) {
  TRig Rig;
  Rig.Params.XResolution().SetCurrentValue(300);  // one value
  Rig.Params.YResolution().Add(600);              // all items
  Rig.Params.XScaling().SetRangeMax(4);           // a range
  Rig.Params.PixelType().SetCurrentValue(5);      // beyond RGB: sent as RGB
  Rig.DSM->Log.clear();
  ASSERT_TRUE(Rig.Params.Update());
  std::vector<std::string> Sets = Rig.Calls("CAP SET");
  // Units were set to inches when the capabilities were read, so only the rest goes.
  const std::vector<std::string> Expected = {
      CapLine("SET", ICAP_PIXELFLAVOR, "ONE"),  CapLine("SET", ICAP_XRESOLUTION, "ONE"),
      CapLine("SET", ICAP_YRESOLUTION, "ENUM"), CapLine("SET", ICAP_XSCALING, "RANGE"),
      CapLine("SET", ICAP_PIXELTYPE, "ONE"),    CapLine("SET", ICAP_XFERMECH, "ONE"),
      CapLine("SET", CAP_FEEDERENABLED, "ONE"), CapLine("SET", CAP_INDICATORS, "ONE"),
      CapLine("SET", CAP_DUPLEXENABLED, "ONE")};
  EXPECT_EQ(Sets, Expected);
  TQLTWContainer C;
  ASSERT_TRUE(QLTWDecode(Rig.DSM->Sent[ICAP_XRESOLUTION], C));
  EXPECT_EQ(C.Current, 300);
  EXPECT_EQ(C.ItemType, TWTY_FIX32);
  ASSERT_TRUE(QLTWDecode(Rig.DSM->Sent[ICAP_YRESOLUTION], C));
  EXPECT_EQ(C.Items, (std::vector<double>{75, 150, 300, 600}));
  EXPECT_EQ(C.CurrentIndex, 1u);  // 150, the current value
  ASSERT_TRUE(QLTWDecode(Rig.DSM->Sent[ICAP_XSCALING], C));
  EXPECT_EQ(C.Max, 4);
  ASSERT_TRUE(QLTWDecode(Rig.DSM->Sent[ICAP_PIXELTYPE], C));
  EXPECT_EQ(C.Current, TWPT_RGB);
  ASSERT_TRUE(QLTWDecode(Rig.DSM->Sent[CAP_DUPLEXENABLED], C));
  EXPECT_EQ(C.Current, 0);  // single-image owner: off
  // Applying keeps the flags: the same changes go again with the next acquisition.
  EXPECT_NE(Rig.Params.XResolution().Flags(), 0);
}

TEST(TwainAcquire, SingleModeTakesTheFirstPageAndResetsTheRest) {
  TRig Rig;
  Rig.Params.Capabilities().AcquireFrameEnabled = true;
  Rig.Params.Capabilities().AcquireFrameRight = 2.5;
  Rig.DSM->Pages = {TScriptPage{}, TScriptPage{}};
  TBitmap B;
  TIOParamsVals P;
  P.SetColorMap(std::vector<TRGB>(4).data(), 4);
  bool Abort = false;
  std::vector<int32_t> Progress;
  TProgressRec PR =
      QLProgressRec([&](TObject*, int32_t Per) { Progress.push_back(Per); }, nullptr, Abort);
  ASSERT_TRUE(QLTW_Acquire(&B, false, nullptr, Rig.Params, nullptr, Rig.Params.Shared, PR, &P));
  const std::vector<std::string> Tail(Rig.DSM->Log.end() - 15, Rig.DSM->Log.end());
  const std::vector<std::string> Expected = {
      "LAYOUT SET",   "UI ENABLEDS",      "EVENT PROCESSEVENT", "IMAGEINFO GET",   "SETUPMEM GET",
      "MEMXFER GET",  "MEMXFER GET",      "MEMXFER GET",        "PENDING ENDXFER", "PENDING RESET",
      "UI DISABLEDS", "IDENTITY CLOSEDS", "PARENT CLOSEDSM"};
  EXPECT_EQ(std::vector<std::string>(Tail.begin() + 2, Tail.end()), Expected);
  EXPECT_EQ(QLFromFix32(Rig.DSM->Layout.Frame.Right), 2.5);
  // Red, green, blue strips become blue, green, red rows.
  ASSERT_EQ(B.GetPixelFormat(), pf24bit);
  ASSERT_EQ(B.GetWidth(), 5);
  ASSERT_EQ(B.GetHeight(), 7);
  for (int32_t Y = 0; Y < 7; ++Y)
    for (int32_t X = 0; X < 5; ++X)
      for (int32_t C = 0; C < 3; ++C) ASSERT_EQ(B.ScanLine(Y)[3 * X + C], Sample(X, Y, 2 - C));
  EXPECT_EQ(P.Width, 5);
  EXPECT_EQ(P.Height, 7);
  EXPECT_EQ(P.DpiX, 150);  // 149.6 rounded
  EXPECT_EQ(P.DpiY, 300);
  EXPECT_EQ(P.BitsPerSample, 8);
  EXPECT_EQ(P.SamplesPerPixel, 3);
  EXPECT_EQ(P.ColorMapCount, 0);
  EXPECT_EQ(Progress, (std::vector<int32_t>{42, 85, 100}));
  EXPECT_EQ(Rig.DSM->State, 2);
}

TEST(TwainAcquire, GreyAndLineArtStrips) {
  for (int16_t Bits : {8, 1}) {
    TRig Rig;
    TScriptPage Page;
    Page.Width = 13;
    Page.BitsPerPixel = Bits;
    Page.PixelType = Bits == 1 ? TWPT_BW : TWPT_GRAY;
    Rig.DSM->Pages = {Page};
    TBitmap B;
    bool Abort = false;
    TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
    ASSERT_TRUE(
        QLTW_Acquire(&B, false, nullptr, Rig.Params, nullptr, Rig.Params.Shared, PR, nullptr));
    ASSERT_EQ(B.GetPixelFormat(), Bits == 1 ? pf1bit : pf24bit);
    for (int32_t Y = 0; Y < Page.Height; ++Y)
      for (int32_t X = 0; X < Page.Width; ++X) {
        if (Bits == 8) {
          for (int32_t C = 0; C < 3; ++C) ASSERT_EQ(B.ScanLine(Y)[3 * X + C], Sample(X, Y, 0));
        } else {
          ASSERT_EQ((B.ScanLine(Y)[X / 8] >> (7 - X % 8)) & 1, (X + Y) % 3 == 0 ? 1 : 0);
        }
      }
  }
}

TEST(TwainAcquire, NativeTransferWhenTheSourceHasNoMemoryTransfer) {
  TRig Rig;
  Rig.DSM->MemoryMech = false;
  Rig.DSM->Pages = {TScriptPage{}};
  TBitmap B;
  bool Abort = false;
  TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
  ASSERT_TRUE(
      QLTW_Acquire(&B, false, nullptr, Rig.Params, nullptr, Rig.Params.Shared, PR, nullptr));
  EXPECT_EQ(Rig.Calls("NATIVE").size(), 1u);
  EXPECT_TRUE(Rig.Calls("MEMXFER").empty());
  for (int32_t Y = 0; Y < 7; ++Y)
    for (int32_t X = 0; X < 5; ++X)
      for (int32_t C = 0; C < 3; ++C) ASSERT_EQ(B.ScanLine(Y)[3 * X + C], Sample(X, Y, 2 - C));
}

TEST(TwainAcquire, MultiModeDeliversEveryWholePageAndKeepsThemWhenOneFails) {
  TRig Rig(true);
  TScriptPage Bad;
  Bad.Fault = TScriptPage::FailMidway;
  TScriptPage Small;
  Small.Width = 3;
  Small.Height = 2;
  Rig.DSM->Pages = {TScriptPage{}, Small, Bad, TScriptPage{}};
  std::deque<TIOParamsVals> Params;
  std::vector<TBitmap> Got;
  TQLAcquirePageEvent OnPage = [&](TBitmap& Page, TIOParamsVals*& P) {
    Got.push_back(std::move(Page));
    P = &Params.emplace_back();
  };
  bool Abort = false;
  TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
  EXPECT_TRUE(
      QLTW_Acquire(nullptr, true, OnPage, Rig.Params, nullptr, Rig.Params.Shared, PR, nullptr));
  // The third page broke: the two before it stay, nothing of it or after it arrives.
  ASSERT_EQ(Got.size(), 2u);
  EXPECT_EQ(Got[1].GetWidth(), 3);
  EXPECT_EQ(Params[1].Width, 3);
  EXPECT_EQ(Params[1].Height, 2);
  // Strips of every page start at row 0 although the source counts on across pages.
  EXPECT_EQ(Got[1].ScanLine(1)[0], Sample(0, 1, 2));
  EXPECT_EQ(Rig.Calls("PENDING ENDXFER").size(), 2u);
  EXPECT_EQ(Rig.Calls("PENDING RESET").size(), 1u);
  EXPECT_EQ(Rig.Calls("UI DISABLEDS").size(), 1u);
  EXPECT_EQ(Rig.DSM->State, 2);
  // The feeder and duplex default to on for the multi-image owner.
  TQLTWContainer C;
  ASSERT_TRUE(QLTWDecode(Rig.DSM->Sent[CAP_FEEDERENABLED], C));
  EXPECT_EQ(C.Current, 1);
}

TEST(TwainAcquire, BrokenPagesLeaveTheBitmapAlone) {
  TScriptPage Wide, Cancelled, Empty, Huge;
  Wide.Fault = TScriptPage::WideStrip;
  Cancelled.Fault = TScriptPage::CancelMidway;
  Empty.Height = 0;
  Huge.Width = Huge.Height = 1 << 30;
  for (const TScriptPage& Page : {Wide, Cancelled, Empty, Huge}) {
    TRig Rig;
    Rig.DSM->Pages = {Page, TScriptPage{}};
    TBitmap B(2, 2, pf24bit);
    B.ScanLine(0)[0] = 77;
    TIOParamsVals P;
    P.Width = 99;
    bool Abort = false;
    TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
    EXPECT_FALSE(QLTW_Acquire(&B, false, nullptr, Rig.Params, nullptr, Rig.Params.Shared, PR, &P));
    EXPECT_EQ(B.GetWidth(), 2);
    EXPECT_EQ(B.ScanLine(0)[0], 77);
    EXPECT_EQ(P.Width, 99);
    EXPECT_EQ(Rig.DSM->State, 2);
  }
}

TEST(TwainAcquire, AbortFromProgressStopsThePage) {
  TRig Rig;
  Rig.DSM->Pages = {TScriptPage{}};
  TBitmap B;
  bool Abort = false;
  TProgressRec PR = QLProgressRec([&](TObject*, int32_t) { Abort = true; }, nullptr, Abort);
  EXPECT_FALSE(
      QLTW_Acquire(&B, false, nullptr, Rig.Params, nullptr, Rig.Params.Shared, PR, nullptr));
  EXPECT_TRUE(B.Empty());
  EXPECT_EQ(Rig.Calls("MEMXFER").size(), 1u);
  EXPECT_EQ(Rig.DSM->State, 2);
}

TEST(TwainAcquire, ClosedBySourceOrWithoutManager) {
  TRig Rig;  // no pages: the source asks to be closed
  TBitmap B;
  bool Abort = false;
  TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
  EXPECT_FALSE(
      QLTW_Acquire(&B, false, nullptr, Rig.Params, nullptr, Rig.Params.Shared, PR, nullptr));
  EXPECT_EQ(Rig.Calls("UI DISABLEDS").size(), 1u);
  EXPECT_EQ(Rig.DSM->State, 2);

  TQLTWainParams None;
  None.Shared.Loader = [] { return std::unique_ptr<IQLSourceManager>(); };
  EXPECT_EQ(None.GetSourceCount(), 0);
  EXPECT_FALSE(QLTW_Acquire(&B, false, nullptr, None, nullptr, None.Shared, PR, nullptr));
  std::string Name;
  EXPECT_FALSE(QLTW_SelectImageSource(Name, None.Shared, nullptr));
}

TEST(TwainIO, AcquireAndSelectThroughTheComponent) {
  TQuilloIO IO;
  auto M = std::make_unique<TScripted>();
  TScripted* DSM = M.get();
  IO.TWainParams().Shared.Manager = std::move(M);
  IO.TWainParams().VisibleDialog = false;
  EXPECT_FALSE(IO.Acquire());  // nothing attached
  TBitmap B;
  IO.SetAttachedBitmap(&B);
  ASSERT_TRUE(IO.SelectAcquireSource());
  EXPECT_EQ(IO.TWainParams().GetSelectedSource(), 1);
  EXPECT_EQ(IO.TWainParams().GetSourceName(1), "Beta");
  DSM->Pages = {TScriptPage{}};
  ASSERT_TRUE(IO.Acquire());
  EXPECT_EQ(B.GetWidth(), 5);
  EXPECT_EQ(IO.IOParams().DpiY, 300);
  EXPECT_EQ(IO.TWainParams().GetDefaultSource(), 1);
}

}  // namespace
