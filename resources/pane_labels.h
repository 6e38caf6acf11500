// The main dialog's labels of the parameter lists: the resource script
// shows them, and settings files use them as their keys. Then each pane's
// controls (resource_ids.h) in the order of the settings table.
#pragma once

#define LABEL_CHANNEL "Channel"
#define LABEL_BAUD_RATE "Baud Rate"
#define LABEL_PARITY "Parity"
#define LABEL_STOP_BITS "Stop Bits"
#define LABEL_POWER_LEVEL "Power Level"
#define LABEL_BOOST_MODE "Boost Mode"
#define LABEL_POWER_SAVE "Power Save"
#define LABEL_FLOW_CONTROL "Flow Control"

// 0 where the pane shows none.
#define IDC_MASTER_SETTINGS                                                             \
  IDC_MASTER_PAN_ID, 0, IDC_MASTER_CHANNEL, IDC_MASTER_DEST_LOW, IDC_MASTER_DEST_HIGH,  \
      IDC_MASTER_BAUD, IDC_MASTER_PARITY, IDC_MASTER_STOP_BITS, IDC_MASTER_POWER_LEVEL, \
      IDC_MASTER_BOOST_MODE, 0, 0, IDC_MASTER_FLOW_CONTROL, IDC_MASTER_RTS, IDC_MASTER_CTS
#define IDC_SLAVE_SETTINGS                                                                         \
  IDC_SLAVE_PAN_ID, 0, IDC_SLAVE_CHANNEL, IDC_SLAVE_DEST_LOW, IDC_SLAVE_DEST_HIGH, IDC_SLAVE_BAUD, \
      IDC_SLAVE_PARITY, IDC_SLAVE_STOP_BITS, IDC_SLAVE_POWER_LEVEL, IDC_SLAVE_BOOST_MODE,          \
      IDC_SLAVE_POWER_SAVE, IDC_SLAVE_SLEEP_MODE, IDC_SLAVE_FLOW_CONTROL, IDC_SLAVE_RTS,           \
      IDC_SLAVE_CTS
