// The main dialog's status line: what a production run works with, and how
// this session's runs have gone, always in sight.
#include "resources/resource_ids.h"
#include "ui/main_dialog.h"
#include "ui/shell_services.h"

namespace {

uint32_t passes = 0;
uint32_t fails = 0;

}  // namespace

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
