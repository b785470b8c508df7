#pragma once

#ifdef __cplusplus
extern "C" {
#endif
__declspec(dllimport) void RecordPinletEvent(const wchar_t* text);
#ifdef __cplusplus
}
#endif
