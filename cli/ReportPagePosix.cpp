#include "cli/ReportPage.h"

namespace kestrel::cli {

const char* CsvStart() { return ""; }

}  // namespace kestrel::cli
