// The main dialog's labels of the parameter lists: the resource script
// shows them, and settings files use them as their keys.
#pragma once

#define LABEL_CHANNEL "Channel"
#define LABEL_BAUD_RATE "Baud Rate"
#define LABEL_PARITY "Parity"
#define LABEL_STOP_BITS "Stop Bits"
#define LABEL_POWER_LEVEL "Power Level"
#define LABEL_BOOST_MODE "Boost Mode"
#define LABEL_POWER_SAVE "Power Save"
#define LABEL_FLOW_CONTROL "Flow Control"
