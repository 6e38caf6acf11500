// The Link Test on screen: the test on the worker behind the progress
// dialog, then its verdict.
#pragma once

void runLinkTest();
// Both panes on one port: says so, naming the port, and gives true.
bool refuseOnePortForBoth();
