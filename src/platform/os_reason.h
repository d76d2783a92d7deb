#pragma once
// The operating system's error codes in Russian, free of Qt, for the layers
// that build their messages without Qt (the table engine). The widgets'
// side takes the same texts through osErrorText (platform/oserror.h).
#include <string>

// The reason an OS call failed with errno err, in Russian, as UTF-8.
std::string osReason(int err);
