// Pairs in numbers: the system menu's Make Pair and Run Pair.
#pragma once

#include <windows.h>

bool makePairOffered();
bool runPairOffered();
void makePairCommand();
void runPairCommand();
// A pair run's step or swapped picks, posted by its thread.
bool onPostedPairUpdate(UINT message, WPARAM wParam);
