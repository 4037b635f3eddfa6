// kestrel-box: an emulated Kestrel box on a pseudo-terminal, for trying the
// tool and its scenarios without the hardware.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <CLI/CLI.hpp>

#include "emulator/BoxScenarios.h"
#include "emulator/BoxServer.h"

namespace {

kestrel::emulator::BoxServer* runningServer = nullptr;

extern "C" void StopOnSignal(int) {
    if (runningServer != nullptr) {
        runningServer->Stop();
    }
}

// A CLI11 check and conversion for options that take a stage word.
void AddStageOption(CLI::App& app, const std::string& name, std::optional<kestrel::emulator::BoxStage>& stage,
                    const std::string& help, bool refusable = false) {
    app.add_option_function<std::string>(
           name,
           [&stage, name, refusable](const std::string& word) {
               stage = kestrel::emulator::ParseStage(word);
               if (!stage) {
                   throw CLI::ValidationError(name, "not a stage: " + word);
               }
               if (refusable && !kestrel::emulator::Refusable(*stage)) {
                   throw CLI::ValidationError(name, "the box refuses only at " + kestrel::emulator::StageList(true));
               }
           },
           help + ": " + kestrel::emulator::StageList(refusable))
        ->type_name("STAGE");
}

void AddBytesOption(CLI::App& app, const std::string& name, std::vector<std::uint8_t>& bytes, const std::string& help) {
    app.add_option_function<std::string>(
           name,
           [&bytes, name](const std::string& text) {
               const auto parsed = kestrel::emulator::ParseBytes(text);
               if (!parsed) {
                   throw CLI::ValidationError(name, "not a list of hexadecimal bytes: " + text);
               }
               bytes = *parsed;
           },
           help + " (hexadecimal, e.g. 2a,00)")
        ->type_name("BYTES");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel::emulator;

    BoxBehaviour behaviour;
    BoxServerOptions options;
    int firmwareType = behaviour.firmwareType;
    std::string readBack;

    CLI::App app{
        "Emulates a Kestrel box on a pseudo-terminal. Prints the device to open, then serves downloads "
        "until interrupted."};
    app.add_option("--link", options.linkPath,
                   "Keep a symbolic link to the device at this path, which must not exist yet; removed at the end")
        ->type_name("PATH");
    app.add_option("--downloads", options.stopAfterDownloads, "Exit after this many downloads have ended")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--type", firmwareType, "Firmware type announced in answer to the sync request")
        ->check(CLI::Range(0, 255));
    AddBytesOption(app, "--stray-before-type", behaviour.strayBeforeType, "Bytes sent before the type byte");
    app.add_option("--retries", behaviour.retriesAfterLength, "'*' answers to the length or header before 'R'")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--unexpected", behaviour.unexpectedAfterLength, "0x00 answers to the length or header before 'R'")
        ->check(CLI::NonNegativeNumber);
    AddStageOption(app, "--refuse-at", behaviour.refuseAt, "Answer 'E' at this stage", true);
    AddBytesOption(app, "--stray-during-erase", behaviour.strayDuringErase, "Bytes sent before the erase answer");
    app.add_option("--read-back", readBack, "Ask for a read-back after the data (default: type 1 yes, type 2 no)")
        ->check(CLI::IsMember({"yes", "no"}));
    app.add_flag("--corrupt-read-back", behaviour.corruptReadBack, "One byte of the read-back differs");
    app.add_option("--short-read-back", behaviour.shortReadBack, "Bytes left off the end of the read-back");
    AddStageOption(app, "--silent-at", behaviour.silentAt, "Stop answering from this stage on");
    AddStageOption(app, "--hang-up-at", behaviour.hangUpAt, "Close the line at this stage (data: half-way through)");
    app.add_option("--erase-ms", behaviour.eraseMs, "How long the erase takes");
    app.add_option("--data-idle-ms", behaviour.dataIdleMs, "Type 2: the data block ends after this idle time");
    app.add_option("--save-image", options.saveImagePath,
                   "Write each image received whole to this file; a %d in it becomes the download's number")
        ->type_name("PATH");
    app.add_flag("--pace", options.paceAtLineRate,
                 "Pass bytes at the rate of the tool's line settings, as a real line would");
    CLI11_PARSE(app, argc, argv);

    behaviour.firmwareType = static_cast<std::uint8_t>(firmwareType);
    if (!readBack.empty()) {
        behaviour.readBack = readBack == "yes";
    }

    // Line settings and saved images go to stderr: stdout carries only the device.
    options.report = [](const std::string& message) { std::cerr << "kestrel-box: " << message << std::endl; };
    BoxServer server(BoxModel(behaviour), options);
    if (!server.Start()) {
        if (server.Error() == EEXIST) {
            std::cerr << "kestrel-box: " << options.linkPath
                      << " exists already and is not this box's: not replaced (remove it or choose another --link)\n";
        } else {
            std::cerr << "kestrel-box: cannot create the line: " << std::strerror(server.Error()) << '\n';
        }
        return 1;
    }
    runningServer = &server;
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::cout << server.DevicePath() << std::endl;
    const int error = server.Run();
    runningServer = nullptr;

    const BoxModel& model = server.Model();
    std::cerr << "kestrel-box: " << model.CompletedDownloads() << " download(s) received";
    if (model.CompletedDownloads() > 0) {
        std::cerr << ", the last " << model.LastImage().size() << " bytes";
        if (model.LastVerdict() != 0) {
            std::cerr << ", read-back answered '" << static_cast<char>(model.LastVerdict()) << "'";
        }
    }
    std::cerr << '\n';
    if (error != 0) {
        std::cerr << "kestrel-box: the line failed: " << std::strerror(error) << '\n';
        return 1;
    }
    return 0;
}
