// Keeps exceptions away from the installer engine: the body of every export
// runs inside GuardAction, which logs and returns the given failure result.
#pragma once

#include <exception>

#include "frame/Log.h"

template <typename Result, typename Body>
Result GuardAction(const wchar_t* actionName, Result onFailure, Body body) noexcept {
  const LogFolderScope logFolder;
  try {
    return body();
  } catch (const std::exception& e) {
    try {
      InstallLog(L"%s : ended after an unexpected error: %s", actionName, logdetail::WidenBytes(e.what()).c_str());
    } catch (...) {
      // Out of memory even for the message: the result still tells the engine.
    }
  } catch (...) {
    InstallLog(L"%s : ended after an unexpected error", actionName);
  }
  return onFailure;
}

template <typename Body>
void GuardAction(const wchar_t* actionName, Body body) noexcept {
  GuardAction(actionName, 0, [&body] {
    body();
    return 0;
  });
}
