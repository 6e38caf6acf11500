// The compiled resources of nlconf.exe against the dialogs as the program
// needs them. The build compiles resources/nlconf.rc with the same resource
// compiler as the Windows build; this reads the binary templates back, so a
// wrong number, a style added by the compiler or a control out of tab order
// shows here, control by control.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

namespace {

// Values of the Windows API; the native build has no <windows.h>.
namespace win {
constexpr uint32_t WS_POPUP = 0x80000000;
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_CAPTION = 0x00C00000;
constexpr uint32_t WS_VSCROLL = 0x00200000;
constexpr uint32_t WS_SYSMENU = 0x00080000;
constexpr uint32_t WS_GROUP = 0x00020000;
constexpr uint32_t WS_TABSTOP = 0x00010000;
constexpr uint32_t WS_MINIMIZEBOX = 0x00020000;
constexpr uint32_t DS_SETFONT = 0x40;
constexpr uint32_t DS_MODALFRAME = 0x80;
constexpr uint32_t DS_CENTER = 0x800;
constexpr uint32_t WS_EX_RIGHT = 0x1000;
constexpr uint32_t WS_EX_APPWINDOW = 0x40000;
constexpr uint32_t BS_PUSHBUTTON = 0x0;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t BS_GROUPBOX = 0x7;
constexpr uint32_t BS_CENTER = 0x300;
constexpr uint32_t SS_LEFT = 0x0;
constexpr uint32_t SS_CENTER = 0x1;
constexpr uint32_t SS_RIGHT = 0x2;
constexpr uint32_t SS_CENTERIMAGE = 0x200;
constexpr uint32_t SS_SUNKEN = 0x1000;
constexpr uint32_t SS_NOPREFIX = 0x80;
constexpr uint32_t SS_PATHELLIPSIS = 0x8000;
constexpr uint32_t CBS_DROPDOWNLIST = 0x3;
constexpr uint16_t kButtonAtom = 0x80;
constexpr uint16_t kStaticAtom = 0x82;
constexpr uint16_t kComboBoxAtom = 0x85;
constexpr uint16_t RT_ICON = 3;
constexpr uint16_t RT_DIALOG = 5;
constexpr uint16_t RT_GROUP_ICON = 14;
constexpr uint16_t RT_VERSION = 16;
constexpr uint16_t RT_MANIFEST = 24;
constexpr uint16_t VS_VERSION_INFO = 1;
constexpr uint32_t IDOK = 1;
constexpr uint32_t IDCANCEL = 2;
constexpr uint32_t IDC_STATIC = 0xFFFFFFFF;
constexpr uint8_t DEFAULT_CHARSET = 1;
}  // namespace win

// A name or number as resources and templates store them.
struct NameOrId {
  bool isId = true;
  uint32_t id = 0;
  std::u16string name;
};

struct Resource {
  NameOrId type;
  NameOrId name;
  std::vector<uint8_t> data;
};

// Reads little-endian fields; any read past the end marks the reader bad.
class Reader {
 public:
  Reader(const std::vector<uint8_t>& bytes, size_t start, size_t end)
      : bytes_(bytes), at_(start), end_(end) {}

  bool ok() const { return ok_; }
  size_t at() const { return at_; }

  uint8_t u8() {
    if (at_ + 1 > end_) {
      ok_ = false;
      return 0;
    }
    return bytes_[at_++];
  }
  uint16_t u16() {
    const uint16_t low = u8();
    return uint16_t(low | (u8() << 8));
  }
  uint32_t u32() {
    const uint32_t low = u16();
    return low | (uint32_t(u16()) << 16);
  }
  int16_t s16() { return int16_t(u16()); }

