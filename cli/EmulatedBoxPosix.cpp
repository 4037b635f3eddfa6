#include <cstring>
#include <thread>

#include "cli/EmulatedBox.h"
#include "emulator/BoxServer.h"

namespace kestrel::cli {

struct EmulatedBox::Line {
    std::unique_ptr<emulator::BoxServer> server;
    std::thread serving;
};

EmulatedBox::EmulatedBox(const EmulatedScenario& scenario) : scenario_(scenario) {}

EmulatedBox::~EmulatedBox() {
    if (line_ && line_->serving.joinable()) {
        line_->server->Stop();
        line_->serving.join();
    }
}

bool EmulatedBox::Start() { return scenario_.overUsb ? StartOverUsb() : StartOnLine(); }

bool EmulatedBox::StartOnLine() {
    emulator::BoxServerOptions options;
    options.stopAfterDownloads = 1;
    line_ = std::make_unique<Line>();
    line_->server = std::make_unique<emulator::BoxServer>(emulator::BoxModel(scenario_.behaviour), options);
    if (!line_->server->Start()) {
        error_ = std::strerror(line_->server->Error());
        return false;
    }
    linkName_ = line_->server->DevicePath();
    line_->serving = std::thread([this] { line_->server->Run(); });
    return true;
}

}  // namespace kestrel::cli
