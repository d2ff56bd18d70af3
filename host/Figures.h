// How the host shows figures to people: formatted text, byte counts and
// times.
#pragma once

#include <cstdint>
#include <string>

// printf-style text through the log's formatter (names given with %s are
// escaped, %llk is a byte count).
std::string formatted(const char* fmt, ...);
// "512 bytes", "1.5 KB", "23.4 MB", ...
std::string byteText(int64_t count);
// "YYYY-MM-DD HH:MM:SS" in local time, for seconds since the epoch.
std::string timeText(int64_t seconds);
