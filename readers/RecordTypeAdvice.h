#pragma once

#include <string>

namespace kestrel {

// What a user can do about a record type the reader refuses, `type` being the
// character after the 'S' ('3' for S3): what the type is, and that the box
// takes 24-bit S2 records, which the usual tools write without being asked.
std::string RecordTypeAdvice(char type);

// Whether a record of this type ends an S-record file: S7, S8 or S9.
bool IsEndRecordType(char type);

}  // namespace kestrel
