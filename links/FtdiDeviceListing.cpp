#include "links/FtdiDeviceListing.h"

namespace kestrel::ftdi_listing {

Listing FindDevices() {
    Listing listing;
    listing.context.reset(ftdi_new());
    if (!listing.context) {
        return listing;
    }
    ftdi_device_list* raw = nullptr;
    // Vendor and product 0 select the chip's default ids; a vendor with product 0 finds nothing.
    listing.found = ftdi_usb_find_all(listing.context.get(), &raw, 0, 0);
    listing.list.reset(raw);
    return listing;
}

}  // namespace kestrel::ftdi_listing
