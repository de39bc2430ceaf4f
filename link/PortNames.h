#pragma once
// Names of the system's serial ports as the port picker shows them. The picker's rules need
// names whose text from the 4th character on is the port number, so on Linux every device gets
// a COM<n> name: ttyS<k> -> COM<k+1>, ttyUSB<k> -> COM<33+k>, ttyACM<k> -> COM<65+k>, any other
// serial device the next free number from 97. Virtual ports (symbolic links named COM<n> to a
// character device in the virtual-port folder) are listed too and win over a device of the
// same number.

#include <QList>
#include <QString>
#include <utility>

struct TPortEntry {
  TPortEntry() = default;
  // What every listed port has; the USB facts below only some.
  TPortEntry(QString name_, QString device_, QString description_ = {}, int number_ = 0)
      : name(std::move(name_)), device(std::move(device_)), description(std::move(description_)),
        number(number_) {}

  QString name;          // "COM3"
  QString device;        // what to open: "/dev/ttyUSB0", a virtual link, or "COM3" on Windows
  QString description;   // shown in the tooltip with the device
  int number = 0;
  // A USB adapter's identity, as far as the system tells it: vendor and product ids (when
  // `usbIds`) and the serial number (empty when it has none). The serial number finds the
  // adapter again when it comes back under another device path.
  bool usbIds = false;
  quint16 vendorId = 0;
  quint16 productId = 0;
  QString serialNumber;
};

namespace PortNames {

// $XDG_RUNTIME_DIR/serialcomm, or /tmp/serialcomm-<uid> when that variable is unset (made by
// systemPorts(), mode 0700, when missing).
QString virtualPortFolder();

// Number for a Linux device path by its kernel name; 0 when the name has no fixed number.
int fixedNumberForDevice(const QString &devicePath);

// Gives every device a name and merges the virtual ports in. `devices` need only device and
// description; the result is sorted for the picker.
QList<TPortEntry> assignNames(const QList<TPortEntry> &devices,
                              const QList<TPortEntry> &virtualPorts);

// Entries COM<n> of `folder` that are symbolic links to a character device. Nothing unless the
// folder is a real folder of this user that no group or other user can write into.
QList<TPortEntry> scanVirtualFolder(const QString &folder);

// The picker's order: alphabetical, ignoring case (so COM10 comes before COM2).
void sortForPicker(QList<TPortEntry> &entries);

// Everything the system offers now, sorted: its serial devices and the virtual ports.
QList<TPortEntry> systemPorts();

// The virtual ports alone, named and sorted as systemPorts() lists them.
QList<TPortEntry> virtualPorts();

// Where systemPorts() takes the machine's serial devices from (QSerialPortInfo unless replaced).
// Merely listing them opens every /dev/ttyS* on Linux, so the test suites replace it with one
// that fails the test asking. Returns the scan it replaces; null puts QSerialPortInfo back.
using DeviceScan = QList<TPortEntry> (*)();
DeviceScan setDeviceScan(DeviceScan scan);

// The integer written from the 4th character to the end ("COM12" -> 12). False when that part
// is not an integer.
bool portNumberFromText(const QString &text, int *number);

// The picker's tooltip: the device path, the description, then the USB ids and the serial
// number when known. Control characters in what the device reports about itself are dropped.
QString tooltipFor(const TPortEntry &entry);

// Where the device of `lost` is listed in `ports` now: the entry with the same USB serial
// number (and ids), else the one with the same device path unless that is plainly another
// adapter (both have serial numbers and they differ). -1 while it is not back.
qsizetype findReturned(const TPortEntry &lost, const QList<TPortEntry> &ports);

}  // namespace PortNames
