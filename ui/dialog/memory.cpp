#include "ui/dialog/memory.h"

#include "ui/dialog/port_list.h"
#include "ui/shared/window_handle.h"

namespace {

constexpr wchar_t kMemoryKey[] = L"Software\\NLCONF";
constexpr wchar_t kMasterPortValue[] = L"Master Port";
constexpr wchar_t kSlavePortValue[] = L"Slave Port";

bool rememberedNumber(const wchar_t* name, DWORD* value) {
  DWORD bytes = sizeof *value;
  return RegGetValueW(HKEY_CURRENT_USER, kMemoryKey, name, RRF_RT_REG_DWORD, nullptr, value,
                      &bytes) == ERROR_SUCCESS;
}

void remember(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kMemoryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
}

}  // namespace

void takeRememberedPorts() {
  DWORD port = 0;
  if (rememberedNumber(kMasterPortValue, &port))
    pickPort(asWindow(masterPane.portCombo), port);
  if (rememberedNumber(kSlavePortValue, &port))
    pickPort(asWindow(slavePane.portCombo), port);
}

void rememberPortPick(PaneRecord* pane) {
  const DWORD port = pickedPort(asWindow(pane->portCombo));
  if (port)
    remember(pane->module.isMaster ? kMasterPortValue : kSlavePortValue, REG_DWORD, &port,
             sizeof port);
}

void rememberText(const wchar_t* name, const wchar_t* value) {
  remember(name, REG_SZ, value, static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
}

bool rememberedText(const wchar_t* name, wchar_t* out, DWORD chars) {
  DWORD bytes = chars * sizeof(wchar_t);
  out[0] = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kMemoryKey, name, RRF_RT_REG_SZ, nullptr, out, &bytes) !=
      ERROR_SUCCESS) {
    out[0] = 0;
  }
  return out[0] != 0;
}
