#pragma once
extern "C" __declspec(dllimport) void RecordPinletEvent(const wchar_t* text);
