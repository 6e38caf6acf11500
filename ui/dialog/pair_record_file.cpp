#include "ui/dialog/pair_record_file.h"

#include <windows.h>
// After windows.h:

#include <cstring>

#include "module/pair_record.h"
#include "ui/dialog/memory.h"
#include "ui/dialog/session_status.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/file_dialog.h"
#include "ui/shared/shell_services.h"
#include "version.h"

namespace {

std::string utf8Of(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::string narrowPortName(uint32_t portNumber) {
  return portNumber ? "COM" + std::to_string(portNumber) : std::string();
}

}  // namespace

void showRecordOutcome(const RecordOutcome& outcome) {
  const std::string path = utf8Of(recordFilePath());
  static wchar_t text[kDetailsChars];
  recordOutcomeText(outcome, path.c_str(), text, kDetailsChars);
  showError(L"%s", text);
}

bool refuseUnwritableRecord() {
  if (!recordFilePath()[0])
    return false;
  const std::string path = utf8Of(recordFilePath());
  // Another station's append holds the lock for a moment, at most the lock's limit.
  const HCURSOR cursor = SetCursor(waitCursor);
  const RecordOutcome outcome = checkRecordFile(path.c_str());
  SetCursor(cursor);
  if (outcome.result == 0)
    return false;
  showRecordOutcome(outcome);
  return true;
}

RecordOutcome appendRunToRecord(const PairRunResult& run, const std::wstring& message,
                                uint32_t benchMasterPort, uint32_t benchSlavePort) {
  const std::string path = utf8Of(recordFilePath());
  const std::string profilePath = utf8Of(loadedProfilePath());
  char station[256] = {};
  char operatorName[256] = {};
  os::computerName(station, sizeof station);
  os::userName(operatorName, sizeof operatorName);
  // The bench's ports: the line names them the other way round for a
  // swapped run, as they were used.
  const std::string masterPort = narrowPortName(benchMasterPort);
  const std::string slavePort = narrowPortName(benchSlavePort);
  PairRecordContext context;
  context.version = NLCONF_VERSION_TEXT;
  context.profilePath = profilePath.c_str();
  context.profileSha256 = loadedProfile() ? loadedProfile()->sha256 : "";
  context.station = station;
  context.operatorName = operatorName;
  context.masterPort = masterPort.c_str();
  context.slavePort = slavePort.c_str();
  context.when = recordTime(os::localTime());
  return appendPairRecord(path.c_str(), run, message.c_str(), context);
}

void pickRecordFile() {
  static wchar_t path[kPathChars];
  lstrcpynW(path, recordFilePath(), kPathChars);
  // A record that exists is appended to, never overwritten.
  if (!askFileName(mainDialog, path, kPathChars,
                   {.save = true,
                    .filter = L"Records (*.csv)\0*.csv\0All Files (*.*)\0*.*\0",
                    .extension = L"csv",
                    .title = L"Record To"}))
    return;
  keepRecordIn(path);
  rememberText(kRecordValue, recordFilePath());
  showSessionStatus();
}
