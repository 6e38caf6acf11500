#include <windows.h>
// After windows.h:
#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <new>

#include "ui/dialog/device_changes.h"
#include "ui/dialog/operation_hooks.h"
#include "ui/dialog/port_list.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/window_handle.h"
#include "ui/terminal/terminal_window.h"

// True when the device runs, or the class installer accepted to enable it.
bool ensureDeviceStarted(HDEVINFO set, SP_DEVINFO_DATA* element);

namespace {

// GUID_DEVCLASS_PORTS, the Ports (COM & LPT) device class.
const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

constexpr DWORD kFriendlyNameBytes = 8192;
constexpr ULONG kConfigSuccess = 0;     // CR_SUCCESS
constexpr ULONG kDevNodeStarted = 0x8;  // DN_STARTED
constexpr size_t kBroadcastNameChars = 64;

using DevNodeStatusFn = ULONG(WINAPI*)(PULONG status, PULONG problem, DWORD devInst, ULONG flags);

// cfgmgr32.dll is loaded on first use and kept for the life of the process.
// It is no known DLL: by its bare name the loader would look in the
// program's own folder first and run whatever lies there.
HMODULE configManager = nullptr;
DevNodeStatusFn getDevNodeStatus = nullptr;

bool resolveDevNodeStatus() {
  if (getDevNodeStatus)
    return true;
  if (!configManager)
    configManager = loadSystemLibrary(L"cfgmgr32.dll");
  if (!configManager)
    return false;
  const FARPROC proc = GetProcAddress(configManager, "CM_Get_DevNode_Status");
  if (!proc)
    return false;
  // Through void (*)(), the one function type that converts to any other.
  getDevNodeStatus = reinterpret_cast<DevNodeStatusFn>(reinterpret_cast<void (*)()>(proc));
  return true;
}

bool requestEnable(HDEVINFO set, SP_DEVINFO_DATA* element) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_ENABLE;
  params.Scope = DICS_FLAG_CONFIGSPECIFIC;
  params.HwProfile = 0;  // the current hardware profile
  if (!SetupDiSetClassInstallParamsW(set, element, &params.ClassInstallHeader, sizeof(params)))
    return false;
  return SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, element) != FALSE;
}

bool readPortEntry(HDEVINFO set, SP_DEVINFO_DATA* element, PortEntry* entry) {
  // One character more than the property may fill: always terminated.
  wchar_t name[kFriendlyNameBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, element, SPDRP_FRIENDLYNAME, &type,
                                         reinterpret_cast<BYTE*>(name), kFriendlyNameBytes,
                                         nullptr)) {
    return false;
  }
  if (type != REG_SZ)
    return false;
  if (!makePortEntry(name, entry))
    return false;
  return ensureDeviceStarted(set, element);
}

int32_t entryCount(HWND combo) {
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  return count > 0 ? static_cast<int32_t>(count) : 0;
}

// Appended at the end whatever the list's style: both lists keep one order.
void appendPortEntry(HWND combo, const wchar_t* name, uint32_t portNumber) {
  const LRESULT position =
      SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name));
  if (position >= 0)
    SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(position), portNumber);
}

void selectPosition(HWND combo, int32_t position) {
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(static_cast<INT_PTR>(position)), 0);
  UpdateWindow(combo);
}

uint32_t portNumberAt(HWND combo, int32_t position) {
  const LRESULT data = SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(position), 0);
  return static_cast<uint32_t>(data);
}

// The port number of the selected entry; false with no selection.
bool selectedPortNumber(HWND combo, uint32_t* portNumber) {
  const LRESULT position = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (position < 0)
    return false;
  *portNumber = portNumberAt(combo, static_cast<int32_t>(position));
  return true;
}

int32_t positionOfPort(HWND combo, uint32_t portNumber) {
  const int32_t count = entryCount(combo);
  for (int32_t i = 0; i < count; ++i) {
    if (portNumberAt(combo, i) == portNumber)
      return i;
  }
  return -1;
}

// The enumeration may run the class installer, during which a nested port
// broadcast can arrive: every call gets its own entries.
struct PortEntries {
  PortEntry* entries = nullptr;
  int count = 0;
  PortEntries() : entries(new (std::nothrow) PortEntry[kMaxPortEntries]) {
    if (entries)
      count = enumerateSerialPorts(entries, kMaxPortEntries);
  }
  ~PortEntries() { delete[] entries; }
  PortEntries(const PortEntries&) = delete;
  PortEntries& operator=(const PortEntries&) = delete;
};

// The broadcast's name, copied within the size that the sender gave.
bool broadcastName(const DEV_BROADCAST_HDR* header, wchar_t* name, size_t size) {
  const size_t nameOffset = offsetof(DEV_BROADCAST_PORT_W, dbcp_name);
  if (header->dbch_size <= nameOffset)
    return false;
  const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header);
  const size_t available = (header->dbch_size - nameOffset) / sizeof(wchar_t);
  size_t i = 0;
  for (; i < available && i + 1 < size && port->dbcp_name[i]; ++i)
    name[i] = port->dbcp_name[i];
  name[i] = 0;
  return true;
}

}  // namespace

int enumerateSerialPorts(PortEntry* entries, int capacity) {
  if (!entries || capacity <= 0)
    return 0;
  HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE)
    return 0;
  int count = 0;
  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof(element);
  for (DWORD index = 0; count < capacity && SetupDiEnumDeviceInfo(set, index, &element); ++index) {
    if (readPortEntry(set, &element, &entries[count]))
      ++count;
  }
  SetupDiDestroyDeviceInfoList(set);
  return count;
}

