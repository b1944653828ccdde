// Where both Windows programs look for the driver log.
#pragma once

#include <string>

// The Windows directory, "\" and "ndislog.txt"; the separator goes on even after a directory
// name that ends in one. Empty when the system names no Windows directory.
std::string DriverLogPath();
