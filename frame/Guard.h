// Keeps exceptions away from the installer engine: the body of every export
// runs inside GuardAction, which logs and returns the given failure result.
#pragma once

#include <exception>

#include "frame/Log.h"

template <typename Result, typename Body>
Result GuardAction(const wchar_t* actionName, Result onFailure, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    InstallLog(L"Unexpected error, ending the action:", e.what());
    InstallLog(L"%s : ended after an unexpected error", actionName);
  } catch (...) {
    InstallLog(L"%s : ended after an unexpected error", actionName);
  }
  return onFailure;
}

template <typename Body>
void GuardAction(const wchar_t* actionName, Body body) noexcept {
  try {
    body();
  } catch (...) {
    InstallLog(L"%s : ended after an unexpected error", actionName);
  }
}