bool ensureDeviceStarted(HDEVINFO set, SP_DEVINFO_DATA* element) {
  if (!resolveDevNodeStatus())
    return false;
  ULONG status = 0;
  ULONG problem = 0;
  if (getDevNodeStatus(&status, &problem, element->DevInst, 0) != kConfigSuccess)
    return false;
  if (status & kDevNodeStarted)
    return true;
  // Accepted counts as usable; the status is not asked again.
  return requestEnable(set, element);
}

void refillPortList(HWND combo) {
  const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  const int32_t noted = selected > 0 ? static_cast<int32_t>(selected) : 0;
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  PortEntries ports;
  for (int i = 0; i < ports.count; ++i)
    appendPortEntry(combo, ports.entries[i].friendlyName, ports.entries[i].portNumber);
  const int32_t count = entryCount(combo);
  selectPosition(combo, count == 0 ? kNoSelection : (noted < count ? noted : count - 1));
  fitDroppedWidth(combo);
}

void onDeviceChange(WPARAM event, LPARAM header) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
    return;
  const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_HDR*>(header);
  if (!broadcast || broadcast->dbch_devicetype != DBT_DEVTYP_PORT)
    return;
  wchar_t name[kBroadcastNameChars];
  uint32_t n = 0;
  if (!broadcastName(broadcast, name, kBroadcastNameChars) || !broadcastPortNumber(name, &n))
    return;
  // A repeated arrival is what a missed removal looks like, with perhaps
  // another module behind the port now: its pane is reset all the same, and
  // the port stays listed once.
  // What an ended operation left pending goes first, in case nobody took it.
  if (!anyOperationRunning())
    finishDeferredDeviceChanges(nullptr);
  resetPaneForPortChange(&masterPane, n);
  resetPaneForPortChange(&slavePane, n);
  if (event == DBT_DEVICEARRIVAL)
    addPortEntry(n);
  else
    removePortEntry(n);
  if (event != DBT_DEVICEARRIVAL)
    terminalPortDeparted(n);
  // A running worker reads the records that the rules read; they wait.
  if (anyOperationRunning())
    deferButtonRules();
  else
    applyButtonRules();
}

void addPortEntry(uint32_t portNumber) {
  if (positionOfPort(asWindow(masterPane.portCombo), portNumber) >= 0)
    return;  // listed already: once is enough
  PortEntries ports;
  for (int i = 0; i < ports.count; ++i) {
    const PortEntry& entry = ports.entries[i];
    if (entry.portNumber != portNumber)
      continue;
    for (PaneRecord* pane : {&masterPane, &slavePane}) {
      appendPortEntry(asWindow(pane->portCombo), entry.friendlyName, portNumber);
      fitDroppedWidth(asWindow(pane->portCombo));
      UpdateWindow(asWindow(pane->portCombo));
    }
    return;
  }
}

void removePortEntry(uint32_t portNumber) {
  releaseDepartedPort(&masterPane, portNumber);
  releaseDepartedPort(&slavePane, portNumber);
  HWND masterCombo = asWindow(masterPane.portCombo);
  HWND slaveCombo = asWindow(slavePane.portCombo);
  uint32_t masterSelected = 0;
  uint32_t slaveSelected = 0;
  const bool masterHad = selectedPortNumber(masterCombo, &masterSelected);
  const bool slaveHad = selectedPortNumber(slaveCombo, &slaveSelected);
  const int32_t position = positionOfPort(masterCombo, portNumber);
  if (position < 0)
    return;
  for (HWND combo : {masterCombo, slaveCombo}) {
    SendMessageW(combo, CB_DELETESTRING, static_cast<WPARAM>(position), 0);
    UpdateWindow(combo);
  }
  if (masterHad && masterSelected == portNumber)
    selectPosition(masterCombo, 0);
  if (slaveHad && slaveSelected == portNumber)
    selectPosition(slaveCombo, 0);
}

void finishDeferredDeviceChanges(PaneRecord* pane) {
  if (pane && operationRunning(pane))
    return;
  if (finishDeferredPortChanges())
    applyButtonRules();
}

uint32_t pickedPort(HWND combo) {
  uint32_t portNumber = 0;
  return selectedPortNumber(combo, &portNumber) ? portNumber : 0;
}

bool pickPort(HWND combo, uint32_t portNumber) {
  const int32_t position = positionOfPort(combo, portNumber);
  if (position < 0)
    return false;
  selectPosition(combo, position);
  return true;
}

void fitDroppedWidth(HWND combo) {
  HDC dc = GetDC(combo);
  const HFONT font = reinterpret_cast<HFONT>(SendMessageW(combo, WM_GETFONT, 0, 0));
  const HGDIOBJ before = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  LONG widest = 0;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[kFriendlyNameChars] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= kFriendlyNameChars)
      continue;  // no PortEntry name is that long
    const LRESULT length =
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    SIZE extent{};
    if (length > 0 && GetTextExtentPoint32W(dc, text, static_cast<int>(length), &extent))
      widest = std::max(widest, extent.cx);
  }
  SelectObject(dc, before);
  ReleaseDC(combo, dc);
  // The list's frame and the item's inner margins, and room for its scroll
  // bar should the list be longer than its drop-down.
  const LONG frame = 4 * GetSystemMetrics(SM_CXEDGE) + 2 * GetSystemMetrics(SM_CXBORDER) + 4;
  const LONG width = widest + frame + GetSystemMetrics(SM_CXVSCROLL);
  RECT own{};
  GetWindowRect(combo, &own);
  SendMessageW(combo, CB_SETDROPPEDWIDTH,
               static_cast<WPARAM>(std::max(width, own.right - own.left)), 0);
}
