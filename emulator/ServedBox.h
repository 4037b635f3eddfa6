#pragma once

#include <string>
#include <thread>

#include "emulator/BoxServer.h"

namespace kestrel::emulator {

// A BoxServer served on a thread of its own for as long as this object lives:
// the destructor stops and joins it on every path, an early return included.
class ServedBox {
public:
    // Creates the line and starts serving it; Started() says whether that worked.
    explicit ServedBox(BoxModel model, BoxServerOptions options = {});
    ~ServedBox() = default;  // the thread's stop request stops the server, then it is joined
    ServedBox(const ServedBox&) = delete;
    ServedBox& operator=(const ServedBox&) = delete;

    bool Started() const { return started_; }
    // The errno of a failed start, or the failure that ended the serving.
    int Error() const { return server_.Error(); }
    std::string DevicePath() const { return server_.DevicePath(); }

    // Waits until the serving has ended (the download count reached, or the
    // server's give-up time passed) and returns Run's result; the server may be read then.
    int Wait();
    // Ends the serving now and returns Run's result.
    int Stop();
    // Only once Wait or Stop has returned.
    const BoxServer& Server() const { return server_; }

private:
    BoxServer server_;
    bool started_ = false;
    int result_ = 0;
    std::jthread serving_;  // last: it stops before the server goes
};

}  // namespace kestrel::emulator
