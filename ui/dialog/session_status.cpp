// The main dialog's status line: what a production run works with, and how
// this session's runs have gone, always in sight.
#include "ui/dialog/session_status.h"

#include <windows.h>

#include "resources/resource_ids.h"
#include "ui/dialog/rules.h"
#include "ui/shared/shell_services.h"

namespace {

// The last file loaded stays the profile until another or Unload Settings.
SettingsFile profile;
bool profileLoaded = false;
wchar_t profilePath[kPathChars];
wchar_t recordPath[kPathChars];
uint32_t passes = 0;
uint32_t fails = 0;

}  // namespace

const SettingsFile* loadedProfile() {
  return profileLoaded ? &profile : nullptr;
}

const wchar_t* loadedProfilePath() {
  return profileLoaded ? profilePath : L"";
}

void keepProfile(const SettingsFile& file, const wchar_t* path) {
  profile = file;
  profileLoaded = true;
  // Whole: the next start may be in another folder.
  wholePath(path, profilePath);
}

void forgetProfile() {
  profileLoaded = false;
  profilePath[0] = 0;
}

const wchar_t* recordFilePath() {
  return recordPath;
}

void keepRecordIn(const wchar_t* path) {
  lstrcpynW(recordPath, path, kPathChars);
}

void showSessionStatus() {
  if (!mainDialog)
    return;
  static wchar_t text[2 * kPathChars + 64];
  formatSessionStatus(loadedProfilePath(), recordFilePath(), passes, fails, text,
                      sizeof text / sizeof text[0]);
  SetDlgItemTextW(mainDialog, IDC_SESSION_STATUS, text);
}

void notePairResult(bool pass) {
  ++(pass ? passes : fails);
  showSessionStatus();
}
