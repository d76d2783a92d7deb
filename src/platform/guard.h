#pragma once
// Runs a handler body so that no error crosses the event loop: an error that
// escapes it is shown in the application's default error box.
#include <functional>
#include <string>

// Returns true when the body ended normally.
bool guarded(const std::function<void()>& body);

// The text the default error box shows for the current exception (call only
// inside a catch block).
std::string currentErrorText();