  std::u16string text() {
    std::u16string out;
    for (uint16_t c = u16(); ok_ && c != 0; c = u16()) {
      out += char16_t(c);
    }
    return out;
  }
  NameOrId nameOrId() {
    NameOrId out;
    const uint16_t first = u16();
    if (first == 0) {
      return out;  // none
    }
    if (first == 0xFFFF) {
      out.id = u16();
      return out;
    }
    out.isId = false;
    for (uint16_t c = first; ok_ && c != 0; c = u16()) {
      out.name += char16_t(c);
    }
    return out;
  }
  void alignTo4(size_t base) {
    while ((at_ - base) % 4 != 0) {
      u8();
    }
  }
  void skip(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      u8();
    }
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_;
  size_t end_;
  bool ok_ = true;
};

std::vector<Resource> loadResources(std::string* error) {
  std::vector<uint8_t> bytes;
  std::FILE* file = std::fopen(NLCONF_TEMPLATES_RES, "rb");
  if (file == nullptr) {
    *error = std::string("cannot open ") + NLCONF_TEMPLATES_RES;
    return {};
  }
  uint8_t chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  std::fclose(file);

  std::vector<Resource> resources;
  size_t at = 0;
  while (at + 8 <= bytes.size()) {
    Reader header(bytes, at, bytes.size());
    const uint32_t dataSize = header.u32();
    const uint32_t headerSize = header.u32();
    Resource resource;
    resource.type = header.nameOrId();
    resource.name = header.nameOrId();
    if (!header.ok() || headerSize < 8 || at + headerSize + dataSize > bytes.size()) {
      *error = "malformed resource header at byte " + std::to_string(at);
      return {};
    }
    const size_t data = at + headerSize;
    resource.data.assign(bytes.begin() + long(data), bytes.begin() + long(data + dataSize));
    // The file starts with an empty entry that marks it as a 32-bit .res.
    if (dataSize > 0) {
      resources.push_back(resource);
    }
    at = (data + dataSize + 3) / 4 * 4;
  }
  return resources;
}

const std::vector<Resource>& allResources() {
  static std::string error;
  static const std::vector<Resource> resources = loadResources(&error);
  if (!error.empty()) {
    ADD_FAILURE() << error;
  }
  return resources;
}

const Resource* findResource(uint16_t type, uint32_t id) {
  for (const Resource& resource : allResources()) {
    if (resource.type.isId && resource.type.id == type && resource.name.isId &&
        resource.name.id == id) {
      return &resource;
    }
  }
  return nullptr;
}

struct Control {
  uint32_t exStyle = 0;
  uint32_t style = 0;
  int x = 0, y = 0, w = 0, h = 0;
  uint32_t id = 0;
  NameOrId windowClass;
  NameOrId title;
};

struct Dialog {
  bool extended = false;
  uint32_t exStyle = 0;
  uint32_t style = 0;
  int x = 0, y = 0, w = 0, h = 0;
  NameOrId menu;
  NameOrId windowClass;
  std::u16string caption;
  uint16_t pointSize = 0;
  uint16_t weight = 0;
  uint8_t italic = 0;
  uint8_t charset = 0;
  std::u16string typeface;
  std::vector<Control> controls;
};

// Parses an extended dialog template (DLGTEMPLATEEX and DLGITEMTEMPLATEEX).
bool parseDialog(const std::vector<uint8_t>& data, Dialog* dialog) {
  Reader in(data, 0, data.size());
  dialog->extended = in.u16() == 1 && in.u16() == 0xFFFF;
  if (!dialog->extended) {
    return false;
  }
  in.u32();  // help id
  dialog->exStyle = in.u32();
  dialog->style = in.u32();
  const uint16_t count = in.u16();
  dialog->x = in.s16();
  dialog->y = in.s16();
  dialog->w = in.s16();
  dialog->h = in.s16();
  dialog->menu = in.nameOrId();
  dialog->windowClass = in.nameOrId();
  dialog->caption = in.text();
  if ((dialog->style & win::DS_SETFONT) != 0) {
    dialog->pointSize = in.u16();
    dialog->weight = in.u16();
    dialog->italic = in.u8();
    dialog->charset = in.u8();
    dialog->typeface = in.text();
  }
  for (uint16_t i = 0; i < count && in.ok(); ++i) {
    in.alignTo4(0);
    Control control;
    in.u32();  // help id
    control.exStyle = in.u32();
    control.style = in.u32();
    control.x = in.s16();
    control.y = in.s16();
    control.w = in.s16();
    control.h = in.s16();
    control.id = in.u32();
    control.windowClass = in.nameOrId();
    control.title = in.nameOrId();
    in.skip(in.u16());  // creation data
    dialog->controls.push_back(control);
  }
  return in.ok() && dialog->controls.size() == count;
}

Dialog loadDialog(uint32_t id) {
  Dialog dialog;
  const Resource* resource = findResource(win::RT_DIALOG, id);
  if (resource == nullptr) {
    ADD_FAILURE() << "no dialog " << id << " in " << NLCONF_TEMPLATES_RES;
    return dialog;
  }
  EXPECT_TRUE(parseDialog(resource->data, &dialog)) << "dialog " << id << " is not readable";
  return dialog;
}

std::string utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += c < 0x80 ? char(c) : '?';
  }
  return out;
}

