// The module's AT command set as typed operations: one locked transaction
// per command (the write and its one reply line), the "OK" check, hex and
// text queries, hex setters, and command-mode entry and exit.
#pragma once

#include <cstdint>

#include "link/errors.h"
#include "link/port_table.h"

// Reply buffers: each keeps one character less than its size.
constexpr uint32_t kOkReplySize = 8;
constexpr uint32_t kHex32ReplySize = 16;
constexpr uint32_t kHex16ReplySize = 8;
constexpr uint32_t kHex8ReplySize = 8;
constexpr uint32_t kPanIdReplySize = 32;
constexpr uint32_t kNodeIdReplySize = 21;
constexpr uint32_t kTpReplySize = 16;

// crEnded as readLine's.
int32_t transact(SerialPort* port, const char* command, uint32_t commandLength, char* buffer,
                 uint32_t size, uint32_t* outLength, bool* crEnded = nullptr);
int32_t sendCommandExpectOk(SerialPort* port, const char* command, uint32_t commandLength);
// A five-byte command such as "ATWR\r" whose only right reply is "OK".
int32_t sendCommand5ExpectOk(SerialPort* port, const char* command);

// Five-byte queries ("ATxx\r") answered in hexadecimal; the output is written
// only on success, and a reply that is no number gives its leading digits' value.
int32_t queryHex32(SerialPort* port, const char* command, uint32_t* out);
int32_t queryHex16(SerialPort* port, const char* command, uint16_t* out);
int32_t queryHex8(SerialPort* port, const char* command, uint8_t* out);
// "ATID\r"; ErrRead when the reply holds no hexadecimal number.
int32_t queryExtendedPanId(SerialPort* port, uint64_t* out);
int32_t queryText(SerialPort* port, const char* command, char* buffer, uint32_t size,
                  uint32_t* outLength);
int32_t queryNodeIdentifier(SerialPort* port, char* buffer, uint32_t* outLength);  // 21 bytes
int32_t queryTpText(SerialPort* port, char* buffer);                               // 16 bytes

// "ATGT\r" into the port's guard time (takeGuardTime).
int32_t readGuardTime(SerialPort* port);

// Every setter: the four-character name ("AT" and the two letters; what
// follows them is not sent), the value in upper-case hex with at least
// minDigits digits, and CR.
int32_t setHexRegister(SerialPort* port, const char* name, uint64_t value, int minDigits);
// The families the module's registers fall in: an 8-bit register by its
// name, the baud rate's code ("ATBD", 32 bits) and the channel mask ("ATSC").
int32_t setRegister8(SerialPort* port, const char* name, uint8_t value);
int32_t setBaudCode(SerialPort* port, uint32_t code);
int32_t setChannelMask(SerialPort* port, uint16_t mask);
// One setter each, the name fixed.
int32_t setNetworkReset(SerialPort* port, uint8_t value);  // "ATNR"
int32_t setSleepMode(SerialPort* port, uint8_t value);     // "ATSM"
int32_t setD6Config(SerialPort* port, uint8_t value);      // "ATD6"
int32_t setD7Config(SerialPort* port, uint8_t value);      // "ATD7"
int32_t setStopBitsCode(SerialPort* port, uint8_t value);  // "ATSB"
int32_t setParityCode(SerialPort* port, uint8_t value);    // "ATNB"
int32_t setBoostMode(SerialPort* port, uint8_t value);     // "ATPM"
int32_t setPowerLevel(SerialPort* port, uint8_t value);    // "ATPL"

// "ATWR\r" whatever cancel stands (as "ATCN" on the way out): the module
// stores what it runs. The port's I/O time-out bounds it.
int32_t storeSettings(SerialPort* port);

int32_t enterCommandMode(SerialPort* port);
int32_t exitCommandMode(SerialPort* port);
