#pragma once
// The link's state names. LinkMode's names are the protocol's own texts.

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
  NoReply = 1,          // a main-window command got no reply: "Контроллер не ответил"
  TransferStalled = 2,  // a transfer's byte phase stopped: "Ошибка передачи"
  SaveUnconfirmed = 3,  // no "SAVE_OK"/"ERR2" after a write: "Ошибка сохранения"
  StateNoReply = 4,     // a state-window command got no reply
  StateDone = 5,        // a state-window reply is complete
};
