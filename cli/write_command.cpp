// nlconf-cli write: a settings file's section and each --set into a module,
// after a read in the same command-mode session, and checked after.
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/session.h"
#include "link/line_log.h"
#include "module/read.h"
#include "module/result_messages.h"
#include "module/settings_file.h"
#include "module/write.h"

namespace cli {

namespace {

constexpr char kStoredPartText[] =
    "What the module had taken of the write is stored: read it to see what it holds.";

// Applies the file's section and each --set to a copy of the record: all
// of them fit and the record takes the copy, or nothing changes.
bool applyChoices(ModuleRecord* pane, const SettingsFile* file,
                  const std::vector<SettingsFile>& sets, const std::string& fileName,
                  std::string* message) {
  ModuleRecord trial = *pane;
  std::vector<std::pair<const PaneSettings*, std::string>> sections;
  if (file)
    sections.push_back({pane->isMaster ? &file->master : &file->slave, fileName});
  for (const SettingsFile& set : sets)
    sections.push_back({pane->isMaster ? &set.master : &set.slave, "--set"});
  for (const auto& [section, from] : sections) {
    if (!section->present)
      continue;
    wchar_t reason[kSettingsMessageChars] = {};
    uint32_t line = 0;
    if (!sectionFitsPane(&trial, *section, reason, &line)) {
      *message = from == "--set"
                     ? "--set: " + narrow(reason) + "."
                     : from + ", line " + std::to_string(line) + ": " + narrow(reason) + ".";
      return false;
    }
    applySection(&trial, *section);
  }
  *pane = trial;
  return true;
}

// What a Write was to change, and what the module holds after it.
bool holdsChoices(const ModuleRecord& intended, const ModuleRecord& now) {
  return changesOf(intended, now).empty();
}

// A FILE given for a role holds that role's section: the master's file
// named for the slave must not pass as "nothing to write".
bool fileHasRoleSection(const Options& o, const SettingsFile& file, std::string* message) {
  const bool master = o.role == Role::Master;
  if (o.file.empty() || (master ? file.master.present : file.slave.present))
    return true;
  *message = fileShown(o.file) + " has no " + (master ? "[Master]" : "[Slave]") + " section.";
  return false;
}

bool loadWriteInput(const Options& o, SettingsFile* file, std::vector<SettingsFile>* sets,
                    std::string* message) {
  if (!o.file.empty() &&
      (!loadFile(o.file, file, message) || !fileHasRoleSection(o, *file, message)))
    return false;
  for (const std::string& set : o.sets) {
    sets->emplace_back();
    if (!parseSet(set, o.role == Role::Master, &sets->back(), message))
      return false;
  }
  return true;
}

// Change lines only for what the module took (or, in a dry run, would take).
// A write that failed leaves the module as read before it, but for what was
// to change: that may be either value now.
void printWriteResult(const Options& o, const Module& m, const ModuleRecord& before,
                      const std::vector<Change>& changes, bool written, int32_t result) {
  if (o.json) {
    std::vector<std::string> unknown;
    const bool failed = result != 0 && !changes.empty() && !o.dryRun;
    for (size_t i = 0; failed && i < changes.size(); ++i)
      unknown.push_back(changes[i].key);
    const ModuleRecord& held = failed ? before : m.record;
    std::string json = moduleJson(o.ports[0], held.isMaster != 0,
                                  moduleOf(held, m.session.portNumber, true), unknown);
    json.pop_back();
    addJson(json, "changes", changesJson(changes));
    addJson(json, "dry_run", jsonBool(o.dryRun));
    addJson(json, "written", jsonBool(written));
    const std::string stored = m.session.storedPart ? std::string(" ") + kStoredPartText : "";
    addJson(json, "message",
            result == 0 ? "null" : jsonString(failureText(settled(result), m) + stored));
    keepJsonResult(json + "}");
    return;
  }
  const bool shown = changes.empty() || o.dryRun || written;
  std::string text;
  for (size_t i = 0; shown && !o.quiet && i < changes.size(); ++i)
    text += changes[i].line + "\n";
  if (changes.empty())
    text += "Nothing to write.\n";
  else if (o.dryRun)
    text += "Dry run: nothing written.\n";
  else if (written)
    text += "Written.\n";
  printText(text);
}

int writeCommand(const Options& o) {
  const bool master = o.role == Role::Master;
  SettingsFile file;
  std::vector<SettingsFile> sets;
  std::string message;
  if (!loadWriteInput(o, &file, &sets, &message)) {
    reportFailure(message);
    return ExitRefused;
  }
  Module& m = master ? masterModule() : slaveModule();
  if (const int refused = prepareModule(m, o.ports[0], true, lineSearchOf(o)))
    return refused;
  progress("Reading " + o.ports[0] + "...");
  logNote(m.session.lineLog, m.session.portNumber, "Read started");
  // One command-mode session: the write follows the read without leaving it.
  int32_t result = readInSession(m.session);
  logEnd(m, "Read", result);
  int code = ExitDone;
  const ModuleRecord read = m.record;
  if (result != 0) {
    code = failWith(result, m);
  } else if (!applyChoices(&m.record, o.file.empty() ? nullptr : &file, sets, fileShown(o.file),
                           &message)) {
    endSession(m.session);
    reportFailure(message);
    code = ExitRefused;
  } else {
    const std::vector<Change> changes = changesOf(read, m.record);
    const bool writes = !changes.empty() && !o.dryRun;
    if (!writes) {
      endSession(m.session);
    } else {
      const ModuleRecord intended = m.record;
      progress("Writing " + o.ports[0] + "...");
      logNote(m.session.lineLog, m.session.portNumber, "Write started");
      result = writeInSession(m.session);
      if (result == 0 && !holdsChoices(intended, m.record))
        result = ResultNotHeld;
      logEnd(m, "Write", result);
      result = settled(result);
      code = result == 0 ? ExitDone : failWith(result, m);
      if (result != 0 && m.session.storedPart)
        reportFailure(portPrefix(m) + kStoredPartText);
    }
    printWriteResult(o, m, read, changes, writes && result == 0, result);
  }
  releaseModule(m);
  return code;
}

// Every key and value that a settings file or --set takes.
std::string keysAndValues() {
  std::string text = "\nKeys and values (--set \"KEY=VALUE\", or KEY = VALUE in a file):\n";
  for (Setting setting : kAllSettings) {
    const SettingInfo& info = settingInfo(setting);
    if (!(info.flags & kChoice))
      continue;
    text += "  " + narrow(info.label) + ":";
    for (int32_t i = 0; i < info.choices->count; ++i)
      text += (i ? ", " : " ") + narrow(info.choices->entries[i]);
    text += info.slaveOnly ? " (slave only)\n" : "\n";
  }
  return text;
}

constexpr OptionSpec kWriteOptions[] = {
    kRoleOption,
    kJsonOption,
    kQuietOption,
    listOption("set", &Options::sets, "\"KEY=VALUE\"",
               "one value to write, as in a settings file (repeatable)"),
    flagOption("dry-run", 0, &Options::dryRun, "show what would change, write nothing"),
};

}  // namespace

extern constexpr CommandSpec kWriteCommand = {
    .name = "write",
    .minPorts = 1,
    .maxPorts = 1,
    .fileOperand = "FILE",
    .needsRole = true,
    .options = kWriteOptions,
    .usage =
        "nlconf-cli write PORT --role master|slave [FILE] [--set \"KEY=VALUE\"]...\n"
        "                 [--dry-run] [--json] [--quiet]",
    .summary =
        "Writes the role's section of FILE (- for standard input) and each --set into a\n"
        "module. A FILE needs a section for the role. Ends with \"Written.\" or\n"
        "\"Nothing to write.\".",
    .moreHelp = keysAndValues,
    .run = writeCommand,
    .findsModule = true};

}  // namespace cli
