#include "common/disk_api.h"

#include "common/heap_block.h"
#include "common/platform.h"
#include "common/wide_text.h"

namespace tavu {

void PhysicalDriveName(int number, wchar_t (&name)[32]) {
  CopyBounded(name, 32, L"\\\\.\\PHYSICALDRIVE");
  wchar_t digit[2] = {static_cast<wchar_t>(L'0' + number), L'\0'};
  AppendBounded(name, 32, digit);
}

bool IsUsbDisk(Handle disk) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAdapterProperty;
  query.QueryType = PropertyStandardQuery;
  HeapBlock answer = HeapBlock::Zeroed(kAdapterAnswerBytes);
  if (!answer || !Sys().disks->QueryProperty(disk, &query, answer.get(), kAdapterAnswerBytes)) return false;
  return answer.As<STORAGE_ADAPTER_DESCRIPTOR>()->BusType == BusTypeUsb;
}

}  // namespace tavu