// A template names a predefined class by its atom or by its name; the
// compilers differ, the window made is the same.
bool isClass(const NameOrId& windowClass, uint16_t atom) {
  if (windowClass.isId) {
    return windowClass.id == atom;
  }
  const char* name = atom == win::kButtonAtom     ? "BUTTON"
                     : atom == win::kStaticAtom   ? "STATIC"
                     : atom == win::kComboBoxAtom ? "COMBOBOX"
                                                  : "";
  std::string upper;
  for (char16_t c : windowClass.name) {
    upper += (c >= u'a' && c <= u'z') ? char(c - u'a' + 'A') : char(c);
  }
  return upper == name;
}

std::string className(const NameOrId& windowClass) {
  return windowClass.isId ? "atom " + std::to_string(windowClass.id) : utf8(windowClass.name);
}

// What each kind of control of the main dialog is made of.
enum class Kind { Group, Label, Value, PortCombo, ParamCombo, Button, Status };

struct KindShape {
  uint16_t atom;
  uint32_t style;
  uint32_t exStyle;
};

KindShape shapeOf(Kind kind) {
  using namespace win;
  constexpr uint32_t child = WS_CHILD | WS_VISIBLE;
  constexpr uint32_t combo = child | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
  switch (kind) {
    case Kind::Group:
      return {kButtonAtom, child | BS_GROUPBOX | BS_CENTER, 0};
    case Kind::Label:
      return {kStaticAtom, child | SS_LEFT | WS_GROUP, 0};
    case Kind::Value:
      return {kStaticAtom, child | SS_RIGHT | SS_CENTERIMAGE | SS_SUNKEN, 0};
    case Kind::PortCombo:
      return {kComboBoxAtom, combo, 0};
    case Kind::ParamCombo:
      return {kComboBoxAtom, combo, WS_EX_RIGHT};
    case Kind::Button:
      return {kButtonAtom, child | BS_PUSHBUTTON | WS_TABSTOP, 0};
    case Kind::Status:
      return {kStaticAtom,
              child | SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE | SS_PATHELLIPSIS | SS_SUNKEN, 0};
  }
  return {};
}

struct Expected {
  Kind kind;
  const char* text;
  uint32_t id;
  int x, y, w, h;
};

constexpr uint32_t S = win::IDC_STATIC;
using K = Kind;

