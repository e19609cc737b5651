#include "common/disk_api.h"

#include "common/wide_text.h"

namespace tavu {

void PhysicalDriveName(int number, wchar_t (&name)[32]) {
  CopyBounded(name, 32, L"\\\\.\\PHYSICALDRIVE");
  wchar_t digit[2] = {static_cast<wchar_t>(L'0' + number), L'\0'};
  AppendBounded(name, 32, digit);
}

}  // namespace tavu
