#include "app/LinkMenuEntries.h"

#include <QStringList>

namespace kestrel {

namespace {

QString FromLocal(const std::string& text) { return QString::fromLocal8Bit(text.data(), qsizetype(text.size())); }

QString HexId(std::uint16_t id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); }

}  // namespace

QList<LinkMenuEntry> FixedLinkMenuEntries() {
    QList<LinkMenuEntry> choices{{QStringLiteral("USB"), QStringLiteral("USB"), QString()}};
    for (int port = 1; port <= 8; ++port) {
        const QString name = QStringLiteral("COM%1").arg(port);
        choices.append({name, name, QString()});
    }
    return choices;
}

QList<LinkMenuEntry> DiscoveredLinkMenuEntries(const std::vector<SerialPortInfo>& ports) {
    QList<LinkMenuEntry> choices;
    for (const auto& port : ports) {
        if (port.kind == SerialPortKind::Builtin) {
            continue;
        }
        const QString name = FromLocal(port.LinkName());
        choices.append({name, name, DescribePort(port)});
    }
    return choices;
}

QList<LinkMenuEntry> UsbBoxMenuEntries(const std::vector<UsbDeviceInfo>& boxes) {
    QList<LinkMenuEntry> choices;
    for (const auto& box : boxes) {
        const QString serial = FromLocal(box.serialNumber);
        const QString name = QStringLiteral("USB:") + (serial.isEmpty() ? QString::number(box.index) : serial);
        QString tip = box.description.empty() ? QStringLiteral("USB box") : FromLocal(box.description);
        if (!serial.isEmpty()) {
            tip += QStringLiteral(" (serial ") + serial + QLatin1Char(')');
        }
        choices.append({name, name, tip + QStringLiteral(", USB device %1").arg(box.index)});
    }
    return choices;
}

std::vector<UsbDeviceInfo> ListUsbBoxes(UsbDriver& driver) {
    std::vector<UsbDeviceInfo> boxes;
    if (driver.ListDevices(boxes) != 0) {
        boxes.clear();  // no USB entries rather than no dialog
    }
    return boxes;
}

QString DescribePort(const SerialPortInfo& port) {
    QStringList who;
    if (!port.manufacturer.empty()) {
        who << FromLocal(port.manufacturer);
    }
    if (!port.product.empty()) {
        who << FromLocal(port.product);
    }
    QStringList ids;
    if (port.vendorId && port.productId) {
        ids << HexId(*port.vendorId) + QLatin1Char(':') + HexId(*port.productId);
    }
    if (!port.serialNumber.empty()) {
        ids << QStringLiteral("serial ") + FromLocal(port.serialNumber);
    }
    QString text = who.join(QLatin1Char(' '));
    if (!ids.isEmpty()) {
        text += (text.isEmpty() ? QStringLiteral("(") : QStringLiteral(" (")) + ids.join(QStringLiteral(", ")) +
                QLatin1Char(')');
    }
    const QString device = FromLocal(port.devicePath);
    return text.isEmpty() ? device : text + QStringLiteral(" on ") + device;
}

}  // namespace kestrel
