#include "module/session.h"

bool isCancelled(const Session& s) {
  os::Handle event = s.cancelEvent;
  return event && !s.finishing && os::waitAny(&event, 1, 0) == 0;
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
