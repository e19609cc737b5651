// The logon task that starts the launcher again with "/CHECK": registered when
// the firmware mode is switched on, removed when it is switched off.
#pragma once

namespace tavu {

inline constexpr wchar_t kTaskName[] = L"TAVU F9 Recovery";
// The operations' results. Callers may ignore them: the log has them too.
inline constexpr int kTaskDone = 0;
inline constexpr int kTaskFailed = 1;

// kTaskDone when the task was registered (replacing an earlier one).
int AddTask(const wchar_t* exePath);
// kTaskDone when the task was deleted; kTaskFailed also when there was none.
int DeleteTask();

}  // namespace tavu
