#include "cli/ReportPage.h"

namespace kestrel::cli {

const char* CsvStart() { return "\xEF\xBB\xBF"; }

}  // namespace kestrel::cli
