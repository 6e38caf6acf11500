// Pairs in numbers: the system menu's Make Pair and Run Pair.
#pragma once

bool makePairOffered();
bool runPairOffered();
void makePairCommand();
void runPairCommand();
