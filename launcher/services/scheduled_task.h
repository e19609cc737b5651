// The logon task that starts the launcher again with "/CHECK": registered when
// the firmware mode is switched on, removed when it is switched off.
#pragma once

#include <cstdint>

namespace tavu {

inline constexpr wchar_t kTaskName[] = L"TAVU F9 Recovery";
// The operations' results. Callers may ignore them: the log has them too.
inline constexpr int kTaskDone = 0;
inline constexpr int kTaskFailed = 1;

// kTaskDone when the task was registered (replacing an earlier one).
int AddTask(const wchar_t* exePath);
// kTaskDone when the task was deleted; kTaskFailed also when there was none.
int DeleteTask();
// 1 when the task is registered, 0 otherwise; COM is entered and left as the
// two operations above do, nothing is changed and nothing is logged. *failure,
// when given, is the HRESULT of the step that failed (0 when the question was
// answered).
int IsTaskRegistered(std::int32_t* failure = nullptr);

}  // namespace tavu
