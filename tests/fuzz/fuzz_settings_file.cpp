// Arbitrary bytes as a settings file, loaded into a pair of which one or both
// panes hold read values: refused with a line number and nothing changed, or
// applied whole (every choice it names shows, the rest stays, a section for
// a pane without values waits), and what is then saved reads back the same.
#include <cstring>
#include <string>

#include "module/settings_file.h"
#include "tests/fuzz/check.h"
#include "tests/support/recording_view.h"

namespace {

// A pane as a Read leaves it; the knobs pick its channel list and modes.
void readInto(PaneRecord* p, const char* nodeId, uint8_t knobs) {
  std::strcpy(p->nodeId, nodeId);
  p->panIdRead = p->panIdShown = 0x1234;
  p->channelLimit = 11 + (knobs & 0x0F);
  p->channelRead = p->channelShown = 11;
  p->baudCodeRead = p->baudCodeShown = 3;
  p->parityCodeRead = p->parityCodeShown = 0;
  p->stopBitsCodeRead = p->stopBitsCodeShown = 0;
  p->powerLevelRead = p->powerLevelShown = 4;
  p->boostModeRead = p->boostModeShown = 1;
  p->d7ConfigRead = p->d6ConfigRead = knobs & 0x10 ? 1 : 0;
  p->sleepModeRead = p->isMaster ? 0 : (knobs & 0x20 ? 4 : 0);
  deriveModeState(p);
}

std::string saved() {
  char out[4096];
  return std::string(out, formatSettingsFile(&masterPane, &slavePane, out, sizeof out));
}

SettingsFile parsedOrAbort(const std::string& text, const char* what) {
  SettingsFile file;
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  require(parseSettingsFile(reinterpret_cast<const uint8_t*>(text.data()), text.size(), L"saved",
                            &file, &line, message),
          what);
  return file;
}

bool sameSection(const PaneSettings& a, const PaneSettings& b) {
  if (a.present != b.present)
    return false;
  for (int s = 0; s < kSettingCount; ++s) {
    if (a.named[s] != b.named[s] || (a.named[s] && a.position[s] != b.position[s]))
      return false;
  }
  return true;
}

// Every choice the loaded section names shows now; the simple ones it does
// not name are as they were (the mode rules may move the mode choices).
void requireApplied(const PaneSettings& loaded, const PaneSettings& before,
                    const PaneSettings& after) {
  for (int s = 0; s < kSettingCount; ++s) {
    if (loaded.named[s])
      require(after.named[s] && after.position[s] == loaded.position[s], "a named choice was lost");
    else if (s < SettingPowerSave)
      require(after.position[s] == before.position[s], "a choice the file did not name changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The last byte picks the pair; the others are the file.
  prepareTestPanes();
  const uint8_t knobs = size ? data[--size] : 0;
  if (knobs & 0x40)
    readInto(&masterPane, "KOV-NL001/M", knobs);
  if (knobs & 0x80 || !(knobs & 0x40))
    readInto(&slavePane, "KOV-NL001/S", knobs >> 1);
  PendingSettings pending;
  pending.slave.present = true;  // what an earlier load left waiting
  pending.slave.sectionLine = 7;
  const std::string before = saved();
  const SettingsFile beforeFile = parsedOrAbort(before, "a saved file was refused");

  SettingsFile file;
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  if (!parseSettingsFile(data, size, L"fuzz.ini", &file, &line, message)) {
    uint32_t lines = 1;
    for (size_t i = 0; i < size && i < kSettingsFileLimit; ++i)
      lines += data[i] == '\n';
    require(line >= 1 && line <= lines, "a refusal without the line it is on");
    const std::wstring said = message;
    require(said.rfind(L"fuzz.ini, line " + std::to_wstring(line) + L": ", 0) == 0,
            "a refusal that does not name the file and the line");
    require(saved() == before, "a refused file changed a pane");
    return 0;
  }
  const PendingSettings waitedBefore = pending;
  if (!loadSettings(file, L"fuzz.ini", &pending, message)) {
    require(message[0] != 0, "a file not loaded without a word why");
    require(saved() == before, "a file not loaded changed a pane");
    require(sameSection(pending.slave, waitedBefore.slave), "a file not loaded changed what waits");
    return 0;
  }
  const SettingsFile afterFile = parsedOrAbort(saved(), "what a load left cannot be saved");
  const struct {
    PaneRecord* pane;
    const PaneSettings& loaded;
    const PaneSettings& before;
    const PaneSettings& after;
    const PaneSettings& waiting;
  } panes[] = {{&masterPane, file.master, beforeFile.master, afterFile.master, pending.master},
               {&slavePane, file.slave, beforeFile.slave, afterFile.slave, pending.slave}};
  for (const auto& p : panes) {
    if (holdsReadValues(p.pane)) {
      require(!p.waiting.present, "a section waits for a pane that holds values");
      if (p.loaded.present)
        requireApplied(p.loaded, p.before, p.after);
      else
        require(sameSection(p.before, p.after), "a pane the file did not name changed");
    } else {
      require(sameSection(p.waiting, p.loaded), "a section that should wait does not");
    }
  }
  return 0;
}
