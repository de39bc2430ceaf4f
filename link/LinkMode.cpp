#include "link/LinkMode.h"

QString linkModeText(LinkMode mode) {
  switch (mode) {
    case LinkMode::None: return {};
    case LinkMode::NO_PC: return QStringLiteral("NO_PC");
    case LinkMode::PC: return QStringLiteral("PC");
    case LinkMode::SAVE: return QStringLiteral("SAVE");
    case LinkMode::LOAD: return QStringLiteral("LOAD");
    case LinkMode::TIME: return QStringLiteral("TIME");
    case LinkMode::TM: return QStringLiteral("TM");
    case LinkMode::ID: return QStringLiteral("ID");
    case LinkMode::STATUS: return QStringLiteral("STATUS");
    case LinkMode::SEND_RS485: return QStringLiteral("SEND RS-485");
    case LinkMode::READ_RS485: return QStringLiteral("READ RS-485");
    case LinkMode::SETUP_RS485: return QStringLiteral("SETUP RS-485");
  }
  return {};
}

QString outcomeText(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::NoReply: return QStringLiteral("Контроллер не ответил");
    case ExchangeOutcome::TransferStalled: return QStringLiteral("Ошибка передачи");
    case ExchangeOutcome::SaveUnconfirmed: return QStringLiteral("Ошибка сохранения");
    case ExchangeOutcome::SaveFailed: return QStringLiteral("Ошибка CRC");
    case ExchangeOutcome::WriteIncomplete: return QStringLiteral("Конфигурация записана не полностью");
    case ExchangeOutcome::ReadIncomplete: return QStringLiteral("Конфигурация считана не полностью");
    case ExchangeOutcome::PortLost: return QStringLiteral("Связь с портом потеряна");
  }
  return {};
}

QString outcomeText(WatchdogReason reason) {
  switch (reason) {
    case WatchdogReason::NoReply:
    case WatchdogReason::StateNoReply: return outcomeText(ExchangeOutcome::NoReply);
    case WatchdogReason::TransferStalled: return outcomeText(ExchangeOutcome::TransferStalled);
    case WatchdogReason::SaveUnconfirmed: return outcomeText(ExchangeOutcome::SaveUnconfirmed);
    case WatchdogReason::None:
    case WatchdogReason::StateDone: break;
  }
  return {};
}
