#pragma once

#include <string>

namespace Kiv {

using String = std::string;

// printf-style formatting into a String.
String format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Kiv
