// The main dialog's port lists: the usable serial ports of the Ports device
// class, in the system's order, following the devices as they come and go.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/dialog/rules.h"

// Fills entries with the usable serial ports, in the system's order.
int enumerateSerialPorts(PortEntry* entries, int capacity);
void refillPortList(HWND combo);
// A port list's drop-down as wide as its longest entry, so that two ports
// with long names of one kind are told apart by their numbers.
void fitDroppedWidth(HWND combo);
void onDeviceChange(WPARAM event, LPARAM header);
void addPortEntry(uint32_t portNumber);
// The port number of a list's pick, 0 for none; picking a port that is not
// listed changes nothing and gives false.
uint32_t pickedPort(HWND combo);
bool pickPort(HWND combo, uint32_t portNumber);
void removePortEntry(uint32_t portNumber);
// finishDeferredDeviceChanges: ui/operation_hooks.h.
