#pragma once

#include <string>

namespace kestrel {

// Paths and texts are UTF-8 throughout the tool; Windows takes and gives UTF-16.
// Every call into Windows converts at the call, with these. Bytes that are not
// valid UTF-8 become U+FFFD rather than ending the text early.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

}  // namespace kestrel
