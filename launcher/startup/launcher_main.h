// The launcher's start-up: single instance, COM, the manufacturer gate, the
// switches and the one mode a run executes. The few Windows calls that only
// start-up makes come through StartupApi, so the whole sequence runs on the
// simulated machine too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/startup_api.h"

namespace tavu {

inline constexpr std::size_t kResourceTextChars = 100;
inline constexpr std::uint32_t kStringWindowTitle = 103;      // "TAVUF9Recovery"
inline constexpr std::uint32_t kStringWindowClassName = 109;  // "TAVUF9RECOVERY"
inline constexpr wchar_t kInstanceMutexName[] = L"TAVU F9 Recovery";
// The private namespace that holds the instance mutex: only a process with
// the Administrators group enabled can make or open one of this boundary, so
// no process of a standard user can hold the name first. Its alias prefixes
// the names in it: "TavuRecovery\TAVU F9 Recovery".
inline constexpr wchar_t kInstanceNamespace[] = L"TavuRecovery";

// Loaded by start-up before the window class is registered; the window uses them.
extern wchar_t g_windowTitle[kResourceTextChars];
extern wchar_t g_windowClassName[kResourceTextChars];

// wWinMain after the platform is installed. commandLine is the line without
// the program name (null counts as empty); it is read, never written. Returns
// the process exit code.
int LauncherMain(StartupApi& api, void* instance, const wchar_t* commandLine, int showCommand);

}  // namespace tavu
