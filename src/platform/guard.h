#pragma once
// Runs a handler body so that no error crosses the event loop: an error that
// escapes it is shown in the application's default error box.
#include <QString>
#include <functional>
#include <string>

// The text of an error for the error box: Windows-1251, or UTF-8 where the
// text is valid UTF-8 (file paths from the file system).
QString errorTextToUnicode(const std::string& text);

// Returns true when the body ended normally.
bool guarded(const std::function<void()>& body);

// The text the default error box shows for the current exception (call only
// inside a catch block).
std::string currentErrorText();
