// The logon task that starts the launcher again with "/CHECK": registered when
// the firmware mode is switched on, removed when it is switched off.
#pragma once

namespace tavu {

inline constexpr wchar_t kTaskName[] = L"TAVU F9 Recovery";

// 0 when the task was registered (replacing an earlier one), 1 otherwise.
int AddTask(const wchar_t* exePath);
// 0 when the task was deleted, 1 otherwise (also when there was none).
int DeleteTask();

}  // namespace tavu
