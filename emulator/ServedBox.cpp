#include "emulator/ServedBox.h"

#include <stop_token>
#include <utility>

namespace kestrel::emulator {

ServedBox::ServedBox(BoxModel model, BoxServerOptions options) : server_(std::move(model), std::move(options)) {
    if (!server_.Start()) {
        result_ = server_.Error();
        return;
    }
    started_ = true;
    serving_ = std::jthread([this](const std::stop_token& stop) {
        const std::stop_callback stopServer(stop, [this] { server_.Stop(); });
        result_ = server_.Run();
    });
}

int ServedBox::Wait() {
    if (serving_.joinable()) {
        serving_.join();
    }
    return result_;
}

int ServedBox::Stop() {
    serving_.request_stop();
    return Wait();
}

}  // namespace kestrel::emulator
