// What a direction of a range test received, as a share of what it sent:
// one text and one verdict for the dialog, the command line, the pair run
// and the record, so that no two of them tell a run apart.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/range_test.h"

// In tenths of a per cent, cut toward zero: 100.0 only when nothing was
// lost. 0 for nothing sent.
uint32_t receivedTenths(const RangeDirection& direction);

// The share as "99.9", "100.0", "0.0" into out (kShareTextChars with the
// terminator); its length.
constexpr size_t kShareTextChars = 8;
size_t receivedShareText(const RangeDirection& direction, char* out);

// A minimum share in ten-thousandths of a per cent: the finest step a run
// of a million packets shows. 100 % is 100 * kShareMinimumPerPercent.
constexpr uint32_t kShareMinimumPerPercent = 10000;

// Each direction received at least `minimum` of what it sent, compared
// exactly (1999 of 2000 is 99.95 %, below 100 %, whatever a text shows).
// A direction that sent nothing meets only a minimum of 0; a test without
// directions meets none.
bool sharesMeet(const RangeResult& range, uint32_t minimum);
