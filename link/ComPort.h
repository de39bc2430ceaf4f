#pragma once
// The main window's serial port (ApdComPort1) with its two framers. Received data goes to the
// framers only; nobody else reads the port. The raw I/O sits behind TSerialIo so that tests
// can stand a fake in for the device.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "link/Framers.h"

class QSerialPort;

// Why a port could not be opened or failed, for the operator: a QSerialPort::SerialPortError, the
// device's name and the system's own words.
QString describePortFailure(int serialPortError, const QString &device, const QString &systemText);

class TSerialIo : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;
  [[nodiscard]] virtual bool open(const QString &device) = 0;   // errorString() says why not
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  virtual QByteArray read(qint64 maxSize) = 0;    // what is buffered now, possibly nothing
  // Queues the bytes for transmission; false when they were not all taken (errorString() says why).
  [[nodiscard]] virtual bool write(const QByteArray &data) = 0;
  virtual QString errorString() const = 0;
signals:
  void readyRead();
  // The open device has gone or become unusable (unplugged adapter, closed pseudo-terminal).
  void failed(const QString &reason);
};

// QSerialPort at 9600 8N1, no flow control, DTR and RTS off, 4096-byte receive buffer.
class TQtSerialIo : public TSerialIo {
  Q_OBJECT
public:
  explicit TQtSerialIo(QObject *parent = nullptr);
  ~TQtSerialIo() override;
  bool open(const QString &device) override;
  void close() override;
  bool isOpen() const override;
  QByteArray read(qint64 maxSize) override;
  bool write(const QByteArray &data) override;
  QString errorString() const override;

  // Asked before every open with the device to open; a false answer refuses it. The test suites
  // install one that fails the test opening a device of the machine.
  using OpenCheck = bool (*)(const QString &device);
  static void setOpenCheck(OpenCheck check) { openCheck_ = check; }

private:
  static inline OpenCheck openCheck_ = nullptr;
  void onError(int error);
  void askLowLatency();
  // Into QSerialPort's queue; `push` hands it to the device at once.
  bool queue(const QByteArray &data, bool push);
  QSerialPort *port_;
  QString lastError_;
};

class TComPort : public QObject {
  Q_OBJECT
public:
  static constexpr int kBufferSize = 4096;

  explicit TComPort(QObject *parent = nullptr, std::unique_ptr<TSerialIo> io = nullptr);
  ~TComPort() override;

  // Opens the device. On failure returns false and puts the system's reason into *reason.
  bool openDevice(const QString &device, QString *reason = nullptr);
  void close();
  bool isOpen() const;
  QString device() const { return device_; }

  // Queued for transmission without waiting. False when no port is open or the device did not
  // take every byte; lastError() then says why.
  [[nodiscard]] bool sendText(const QByteArray &text);
  [[nodiscard]] bool sendText(const char *text) { return sendText(QByteArray(text)); }
  QString lastError() const { return lastError_; }

  TSerialIo *io() const { return io_.get(); }

signals:
  // Emitted from the event loop (never from inside a delivery) after the port has been closed
  // because its device vanished.
  void portLost(const QString &reason);

protected:
  // The line matcher framers_.line and the byte matcher framers_.byte: the link's alone (a test
  // client reaches them by deriving).
  TPacketFramers framers_;

private:
  friend class TLink;
  friend class TLinkProbe;
  void drain();
  void onFailed(const QString &reason);

  std::unique_ptr<TSerialIo> io_;
  QString device_;
  QString lastError_;
  bool draining_ = false;
  quint64 generation_ = 0;   // counts opens, so a late loss report never hits a newer port
};