// The main dialog in template order, written out from the layout tables.
const Expected kMainDialog[] = {
    // Master pane.
    {K::Group, "Master", S, 8, 8, 176, 416},
    {K::Label, "COM Port", S, 16, 22, 33, 8},
    {K::PortCombo, "", 3000, 64, 20, 112, 168},
    {K::Group, "Parameter Read/Write", S, 16, 40, 160, 36},
    {K::Button, "Read", 3001, 96, 52, 32, 16},
    {K::Button, "Write", 3002, 136, 52, 32, 16},
    {K::Group, "Address Parameter", S, 16, 80, 160, 48},
    {K::Label, "Node Identifier", S, 24, 92, 61, 8},
    {K::Value, "", 3003, 96, 92, 72, 12},
    {K::Label, "PAN ID", S, 24, 108, 25, 8},
    {K::Value, "", 3004, 96, 108, 72, 12},
    {K::Group, "Network Parameter", S, 16, 132, 160, 64},
    {K::Label, "Destination High", S, 24, 146, 65, 8},
    {K::Value, "", 3005, 96, 144, 72, 12},
    {K::Label, "Destination Low", S, 24, 162, 61, 8},
    {K::Value, "", 3006, 96, 160, 72, 12},
    {K::Label, "Channel", S, 24, 177, 29, 8},
    {K::ParamCombo, "", 3007, 96, 176, 72, 168},
    {K::Group, "Communication Parameter", S, 16, 200, 160, 64},
    {K::Label, "Baud Rate", S, 24, 214, 37, 8},
    {K::ParamCombo, "", 3008, 96, 213, 72, 168},
    {K::Label, "Parity", S, 24, 230, 25, 8},
    {K::ParamCombo, "", 3009, 96, 229, 72, 168},
    {K::Label, "Stop Bits", S, 24, 246, 37, 8},
    {K::ParamCombo, "", 3010, 96, 245, 72, 168},
    {K::Group, "RF Interfacing Parameter", S, 16, 269, 160, 48},
    {K::Label, "Power Level", S, 24, 282, 45, 8},
    {K::ParamCombo, "", 3011, 96, 282, 72, 168},
    {K::Label, "Boost Mode", S, 24, 298, 41, 8},
    {K::ParamCombo, "", 3012, 96, 298, 72, 168},
    {K::Group, "Mode Parameter", S, 16, 320, 160, 96},
    {K::Label, "Flow Control", S, 24, 350, 42, 8},
    {K::ParamCombo, "", 3013, 96, 348, 72, 168},
    {K::Label, "RTS", S, 24, 366, 61, 8},
    {K::Value, "", 3014, 96, 364, 72, 12},
    {K::Label, "CTS", S, 24, 382, 61, 8},
    {K::Value, "", 3015, 96, 380, 72, 12},
    // Copy group.
    {K::Group, "Copy", S, 192, 132, 64, 132},
    {K::Button, ">> Copy >>", 1000, 200, 180, 48, 16},
    {K::Button, "<< Copy <<", 1001, 200, 204, 48, 16},
    // Slave pane.
    {K::Group, "Slave", S, 264, 8, 176, 416},
    {K::Label, "COM Port", S, 272, 22, 33, 8},
    {K::PortCombo, "", 4000, 320, 20, 112, 168},
    {K::Group, "Parameter Read/Write", S, 272, 40, 160, 36},
    {K::Button, "Read", 4001, 352, 52, 32, 16},
    {K::Button, "Write", 4002, 392, 52, 32, 16},
    {K::Group, "Address Parameter", S, 272, 80, 160, 48},
    {K::Label, "Node Identifier", S, 280, 94, 61, 8},
    {K::Value, "", 4003, 352, 92, 72, 12},
    {K::Label, "PAN ID", S, 280, 110, 25, 8},
    {K::Value, "", 4004, 352, 108, 72, 12},
    {K::Group, "Network Parameter", S, 272, 132, 160, 64},
    {K::Label, "Destination High", S, 280, 144, 65, 8},
    {K::Value, "", 4005, 352, 144, 72, 12},
    {K::Label, "Destination Low", S, 280, 160, 61, 8},
    {K::Value, "", 4006, 352, 160, 72, 12},
    {K::Label, "Channel", S, 280, 178, 29, 8},
    {K::ParamCombo, "", 4007, 352, 176, 72, 168},
    {K::Group, "Communication Parameter", S, 272, 200, 160, 64},
    {K::Label, "Baud Rate", S, 280, 214, 37, 8},
    {K::ParamCombo, "", 4008, 352, 212, 72, 168},
    {K::Label, "Parity", S, 280, 230, 25, 8},
    {K::ParamCombo, "", 4009, 352, 228, 72, 168},
    {K::Label, "Stop Bits", S, 280, 246, 37, 8},
    {K::ParamCombo, "", 4010, 352, 244, 72, 168},
    {K::Group, "RF Interfacing Parameter", S, 272, 268, 160, 48},
    {K::Label, "Power Level", S, 280, 282, 45, 8},
    {K::ParamCombo, "", 4011, 352, 280, 72, 168},
    {K::Label, "Boost Mode", S, 280, 298, 41, 8},
    {K::ParamCombo, "", 4012, 352, 296, 72, 168},
    {K::Group, "Mode Parameter", S, 272, 320, 160, 96},
    {K::Label, "Power Save", S, 280, 334, 41, 8},
    {K::ParamCombo, "", 4013, 352, 332, 72, 168},
    {K::Label, "Flow Control", S, 280, 350, 42, 8},
    {K::ParamCombo, "", 4015, 352, 348, 72, 168},
    {K::Label, "RTS", S, 280, 366, 61, 8},
    {K::Value, "", 4016, 352, 364, 72, 12},
    {K::Label, "CTS", S, 280, 382, 61, 8},
    {K::Value, "", 4017, 352, 380, 72, 12},
    {K::Label, "Sleep Mode", S, 280, 398, 41, 8},
    {K::Value, "", 4014, 352, 396, 72, 12},
    // Lower centre buttons.
    {K::Button, "Set Default", 1002, 200, 332, 48, 16},
    {K::Button, "Link Test", 1003, 200, 52, 48, 16},
    {K::Button, "Exit", win::IDOK, 200, 408, 48, 16},
    {K::Status, "", 1004, 8, 428, 432, 11},
};

