#include "cli/EmulatedBox.h"

namespace kestrel::cli {

// No pseudo-terminals here: nothing serves a line.
struct EmulatedBox::Line {};

EmulatedBox::EmulatedBox(const EmulatedScenario& scenario) : scenario_(scenario) {}

EmulatedBox::~EmulatedBox() = default;

bool EmulatedBox::Start() { return StartOverUsb(); }

}  // namespace kestrel::cli
