// The texts of a pair run's end, for the result window, the line log and
// the command line alike.
#pragma once

#include <string>

#include "module/pair_run.h"

// Both panes pick one port: "Master and Slave are both set to COM5: each
// module needs its own port."
std::wstring samePortText(const std::wstring& port);

// The texts of a run's end, for the result window, the line log and the
// command line alike, made from what the run noted (never from the panes,
// which a failure empties). masterPick and slavePick name the ports picked
// for each ("COM5", "/dev/ttyUSB0"; empty: "COM" and the number); a swapped
// run's texts name them as used.
// The failure as its message box would say it; empty on a pass.
std::wstring pairFailureText(const PairRunResult& run, const std::wstring& masterPick,
                             const std::wstring& slavePick);
// Below the verdict: the failed step and its message, each module as found,
// and the swap, one line each.
std::wstring pairResultDetails(const PairRunResult& run, const std::wstring& masterPick,
                               const std::wstring& slavePick, const wchar_t* lineBreak);
// "PASS" or "FAIL", then the details.
std::wstring pairResultText(const PairRunResult& run, const std::wstring& masterPick,
                            const std::wstring& slavePick, const wchar_t* lineBreak);
