// Arbitrary bytes as a settings file, loaded into a pair of which one or both
// panes hold read values: refused with a line number and nothing changed, or
// applied whole (every choice it names shows, the rest stays, a section for
// a pane without values waits, and is applied whole or not at all at its
// pane's Read), and what is then saved reads back; a range criterion stays
// within its bounds. A [Pair] section added to
// a file that has none changes nothing of what the rest means.
#include <string>

#include "module/settings_file.h"
#include "tests/fuzz/check.h"
#include "tests/support/recording_view.h"

namespace {

// The panes' choices, as a saved file read back.
SettingsFile savedChoices() {
  char out[4096];
  const size_t size = formatSettingsFile(&masterPane.module, &slavePane.module, out, sizeof out);
  SettingsFile file;
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  require(parseSettingsFile(reinterpret_cast<const uint8_t*>(out), size, L"saved", &file, &line,
                            message),
          "a saved file was refused");
  return file;
}

bool same(const PaneSettings& a, const PaneSettings& b) {
  for (size_t s = 0; s < kSettingCount; ++s) {
    if (a.named[s] != b.named[s] || (a.named[s] && a.position[s] != b.position[s]))
      return false;
  }
  return a.present == b.present;
}

bool same(const SettingsFile& a, const SettingsFile& b) {
  return same(a.master, b.master) && same(a.slave, b.slave);
}

// What the section names shows now; the simple choices it does not name
// are as they were (the mode rules may move the mode choices).
void requireApplied(const PaneSettings& loaded, const PaneSettings& before,
                    const PaneSettings& after) {
  for (Setting setting : kAllSettings) {
    const size_t s = indexOf(setting);
    const bool mode = setting == Setting::PowerSave || setting == Setting::FlowControl;
    if (loaded.named[s])
      require(after.named[s] && after.position[s] == loaded.position[s], "a named choice was lost");
    else if (hasFlag(setting, kChoice) && !mode)
      require(after.position[s] == before.position[s], "a choice the file did not name changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The last byte picks the pair; the others are the file.
  prepareTestPanes();
  const uint8_t knobs = size ? data[--size] : 0;
  if (knobs & 0x40)
    readPaneAs(&masterPane, "KOV-NL001/M", 11, 11 + (knobs & 0x0F), knobs & 0x10, false);
  if (knobs & 0x80 || !(knobs & 0x40))
    readPaneAs(&slavePane, "KOV-NL001/S", 11, 26 - (knobs & 0x0F), knobs & 0x20, knobs & 0x10);
  PendingSettings pending;
  pending.slave.present = true;  // what an earlier load left waiting
  const SettingsFile before = savedChoices();

  SettingsFile file;
  uint32_t line = 0, lines = 1;
  wchar_t message[kSettingsMessageChars];
  if (!parseSettingsFile(data, size, L"fuzz.ini", &file, &line, message)) {
    for (size_t i = 0; i < size && i < kSettingsFileLimit; ++i)
      lines += data[i] == '\n';
    require(line >= 1 && line <= lines, "a refusal without the line it is on");
    require(std::wstring(message).rfind(L"fuzz.ini, line " + std::to_wstring(line) + L": ", 0) == 0,
            "a refusal that does not name the file and the line");
    require(same(savedChoices(), before), "a refused file changed a pane");
    return 0;
  }
  const RangeSettings& range = file.range;
  require(!range.present || (range.packets >= 1 && range.packets <= kRangeProfileMaxPackets &&
                             range.minReceived <= 100),
          "a range criterion out of its bounds");
  // Appended as UTF-8 text: only a file that is UTF-8 itself reads it so.
  const bool utf16 =
      size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
  if (!file.pair.present && !utf16 && size + 64 < kSettingsFileLimit) {
    std::string paired(reinterpret_cast<const char*>(data), size);
    paired += "\n[Pair]\nMake Pair = Yes\n";
    SettingsFile withPair;
    require(parseSettingsFile(reinterpret_cast<const uint8_t*>(paired.data()), paired.size(),
                              L"fuzz.ini", &withPair, &line, message) &&
                same(withPair, file) && withPair.pair.makePair,
            "a [Pair] section changed what the rest of a file means");
  }
  if (!loadSettings(&masterPane.module, &slavePane.module, file, L"fuzz.ini", &pending, message)) {
    require(message[0] != 0, "a file not loaded without a word why");
    require(same(savedChoices(), before), "a file not loaded changed a pane");
    require(pending.slave.present && !pending.master.present,
            "a file not loaded changed what waits");
    return 0;
  }
  const SettingsFile after = savedChoices();
  const struct {
    PaneRecord* pane;
    const PaneSettings &loaded, &before, &after, &waiting;
  } panes[] = {{&masterPane, file.master, before.master, after.master, pending.master},
               {&slavePane, file.slave, before.slave, after.slave, pending.slave}};
  for (const auto& p : panes) {
    if (!holdsModuleData(&p.pane->module))
      require(same(p.waiting, p.loaded), "a section that should wait does not");
    else if (p.loaded.present)
      requireApplied(p.loaded, p.before, p.after);
    else
      require(same(p.before, p.after) && !p.waiting.present,
              "a pane the file did not name changed");
  }
  // What waits, at its pane's Read, against that module's channel list.
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    PaneSettings& waiting = pane->module.isMaster ? pending.master : pending.slave;
    const PaneSettings section = waiting;
    if (section.present) {
      readPaneAs(pane, "KOV-NL001", 11, 11 + (knobs >> 4), knobs & 1, knobs & 2);
      const SettingsFile read = savedChoices();
      const bool applied = applyPendingSettings(&pane->module, &pending, message);
      const SettingsFile now = savedChoices();
      if (applied)
        requireApplied(section, pane->module.isMaster ? read.master : read.slave,
                       pane->module.isMaster ? now.master : now.slave);
      else
        require(message[0] && same(read, now), "a waiting section not applied changed a pane");
      require(!waiting.present, "a section still waits after its pane's Read");
    }
    require(!holdsModuleData(&pane->module) ||
                valueOffered(pane->module, Setting::Channel, pane->module.shown[Setting::Channel]),
            "a channel beyond the pane's list");
    require(pane->module.isMaster || pane->module.shown[Setting::PowerSave] != 0 ||
                pane->module.shown[Setting::FlowControl] == 1,
            "flow control off in cyclic sleep, which no user can pick");
  }
  return 0;
}
