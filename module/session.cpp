#include "module/session.h"

#include "link/port_activity.h"

bool isCancelled(const Session& s) {
  os::Handle event = s.cancelEvent;
  return event && !s.finishing && os::waitAny(&event, 1, 0) == 0;
}

int32_t noteOutcome(Session& s, const char* step, int32_t code) {
  s.outcome = Outcome{};
  const uint32_t error = code == ErrNoPort && s.openError ? s.openError : os::lastError();
  if (code != 0)
    s.outcome = Outcome{code, error, s.portNumber, step};
  return code;
}

Outcome outcomeOf(Session& s, const char* step, int32_t code) {
  if (code == 0 || s.outcome.code != code)
    noteOutcome(s, step, code);
  return s.outcome;
}

void showCleared(const Session& s) {
  if (s.view.cleared)
    s.view.cleared(s.view.context);
}

void showChannels(const Session& s) {
  if (s.view.channelsRead)
    s.view.channelsRead(s.view.context, s.module->channelLimit);
}

void showModule(const Session& s) {
  if (s.view.shown)
    s.view.shown(s.view.context, *s.module);
}

void showWarning(const Session& s, const wchar_t* text) {
  if (s.view.warned)
    s.view.warned(s.view.context, text);
}

void rememberLine(const Session& s) {
  LineMemory* memory = s.options.search.memory;
  if (memory && s.port && s.portNumber < kPortTableSize)
    memory->port[s.portNumber] = lineGuessOf(s.port->serialSettings);
  if (s.port) {
    const os::LineSettings& line = s.port->serialSettings;
    noteModuleLine(s.portNumber, line.baudRate, line.parity, line.stopBits);
  }
}
