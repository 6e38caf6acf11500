// The parameter combo boxes' fixed entries, shared by the dialog that shows
// them and the settings files that name them. A position is the module's
// code (for the channel, the channel minus 11).
#pragma once

#include <cstdint>

struct ChoiceList {
  const wchar_t* const* entries;
  int32_t count;
};
extern const ChoiceList channelChoices;
extern const ChoiceList baudChoices;
extern const ChoiceList parityChoices;
extern const ChoiceList stopBitsChoices;
extern const ChoiceList powerLevelChoices;
extern const ChoiceList boostModeChoices;
extern const ChoiceList powerSaveChoices;
extern const ChoiceList flowControlChoices;

constexpr int32_t kNoSelection = -1;

// Where a Shown value sits in its list, or kNoSelection when it is not in it.
int32_t channelPosition(uint8_t channelShown);
int32_t listPosition(uint32_t shown, const ChoiceList& list);