void expectControl(const Control& actual, uint16_t atom, const char* text, uint32_t id, int x,
                   int y, int w, int h, uint32_t style, uint32_t exStyle) {
  EXPECT_EQ(actual.id, id);
  EXPECT_TRUE(isClass(actual.windowClass, atom))
      << "class " << className(actual.windowClass) << ", expected atom " << atom;
  EXPECT_EQ(utf8(actual.title.name), text);
  EXPECT_FALSE(actual.title.isId && actual.title.id != 0) << "title is a resource number";
  EXPECT_EQ(actual.x, x);
  EXPECT_EQ(actual.y, y);
  EXPECT_EQ(actual.w, w);
  EXPECT_EQ(actual.h, h);
  EXPECT_EQ(actual.style, style) << std::hex << "style 0x" << actual.style << ", expected 0x"
                                 << style;
  EXPECT_EQ(actual.exStyle, exStyle) << std::hex << "extended style 0x" << actual.exStyle;
}

TEST(MainDialogTemplate, FrameCaptionFontAndSize) {
  using namespace win;
  const Dialog dialog = loadDialog(IDD_MAIN);
  ASSERT_TRUE(dialog.extended) << "an extended template (DIALOGEX) is needed for the font charset";
  EXPECT_EQ(dialog.style, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                              DS_MODALFRAME | DS_CENTER | DS_SETFONT)
      << std::hex << "0x" << dialog.style;
  EXPECT_EQ(dialog.exStyle, WS_EX_APPWINDOW);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.w, 446);
  EXPECT_EQ(dialog.h, 443);
  EXPECT_TRUE(dialog.menu.isId && dialog.menu.id == 0) << "no menu";
  EXPECT_TRUE(dialog.windowClass.isId && dialog.windowClass.id == 0) << "no class of its own";
  EXPECT_EQ(utf8(dialog.caption), "NLCONF");
  EXPECT_EQ(dialog.pointSize, 10);
  EXPECT_EQ(dialog.weight, 0);
  EXPECT_EQ(dialog.italic, 0);
  EXPECT_EQ(dialog.charset, DEFAULT_CHARSET);
  EXPECT_EQ(utf8(dialog.typeface), "MS UI Gothic");
}

TEST(MainDialogTemplate, EveryControlInTabOrderWithItsPlaceAndStyle) {
  const Dialog dialog = loadDialog(IDD_MAIN);
  const size_t expectedCount = sizeof kMainDialog / sizeof kMainDialog[0];
  ASSERT_EQ(dialog.controls.size(), expectedCount);
  for (size_t i = 0; i < expectedCount; ++i) {
    const Expected& row = kMainDialog[i];
    const KindShape shape = shapeOf(row.kind);
    SCOPED_TRACE("control " + std::to_string(i + 1) + " \"" + row.text + "\" id " +
                 std::to_string(int32_t(row.id)));
    expectControl(dialog.controls[i], shape.atom, row.text, row.id, row.x, row.y, row.w, row.h,
                  shape.style, shape.exStyle);
  }
}

