#pragma once

#include <vector>

#include <QList>
#include <QString>

#include "links/SerialPortList.h"

namespace kestrel {

// One entry of the link drop-down: what it shows, what a download opens.
struct LinkChoice {
    QString text;
    QString linkName;
    QString toolTip;
};

// "USB" and "COM1" to "COM8", in this order.
QList<LinkChoice> FixedLinkChoices();

// The USB serial devices and modems among `ports`, by their stable names where
// they have one. The built-in ports are left out: COM1 to COM8 stand for them.
QList<LinkChoice> DiscoveredLinkChoices(const std::vector<SerialPortInfo>& ports);

// "FTDI Kestrel Box (0403:6001, serial A1) on /dev/ttyUSB0", as much as is known.
QString DescribePort(const SerialPortInfo& port);

}  // namespace kestrel
