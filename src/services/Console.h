#pragma once
// Diagnostics go to standard output and nowhere else; each line is written
// whole and flushed, so lines from several threads never interleave.
#include <string_view>

namespace services {

void consoleLine(std::string_view line);

}  // namespace services
