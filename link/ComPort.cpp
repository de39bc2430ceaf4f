#include "link/ComPort.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPort>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif
#ifdef Q_OS_UNIX
#include <unistd.h>
#include <cerrno>
#endif
#include <QSignalBlocker>
#include <algorithm>

#include "link/PortNames.h"
#include "link/PortTrouble.h"

// ---- TQtSerialIo ----

// The operator reads the reason in Russian; Qt's own words follow for the technician.
QString describePortFailure(int errorCode, const QString &device, const QString &qt) {
  const auto error = static_cast<QSerialPort::SerialPortError>(errorCode);
  QString what;
  switch (error) {
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
      // Qt says the same for missing rights and for a port another program holds; the system
      // can tell them apart, and each has its own remedy.
      return PortTrouble::explain(PortTrouble::factsFor(device)) + QStringLiteral("\n(") + qt +
             QLatin1Char(')');
#else
      what = QStringLiteral("Нет доступа к %1: порт занят другой программой или не хватает прав.");
      break;
#endif
    case QSerialPort::DeviceNotFoundError:
      what = QStringLiteral("Устройство %1 не найдено.");
      break;
    case QSerialPort::OpenError:
      what = QStringLiteral("Порт %1 уже открыт.");
      break;
    case QSerialPort::ResourceError:
      what = QStringLiteral("Устройство %1 отключено или недоступно.");
      break;
    case QSerialPort::UnsupportedOperationError:   // at open: no terminal settings to be had
      what = QStringLiteral("Устройство %1 не является последовательным портом.");
      break;
    default:
      what = QStringLiteral("Ошибка устройства %1.");
      break;
  }
  return what.arg(device) + QStringLiteral("\n(") + qt + QLatin1Char(')');
}

TQtSerialIo::TQtSerialIo(QObject *parent) : TSerialIo(parent), port_(new QSerialPort(this)) {
  port_->setReadBufferSize(TComPort::kBufferSize);
  connect(port_, &QSerialPort::readyRead, this, &TSerialIo::readyRead);
  connect(port_, &QSerialPort::errorOccurred, this,
          [this](QSerialPort::SerialPortError e) { onError(static_cast<int>(e)); });
}

TQtSerialIo::~TQtSerialIo() = default;

bool TQtSerialIo::open(const QString &device) {
  if (port_->isOpen()) port_->close();
  if (openCheck_ && !openCheck_(device)) {
    lastError_ = describePortFailure(int(QSerialPort::PermissionError), device, QString());
    return false;
  }
  QString location = device;
#ifndef Q_OS_WIN
  // A virtual port is a link; open what it points at so lock files name the real device. (On
  // Windows a port name is no file to look at.)
  const QFileInfo fi(device);
  if (fi.isSymLink()) {
    const QString target = fi.canonicalFilePath();
    if (!target.isEmpty()) location = target;
  }
#endif
  port_->setPortName(location);
  port_->setBaudRate(QSerialPort::Baud9600);
  port_->setDataBits(QSerialPort::Data8);
  port_->setParity(QSerialPort::NoParity);
  port_->setStopBits(QSerialPort::OneStop);
  port_->setFlowControl(QSerialPort::NoFlowControl);
  {
    // onError() clears the errors it takes for harmless once the port is open; during the open
    // they are the reason, so it must not see them.
    const QSignalBlocker quiet(port_);
    if (!port_->open(QIODevice::ReadWrite)) {
      lastError_ = describePortFailure(int(port_->error()), device, port_->errorString());
      port_->clearError();
      return false;
    }
    // A port without modem lines refuses these: a pseudo-terminal, Bluetooth serial ports and
    // some converters on Windows, each with an error code of its own. The port works without
    // them, so a refusal here is never taken for a lost device.
    port_->setDataTerminalReady(false);
    port_->setRequestToSend(false);
  }
  // Announcements that piled up before the port was ours would each be answered, and every
  // answer brings another version line, which ends whatever exchange is running by then.
  port_->clear(QSerialPort::Input);
  port_->clearError();
  askLowLatency();
  lastError_.clear();
  return true;
}

void TQtSerialIo::askLowLatency() {
#ifdef Q_OS_LINUX
  // A write waits for one acknowledgement per byte. USB adapters hold received bytes for their
  // latency timer (16 ms on FTDI chips) unless the driver is asked for low latency, which
  // stretches a 9-second write to over a minute. Drivers that do not know the flag refuse it,
  // and that is no failure.
  const int fd = int(port_->handle());
  serial_struct ss{};
  if (fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &ss);
  }
#endif
}

void TQtSerialIo::close() {
  if (port_->isOpen()) port_->close();
  port_->clearError();
}

bool TQtSerialIo::isOpen() const { return port_->isOpen(); }

