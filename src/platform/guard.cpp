#include "platform/guard.h"

#include <exception>

#include "platform/ansi.h"
#include "platform/dialogs.h"

std::string currentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

bool guarded(const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (...) {
    dialogs::error(ansi::toUnicode(currentErrorText()));
    return false;
  }
}
