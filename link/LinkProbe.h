#pragma once
// A deliberate test seam: what tests and benchmarks may look at or set inside a link that the
// program itself never touches (the matchers, the timers, the counters, the read buffer).
// Program code talks to TLink only through its commands and signals.

#include "link/Link.h"
#include "link/LinkClock.h"

class TLinkProbe {
public:
  explicit TLinkProbe(TLink &link) : l_(link) {}
  TDataPacket &lineMatcher() const { return l_.port_->framers_.line; }   // ApdDataPacket1
  TDataPacket &byteMatcher() const { return l_.port_->framers_.byte; }   // ApdDataPacket2
  TLinkTimer &watchdog() const { return *l_.watchdog_; }                // Timer3
  TLinkTimer &rearmTick() const { return *l_.rearm_; }                  // Timer2
  TComPort &port() const { return *l_.port_; }                          // ApdComPort1
  std::int32_t replyCounter() const { return l_.replyCounter_; }
  WatchdogReason watchdogReason() const { return l_.reason_; }
  void setMode(LinkMode mode) const { l_.mode_ = mode; }
  bool delivering() const { return l_.port_->framers_.delivering(); }   // a handler holds input
  TPacketFramers &framers() const { return l_.port_->framers_; }
  ConfigImageBytes &incoming() const { return l_.incoming_; }           // where a read stores
  const ConfigImageBytes &outgoing() const { return l_.outgoing_; }     // what the last write sent
  // The handlers, called as the framers and timers call them.
  void ApdDataPacket1StringPacket(const QByteArray &line) const { l_.ApdDataPacket1StringPacket(line); }
  void ApdDataPacket2Packet(const std::uint8_t *data, int size) const { l_.ApdDataPacket2Packet(data, size); }
  void Timer2Timer() const { l_.Timer2Timer(); }
  void Timer3Timer() const { l_.Timer3Timer(); }

private:
  TLink &l_;
};