// The code finds a pane's controls by offsets from 3000 and 4000; each offset
// must name exactly one control, of the kind the pane record expects there.
TEST(MainDialogTemplate, PaneOffsetsNameTheirControls) {
  const Dialog dialog = loadDialog(IDD_MAIN);
  const Kind common[13] = {K::PortCombo,  K::Button,     K::Button,     K::Value,
                           K::Value,      K::Value,      K::Value,      K::ParamCombo,
                           K::ParamCombo, K::ParamCombo, K::ParamCombo, K::ParamCombo,
                           K::ParamCombo};
  const Kind masterRest[] = {K::ParamCombo, K::Value, K::Value};
  const Kind slaveRest[] = {K::ParamCombo, K::Value, K::ParamCombo, K::Value, K::Value};
  struct Pane {
    uint32_t base;
    const Kind* rest;
    int restCount;
  };
  const Pane panes[] = {{IDC_MASTER_PORT, masterRest, 3}, {IDC_SLAVE_PORT, slaveRest, 5}};
  for (const Pane& pane : panes) {
    const int total = 13 + pane.restCount;
    for (int offset = 0; offset < total + 2; ++offset) {
      const uint32_t id = pane.base + uint32_t(offset);
      SCOPED_TRACE("id " + std::to_string(id));
      int found = 0;
      const Control* control = nullptr;
      for (const Control& candidate : dialog.controls) {
        if (candidate.id == id) {
          ++found;
          control = &candidate;
        }
      }
      if (offset >= total) {
        EXPECT_EQ(found, 0) << "past the pane's last control";
        continue;
      }
      ASSERT_EQ(found, 1);
      const Kind kind = offset < 13 ? common[offset] : pane.rest[offset - 13];
      EXPECT_TRUE(isClass(control->windowClass, shapeOf(kind).atom))
          << className(control->windowClass);
      EXPECT_EQ(control->style, shapeOf(kind).style) << std::hex << "0x" << control->style;
    }
  }
}

TEST(MainDialogTemplate, NoDefaultButtonAndNoFocusOnValueFields) {
  const Dialog dialog = loadDialog(IDD_MAIN);
  for (const Control& control : dialog.controls) {
    SCOPED_TRACE("id " + std::to_string(int32_t(control.id)));
    if (isClass(control.windowClass, win::kButtonAtom)) {
      EXPECT_NE(control.style & 0xF, win::BS_DEFPUSHBUTTON);
    }
    if (isClass(control.windowClass, win::kStaticAtom)) {
      EXPECT_EQ(control.style & win::WS_TABSTOP, 0u);
    }
  }
}

TEST(SmallDialogTemplates, LinkTestResult) {
  using namespace win;
  const Dialog dialog = loadDialog(IDD_LINK_RESULT);
  EXPECT_EQ(dialog.style,
            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT)
      << std::hex << "0x" << dialog.style;
  EXPECT_EQ(dialog.exStyle, 0u);
  EXPECT_EQ(utf8(dialog.caption), "Link Test");
  EXPECT_EQ(dialog.w, 123);
  EXPECT_EQ(dialog.h, 83);
  EXPECT_EQ(dialog.pointSize, 9);
  EXPECT_EQ(utf8(dialog.typeface), "MS UI Gothic");
  ASSERT_EQ(dialog.controls.size(), 2u);
  expectControl(dialog.controls[0], kButtonAtom, "OK", IDOK, 40, 56, 46, 17,
                WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, 0);
  expectControl(dialog.controls[1], kStaticAtom, "", IDC_RESULT_LABEL, 8, 8, 112, 40,
                WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0);
}

TEST(SmallDialogTemplates, ResetPromptIsHiddenWithoutCloseBox) {
  using namespace win;
  const Dialog dialog = loadDialog(IDD_RESET_PROMPT);
  EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT)
      << std::hex << "0x" << dialog.style;
  EXPECT_EQ(utf8(dialog.caption), "NLCONF");
  EXPECT_EQ(dialog.w, 105);
  EXPECT_EQ(dialog.h, 25);
  EXPECT_EQ(dialog.pointSize, 16);
  EXPECT_EQ(utf8(dialog.typeface), "MS UI Gothic");
  ASSERT_EQ(dialog.controls.size(), 1u);
  expectControl(dialog.controls[0], kStaticAtom, "Please press the reset key.", IDC_STATIC, 8, 8,
                90, 8, WS_CHILD | WS_VISIBLE | SS_LEFT, 0);
}

TEST(SmallDialogTemplates, ProgressHasOnlyCancelAsWayOut) {
  using namespace win;
  const Dialog dialog = loadDialog(IDD_PROGRESS);
  EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT)
      << std::hex << "0x" << dialog.style;
  EXPECT_EQ(utf8(dialog.caption), "NLCONF");
  EXPECT_EQ(dialog.w, 113);
  EXPECT_EQ(dialog.h, 57);
  EXPECT_EQ(dialog.pointSize, 9);
  EXPECT_EQ(utf8(dialog.typeface), "MS UI Gothic");
  ASSERT_EQ(dialog.controls.size(), 2u);
  expectControl(dialog.controls[0], kButtonAtom, "Cancel", IDCANCEL, 32, 32, 48, 16,
                WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 0);
  expectControl(dialog.controls[1], kStaticAtom, "Static", IDC_PROGRESS_LABEL, 8, 8, 96, 16,
                WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0);
}

