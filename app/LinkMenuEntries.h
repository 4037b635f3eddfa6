#pragma once

#include <vector>

#include <QList>
#include <QString>

#include "links/SerialPortList.h"
#include "links/UsbDriver.h"

namespace kestrel {

// One entry of the link drop-down: what it shows, what a download opens.
struct LinkMenuEntry {
    QString text;
    QString linkName;
    QString toolTip;
};

// "USB" and "COM1" to "COM8", in this order.
QList<LinkMenuEntry> FixedLinkMenuEntries();

// The USB serial devices and modems among `ports`, by their stable names where
// they have one. The built-in ports are left out: COM1 to COM8 stand for them.
QList<LinkMenuEntry> DiscoveredLinkMenuEntries(const std::vector<SerialPortInfo>& ports);

// The USB boxes that `driver` lists, each by its serial number (by its index
// when it has none), so that a download opens that box and no other.
QList<LinkMenuEntry> UsbBoxMenuEntries(const std::vector<UsbDeviceInfo>& boxes);
std::vector<UsbDeviceInfo> ListUsbBoxes(UsbDriver& driver);

// "FTDI Kestrel Box (0403:6001, serial A1) on /dev/ttyUSB0", as much as is known.
QString DescribePort(const SerialPortInfo& port);

}  // namespace kestrel
