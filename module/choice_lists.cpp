#include "module/choice_lists.h"

#include <iterator>

#include "module/pane.h"

namespace {

const wchar_t* const kChannelTexts[] = {L"11", L"12", L"13", L"14", L"15", L"16", L"17", L"18",
                                        L"19", L"20", L"21", L"22", L"23", L"24", L"25", L"26"};
const wchar_t* const kBaudTexts[] = {L"1200",  L"2400",  L"4800",  L"9600",
                                     L"19200", L"38400", L"57600", L"115200"};
const wchar_t* const kParityTexts[] = {L"No Parity", L"Even Parity", L"Odd Parity", L"Mark Parity"};
const wchar_t* const kStopBitsTexts[] = {L"One Stop Bit", L"Two Stop Bits"};
const wchar_t* const kPowerLevelTexts[] = {L"Lowest", L"Low", L"Medium", L"High", L"Highest"};
const wchar_t* const kBoostModeTexts[] = {L"Disable", L"Enable"};
const wchar_t* const kPowerSaveTexts[] = {L"On", L"Off"};
const wchar_t* const kFlowControlTexts[] = {L"Disable", L"Enable"};

// What a Write may send is bounded by these very lists.
static_assert(std::size(kChannelTexts) == kLastChannel - kFirstChannel + 1);
static_assert(std::size(kBaudTexts) == kBaudCodeCount);
static_assert(std::size(kParityTexts) == kParityCodeCount);
static_assert(std::size(kStopBitsTexts) == kStopBitsCodeCount);
static_assert(std::size(kPowerLevelTexts) == kPowerLevelCount);
static_assert(std::size(kBoostModeTexts) == kBoostModeCount);

template <int32_t N>
constexpr ChoiceList listOf(const wchar_t* const (&entries)[N]) {
  return ChoiceList{entries, N};
}

}  // namespace

const ChoiceList channelChoices = listOf(kChannelTexts);
const ChoiceList baudChoices = listOf(kBaudTexts);
const ChoiceList parityChoices = listOf(kParityTexts);
const ChoiceList stopBitsChoices = listOf(kStopBitsTexts);
const ChoiceList powerLevelChoices = listOf(kPowerLevelTexts);
const ChoiceList boostModeChoices = listOf(kBoostModeTexts);
const ChoiceList powerSaveChoices = listOf(kPowerSaveTexts);
const ChoiceList flowControlChoices = listOf(kFlowControlTexts);

int32_t channelPosition(uint8_t channelShown) {
  const int32_t position = static_cast<int32_t>(channelShown) - kFirstChannel;
  return position >= 0 && position < channelChoices.count ? position : kNoSelection;
}

int32_t listPosition(uint32_t shown, const ChoiceList& list) {
  return shown < static_cast<uint32_t>(list.count) ? static_cast<int32_t>(shown) : kNoSelection;
}
