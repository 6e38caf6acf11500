// Identifiers of the program's resources and controls. Shared by the
// resource script and the code; each number is defined once.
#pragma once

// Resources.
#define IDI_NLCONF 108
#define IDD_MAIN 109
#define IDD_LINK_RESULT 110
#define IDD_RESET_PROMPT 111
#define IDD_PROGRESS 112
#define IDD_PAIR_RESULT 113

// The dialogs' OK and Cancel as the system numbers them (IDOK, IDCANCEL):
// the main dialog's Exit, and Escape.
#define IDC_EXIT 1
#define IDC_ESCAPE 2

// Centre column of the main dialog (Exit is IDOK, 1).
#define IDC_COPY_TO_SLAVE 1000
#define IDC_COPY_TO_MASTER 1001
#define IDC_SET_DEFAULT 1002
#define IDC_LINK_TEST 1003
// Under both panes: the profile, the record and the session's counts.
#define IDC_SESSION_STATUS 1004

// Link test result and progress dialogs.
#define IDC_RESULT_LABEL 2000
#define IDC_PROGRESS_LABEL 2001
#define IDC_PAIR_DETAILS 2002

// Master pane; a pane's controls are its port list's id plus an offset.
#define IDC_MASTER_PORT 3000
#define IDC_MASTER_READ 3001
#define IDC_MASTER_WRITE 3002
#define IDC_MASTER_NODE_ID 3003
#define IDC_MASTER_PAN_ID 3004
#define IDC_MASTER_DEST_HIGH 3005
#define IDC_MASTER_DEST_LOW 3006
#define IDC_MASTER_CHANNEL 3007
#define IDC_MASTER_BAUD 3008
#define IDC_MASTER_PARITY 3009
#define IDC_MASTER_STOP_BITS 3010
#define IDC_MASTER_POWER_LEVEL 3011
#define IDC_MASTER_BOOST_MODE 3012
#define IDC_MASTER_FLOW_CONTROL 3013
#define IDC_MASTER_RTS 3014
#define IDC_MASTER_CTS 3015

// Slave pane.
#define IDC_SLAVE_PORT 4000
#define IDC_SLAVE_READ 4001
#define IDC_SLAVE_WRITE 4002
#define IDC_SLAVE_NODE_ID 4003
#define IDC_SLAVE_PAN_ID 4004
#define IDC_SLAVE_DEST_HIGH 4005
#define IDC_SLAVE_DEST_LOW 4006
#define IDC_SLAVE_CHANNEL 4007
#define IDC_SLAVE_BAUD 4008
#define IDC_SLAVE_PARITY 4009
#define IDC_SLAVE_STOP_BITS 4010
#define IDC_SLAVE_POWER_LEVEL 4011
#define IDC_SLAVE_BOOST_MODE 4012
#define IDC_SLAVE_POWER_SAVE 4013
#define IDC_SLAVE_SLEEP_MODE 4014
#define IDC_SLAVE_FLOW_CONTROL 4015
#define IDC_SLAVE_RTS 4016
#define IDC_SLAVE_CTS 4017

// The line log's window, made in code (Close is IDCANCEL, so Escape closes it too).
#define IDC_LOG_TEXT 100
#define IDC_LOG_SAVE 101
#define IDC_LOG_CLEAR 102

// The Range Test's window, made in code (Start is IDOK, Close IDCANCEL).
#define IDC_RANGE_WAY_LABEL 200
#define IDC_RANGE_BOTH 201
#define IDC_RANGE_LOOPBACK 202
#define IDC_RANGE_COUNT_LABEL 203
#define IDC_RANGE_COUNT 204
#define IDC_RANGE_UNTIL_STOP 205
#define IDC_RANGE_SIZE_LABEL 206
#define IDC_RANGE_SIZE 207
#define IDC_RANGE_STOP 208
#define IDC_RANGE_COPY 209
#define IDC_RANGE_STATUS 210
#define IDC_RANGE_FIRST_LINE 211
#define IDC_RANGE_SECOND_LINE 212
#define IDC_RANGE_ROUND_TRIP 213
#define IDC_RANGE_CHART_LABEL 214
#define IDC_RANGE_CHART 215
#define IDC_RANGE_PAIR_LINE 216

// The Terminal window, made in code (Enter is IDOK, Close IDCANCEL).
#define IDC_TERM_TEXT 230
#define IDC_TERM_MODE 231
#define IDC_TERM_INPUT 232
#define IDC_TERM_ESCAPE 233
#define IDC_TERM_CLEAR 234

// Private messages of the progress dialog.
#define MSG_OPERATION_DONE 0x6000
#define MSG_START_FAILED 0x6001
// Shows the progress dialog at once: a window beside it needs its Cancel.
#define MSG_SHOW_PROGRESS 0x6003
// The main dialog loads the settings file named on the command line.
#define MSG_LOAD_SETTINGS 0x6002
// A session's screen updates, posted to the main dialog.
#define MSG_DRAW_PANE 0x6004
#define MSG_CLEAR_PANE 0x6005
#define MSG_FILL_CHANNELS 0x6006
#define MSG_RESET_PROMPT 0x6008
#define MSG_SHOW_WARNING 0x6009
// A pair run's step and its swapped picks, posted to the main dialog.
#define MSG_PAIR_STEP 0x600A
#define MSG_PAIR_PICKS 0x600B
// The terminal's session has lines or a change of mode to show.
#define MSG_TERMINAL_UPDATE 0x6007

// The main dialog's system menu commands: multiples of 16 below 0xF000.
#define IDM_SAVE_SETTINGS 0x0110
#define IDM_LOAD_SETTINGS 0x0120
#define IDM_LINE_LOG 0x0130
#define IDM_MAKE_PAIR 0x0140
#define IDM_RUN_PAIR 0x0150
#define IDM_UNLOAD_SETTINGS 0x0160
#define IDM_RECORD_TO 0x0170
#define IDM_RANGE_TEST 0x0180
#define IDM_TERMINAL 0x0190
