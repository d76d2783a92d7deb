#pragma once
// The operating system's error codes in the program's language, for the
// messages that name a file or a connection.
#include <QString>

// The reason an OS call failed with errno err, in Russian.
QString osErrorText(int err);
