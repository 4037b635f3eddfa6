#pragma once

#include <ftdi.h>

#include <memory>

// The attached FTDI devices as libftdi1 finds them, each listing in a libusb
// context of its own: the driver lists, counts and opens through it, and an
// opened device keeps the listing's context as its own.
namespace kestrel::ftdi_listing {

struct ContextDeleter {
    void operator()(ftdi_context* context) const { ftdi_free(context); }
};
using ContextPtr = std::unique_ptr<ftdi_context, ContextDeleter>;

struct DeviceListDeleter {
    void operator()(ftdi_device_list* list) const { ftdi_list_free(&list); }
};
using DeviceListPtr = std::unique_ptr<ftdi_device_list, DeviceListDeleter>;

// The attached FTDI devices with the chip's default ids, found through a fresh
// context. `found` is negative (libftdi1's status) or the number of devices.
struct Listing {
    ContextPtr context;
    DeviceListPtr list;
    int found = 0;
};

Listing FindDevices();

}  // namespace kestrel::ftdi_listing
