#include "readers/RecordTypeAdvice.h"

namespace kestrel {

namespace {

const char* WhatTheTypeIs(char type) {
    switch (type) {
        case '1':
        case '9':
            return "S1 and S9 carry 16-bit addresses";
        case '3':
        case '7':
            return "S3 and S7 carry 32-bit addresses";
        case '4':
            return "S4 is reserved";
        case '6':
            return "S6 is a 24-bit record count";
        default:
            return "no such record type exists";
    }
}

}  // namespace

std::string RecordTypeAdvice(char type) {
    // The box's window, 0xE0000..0xFFFFF, needs 24 bits: a converter asked for
    // nothing special picks S2 for it; S3 comes only when forced.
    std::string advice = WhatTheTypeIs(type);
    advice +=
        "; the box takes 24-bit S2 records ending in S8, which objcopy writes by itself for addresses up to "
        "0xFFFFFF";
    if (type == '3' || type == '7') {
        advice += " (leave out --srec-forceS3)";
    }
    return advice;
}

bool IsEndRecordType(char type) { return type == '7' || type == '8' || type == '9'; }

}  // namespace kestrel
