#pragma once
// The link's state names and how its exchanges end. LinkMode's names are the protocol's own
// texts.

#include <QString>
#include <cstdint>

enum class LinkMode {
  None,          // before the port scan
  NO_PC,         // no handshake yet
  PC,            // idle, connected
  SAVE,
  LOAD,
  TIME,
  TM,
  ID,
  STATUS,
  SEND_RS485,    // "SEND RS-485"
  READ_RS485,    // "READ RS-485"
  SETUP_RS485,   // "SETUP RS-485"
};

// "NO_PC", "PC", ..., "SEND RS-485"; empty for None.
QString linkModeText(LinkMode mode);

// What the reply watchdog does when it fires.
enum class WatchdogReason : std::uint8_t {
  None = 0,
  NoReply = 1,          // a main-window command got no reply
  TransferStalled = 2,  // a transfer's byte phase stopped
  SaveUnconfirmed = 3,  // no "SAVE_OK"/"ERR2" after a write
  StateNoReply = 4,     // a state-window command got no reply
  StateDone = 5,        // a state-window reply is complete
};

// How an exchange ended short of success, as the link reports it (a watchdog reason or a
// signal). Both windows and the command line tell the operator in outcomeText's words.
enum class ExchangeOutcome : std::uint8_t {
  NoReply,           // no reply to a command
  TransferStalled,   // a transfer stopped, or the port failed under it
  SaveUnconfirmed,   // the written image was neither confirmed nor refused
  SaveFailed,        // "ERR2": the controller found the image damaged
  WriteIncomplete,   // confirmed before the whole image had gone over
  ReadIncomplete,    // ended before the whole image had come
  PortLost,          // the port's device went away
};

// The operator's words for an outcome, a sentence starting with a capital.
QString outcomeText(ExchangeOutcome outcome);
// The words for what a watchdog reports; empty for None and StateDone, which report nothing.
QString outcomeText(WatchdogReason reason);