// Group icon 108: a 32x32 and a 16x16 image of 16 colours, each present as an
// icon resource whose bitmap header agrees with the directory.
TEST(IconResource, GroupOfTwoSixteenColourImages) {
  const Resource* group = findResource(win::RT_GROUP_ICON, IDI_NLCONF);
  ASSERT_NE(group, nullptr) << "no icon group " << IDI_NLCONF;
  Reader in(group->data, 0, group->data.size());
  EXPECT_EQ(in.u16(), 0);
  EXPECT_EQ(in.u16(), 1) << "an icon, not a cursor";
  const uint16_t count = in.u16();
  ASSERT_EQ(count, 2);
  std::vector<int> sizes;
  for (uint16_t i = 0; i < count; ++i) {
    const int width = in.u8();
    const int height = in.u8();
    const int colours = in.u8();
    in.u8();
    in.u16();  // planes
    const int bits = in.u16();
    const uint32_t bytes = in.u32();
    const uint16_t imageId = in.u16();
    ASSERT_TRUE(in.ok());
    SCOPED_TRACE("image " + std::to_string(width) + "x" + std::to_string(height));
    EXPECT_EQ(width, height);
    EXPECT_EQ(colours, 16);
    EXPECT_EQ(bits, 4);
    sizes.push_back(width);

    const Resource* image = findResource(win::RT_ICON, imageId);
    ASSERT_NE(image, nullptr) << "icon image " << imageId << " missing";
    EXPECT_EQ(image->data.size(), bytes);
    Reader bitmap(image->data, 0, image->data.size());
    EXPECT_EQ(bitmap.u32(), 40u) << "BITMAPINFOHEADER";
    EXPECT_EQ(int(bitmap.u32()), width);
    EXPECT_EQ(int(bitmap.u32()), 2 * height) << "colour bits and mask";
    EXPECT_EQ(bitmap.u16(), 1);
    EXPECT_EQ(bitmap.u16(), 4);
    // Palette, 4-bit colour rows and 1-bit mask rows, each row padded to 4 bytes.
    const size_t colourRow = (size_t(width) * 4 + 31) / 32 * 4;
    const size_t maskRow = (size_t(width) + 31) / 32 * 4;
    EXPECT_EQ(image->data.size(), 40 + 16 * 4 + size_t(height) * (colourRow + maskRow));
  }
  EXPECT_EQ(sizes, (std::vector<int>{32, 16}));
}

// What Explorer shows of the program: its name and the build's one version.
TEST(VersionResource, NamesTheProductAndItsVersion) {
  const Resource* version = findResource(win::RT_VERSION, win::VS_VERSION_INFO);
  ASSERT_NE(version, nullptr) << "no version resource";
  const std::u16string text(reinterpret_cast<const char16_t*>(version->data.data()),
                            version->data.size() / 2);
  auto value = [&text](const std::u16string& key) {
    const size_t at = text.find(key + u'\0');
    if (at == std::u16string::npos)
      return std::u16string();
    size_t start = at + key.size() + 1;
    while (start < text.size() && text[start] == 0)
      ++start;  // padding to the next 32-bit boundary
    return text.substr(start, text.find(u'\0', start) - start);
  };
  EXPECT_EQ(value(u"ProductName"), u"NLCONF");
  const std::string expected = NLCONF_VERSION;
  EXPECT_EQ(value(u"FileVersion"), std::u16string(expected.begin(), expected.end()));
  EXPECT_FALSE(value(u"FileDescription").empty());
}

// Sharp at any scaling, but no visual styles: themed controls would ignore
// the colours that mark the changed values.
TEST(ManifestResource, DeclaresDpiAwarenessAndNoCommonControls) {
  const Resource* manifest = findResource(win::RT_MANIFEST, 1);
  ASSERT_NE(manifest, nullptr) << "no application manifest";
  const std::string text(manifest->data.begin(), manifest->data.end());
  EXPECT_NE(text.find(">true</dpiAware>"), std::string::npos);
  EXPECT_EQ(text.find("Common-Controls"), std::string::npos);
}

}  // namespace
