#include "cli/EmulatedBox.h"

#include <utility>

#include "links/Clock.h"

namespace kestrel::cli {

namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;

struct NamedScenario {
    std::string name;
    EmulatedScenario scenario;
};

EmulatedScenario With(void (*change)(BoxBehaviour&)) {
    EmulatedScenario scenario;
    change(scenario.behaviour);
    return scenario;
}

const std::vector<NamedScenario>& Scenarios() {
    static const std::vector<NamedScenario> scenarios = [] {
        std::vector<NamedScenario> list = {
            {"ok", EmulatedScenario{}},
            {"usb", EmulatedScenario{.behaviour = {}, .overUsb = true}},
            {"type2", With([](BoxBehaviour& b) { b.firmwareType = 2; })},
            {"wrong-type", With([](BoxBehaviour& b) { b.firmwareType = 7; })},
            {"stray-bytes", With([](BoxBehaviour& b) {
                 b.strayBeforeType = {0x00, 0x55};
                 b.retriesAfterLength = 2;
                 b.unexpectedAfterLength = 1;
                 b.strayDuringErase = {0x00};
             })},
            {"no-read-back", With([](BoxBehaviour& b) { b.readBack = false; })},
            {"corrupt-read-back", With([](BoxBehaviour& b) { b.corruptReadBack = true; })},
            {"short-read-back", With([](BoxBehaviour& b) { b.shortReadBack = 100; })},
            {"slow-erase", With([](BoxBehaviour& b) { b.eraseMs = 3000; })},
        };
        const std::pair<const char*, BoxStage> stages[] = {{"sync", BoxStage::Sync},
                                                           {"length", BoxStage::Length},
                                                           {"erase", BoxStage::Erase},
                                                           {"data", BoxStage::Data},
                                                           {"read-back", BoxStage::ReadBack}};
        for (const auto& [word, stage] : stages) {
            if (stage == BoxStage::Length || stage == BoxStage::Erase || stage == BoxStage::Data) {
                EmulatedScenario refusing;
                refusing.behaviour.refuseAt = stage;
                list.push_back({std::string("refuse-") + word, refusing});
            }
        }
        for (const auto& [word, stage] : stages) {
            EmulatedScenario silent;
            silent.behaviour.silentAt = stage;
            list.push_back({std::string("silent-") + word, silent});
        }
        for (const auto& [word, stage] : stages) {
            EmulatedScenario hangingUp;
            hangingUp.behaviour.hangUpAt = stage;
            list.push_back({std::string("hang-up-") + word, hangingUp});
        }
        return list;
    }();
    return scenarios;
}

}  // namespace

std::optional<EmulatedScenario> FindScenario(const std::string& name) {
    for (const auto& named : Scenarios()) {
        if (named.name == name) {
            return named.scenario;
        }
    }
    return std::nullopt;
}

const std::vector<std::string>& ScenarioNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const auto& named : Scenarios()) {
            list.push_back(named.name);
        }
        return list;
    }();
    return names;
}

bool EmulatedBox::StartOverUsb() {
    driver_ = std::make_unique<emulator::SimulatedUsbDriver>(SteadyClock());
    driver_->AddDevice(emulator::SimulatedUsbDevice{.behaviour = scenario_.behaviour});
    linkName_ = "USB";
    return true;
}

}  // namespace kestrel::cli
