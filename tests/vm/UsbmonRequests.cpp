// usbmon-requests FILE.pcap: the vendor control requests and bulk-OUT writes the
// host sent to a device, one line each in order, from a capture in Linux usbmon
// format (what QEMU writes for a USB device's pcap=), for the rig's shell to match:
//   ctrl REQUEST VALUE INDEX      (hexadecimal, as the setup packet holds them)
//   modem dtr=D rts=R             (the modem request folded into the lines' state, ? unknown)
//   out FIRST-BYTE LENGTH
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::uint32_t Le(const std::vector<unsigned char>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    std::ifstream in(argc == 2 ? argv[1] : "", std::ios::binary);
    const std::vector<unsigned char> b{std::istreambuf_iterator<char>(in), {}};
    // 189: the 48-byte usbmon header; 220: the 64-byte one of the mmapped interface.
    if (b.size() < 24 || Le(b, 0, 4) != 0xa1b2c3d4 || (Le(b, 20, 4) != 189 && Le(b, 20, 4) != 220)) {
        std::fprintf(stderr, "usbmon-requests: %s is no usbmon capture\n", argc == 2 ? argv[1] : "(none)");
        return 1;
    }
    const std::size_t header = Le(b, 20, 4) == 220 ? 64 : 48;
    char dtr = '?', rts = '?';
    for (std::size_t at = 24; at + 16 <= b.size();) {
        const std::size_t length = Le(b, at + 8, 4), p = at + 16;
        at = p + length;
        if (length < header || at > b.size() || b[p + 8] != 'S')
            continue;
        const unsigned char transfer = b[p + 9], endpoint = b[p + 10];
        const std::uint32_t value = Le(b, p + 42, 2);
        if (transfer == 2 && b[p + 14] == 0 && b[p + 40] == 0x40 && b[p + 41] == 1) {
            // The high byte says which lines the low byte sets: bit 0 DTR, bit 1 RTS.
            dtr = (value & 0x100) != 0 ? static_cast<char>('0' + (value & 1)) : dtr;
            rts = (value & 0x200) != 0 ? static_cast<char>('0' + ((value >> 1) & 1)) : rts;
            std::printf("modem dtr=%c rts=%c\n", dtr, rts);
        } else if (transfer == 2 && b[p + 14] == 0 && b[p + 40] == 0x40)
            std::printf("ctrl %x %x %x\n", b[p + 41], value, Le(b, p + 44, 2));
        else if (transfer == 3 && (endpoint & 0x80) == 0 && length > header)
            std::printf("out %02x %zu\n", b[p + header], length - header);
    }
    return 0;
}