QByteArray TQtSerialIo::read(qint64 maxSize) {
  if (!port_->isOpen()) return {};
#ifdef Q_OS_WIN
  // A read past what is buffered is what restarts QSerialPort's next read from the driver on
  // Windows; without it a port under a paced write is soon reported as an invalid handle.
  return port_->read(maxSize);
#else
  // Only what is there: QIODevice::read(n) allocates n bytes first, and during a transfer a
  // drain reads one byte and then finds nothing, twice a round trip.
  const qint64 n = std::min(maxSize, port_->bytesAvailable());
  if (n <= 0) return {};
  return port_->read(n);
#endif
}

bool TQtSerialIo::write(const QByteArray &data) {
  if (!port_->isOpen()) return false;
#ifdef Q_OS_UNIX
  // Straight to the device while nothing waits in QSerialPort's queue: its own path switches
  // the write notifier on for every byte and off again on the next loop pass, and each switch
  // wakes the event loop once more. A transfer sends one byte per acknowledgement, so that
  // doubled the loop's work per byte.
  QByteArray rest = data;
  if (port_->bytesToWrite() == 0) {
    ssize_t n;
    do n = ::write(int(port_->handle()), data.constData(), std::size_t(data.size()));
    while (n < 0 && errno == EINTR);
    if (n == data.size()) return true;
    // A real error: QSerialPort meets it again and reports it as it always has.
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return queue(data, true);
    if (n > 0) rest = data.mid(n);
  }
  // The device is full for now, or earlier bytes still wait: these wait behind them and go out
  // as the device takes them. Pushing now would only meet the full device again, which Qt
  // takes for a vanished one and closes the port.
  return queue(rest, false);
#else
  return queue(data, true);
#endif
}

bool TQtSerialIo::queue(const QByteArray &data, bool push) {
  if (port_->write(data) != data.size()) {
    lastError_ = port_->errorString();
    return false;
  }
  if (push) port_->flush();   // hand it to the device now instead of on the next loop pass
  return true;
}

QString TQtSerialIo::errorString() const { return lastError_; }

void TQtSerialIo::onError(int error) {
  switch (static_cast<QSerialPort::SerialPortError>(error)) {
    case QSerialPort::NoError:   // clearError() reports this one; nothing to do
      return;
    case QSerialPort::UnsupportedOperationError:   // modem lines of a pseudo-terminal
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
      port_->clearError();
      return;
    default:
      break;
  }
  if (!port_->isOpen()) return;   // open failures are reported by open()
  // What arrived before the failure is still in the port's buffer: hand it over first, as the
  // controller's last lines matter (closing the port would throw them away).
  if (port_->bytesAvailable() > 0) emit readyRead();
  if (!port_->isOpen()) return;
  lastError_ = describePortFailure(error, port_->portName(), port_->errorString());
  // Closing stops the read notifier, so a dead descriptor cannot spin the event loop.
  port_->close();
  port_->clearError();
  emit failed(lastError_);
}

// ---- TComPort ----

TComPort::TComPort(QObject *parent, std::unique_ptr<TSerialIo> io)
    : QObject(parent), io_(io ? std::move(io) : std::make_unique<TQtSerialIo>()) {
  connect(io_.get(), &TSerialIo::readyRead, this, &TComPort::drain);
  connect(io_.get(), &TSerialIo::failed, this, &TComPort::onFailed);
}

TComPort::~TComPort() {
  // The framers' handlers point into the owner; nothing may be delivered while dying.
  framers_.onLine = nullptr;
  framers_.onByte = nullptr;
  io_->disconnect(this);
  io_->close();
}

bool TComPort::openDevice(const QString &device, QString *reason) {
  close();
  // Bytes of the port before are no part of what the next one says.
  framers_.discardInput();
  ++generation_;
  if (!io_->open(device)) {
    if (reason) *reason = io_->errorString();
    return false;
  }
  device_ = device;
  return true;
}

void TComPort::close() {
  io_->close();
  device_.clear();
}

bool TComPort::isOpen() const { return io_->isOpen(); }

bool TComPort::sendText(const QByteArray &text) {
  if (!io_->isOpen()) {
    lastError_ = QStringLiteral("Порт не открыт");
    return false;
  }
  if (text.isEmpty() || io_->write(text)) return true;
  lastError_ = io_->errorString();
  if (lastError_.isEmpty()) lastError_ = QStringLiteral("Устройство не приняло данные");
  return false;
}

void TComPort::drain() {
  // Inside a delivery (a handler's modal box included) the data stays in the port; the drain
  // further up the stack reads it once the handler has returned.
  if (draining_ || framers_.delivering()) return;
  draining_ = true;
  struct Reset {
    bool &f;
    ~Reset() { f = false; }
  } reset{draining_};
  // Qt does not signal again for data that came in while a slot of this signal ran, so read
  // until nothing is left rather than one chunk per signal.
  while (io_->isOpen()) {
    const QByteArray chunk = io_->read(kBufferSize);
    if (chunk.isEmpty()) break;
    framers_.feed(chunk);
  }
}

void TComPort::onFailed(const QString &reason) {
  device_.clear();
  const quint64 gen = generation_;
  QMetaObject::invokeMethod(
      this,
      [this, gen, reason] {
        if (gen == generation_ && !io_->isOpen()) emit portLost(reason);
      },
      Qt::QueuedConnection);
}
