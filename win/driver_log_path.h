// Where both Windows programs look for the driver log.
#pragma once

// The Windows directory, "\" and "ndislog.txt", in a block from malloc that the caller
// releases with free; null when the system names no Windows directory or memory runs out.
// The separator goes on even after a directory name that ends in one.
char* NewDriverLogPath();
