// The Range Test window's chart: the share received of the last packets of
// each direction on a scale of 0 to 100 %, each in its colour, with the
// directions named under the plot.
#pragma once

#include <windows.h>

#include "module/range_test.h"
#include "ui/range_test/range_layout.h"
#include "ui/range_test/range_view.h"

// Into the owner-drawn control, in the window's font: the tracks of the
// directions that shown has.
void drawRangeChart(const DRAWITEMSTRUCT* draw, const RangeLayout& layout,
                    const RangeChartTrack (&tracks)[2], const RangeResult& shown);
