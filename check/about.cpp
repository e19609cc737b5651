#include "check/about.h"

#include "common/com_api.h"
#include "common/unique_handle.h"
#include "common/wmi_api.h"

#ifndef TAVU_CHECK_VERSION
#define TAVU_CHECK_VERSION "0.0.0.0"
#endif

namespace tavu::check {

namespace {

bool ReleaseWmiObject(Handle object) {
  Sys().wmi->Release(object);
  return true;
}
using WmiObject = UniqueHandleOf<&ReleaseWmiObject>;

void ReadModel(wchar_t* model) {
  WmiApi& wmi = *Sys().wmi;
  Handle raw = nullptr;
  if (Failed(wmi.Connect(L"ROOT\\CIMV2", &raw))) return;
  WmiObject services(raw);
  raw = nullptr;
  if (Failed(wmi.Query(services.get(), L"SELECT * FROM Win32_ComputerSystem", &raw))) return;
  WmiObject objects(raw);
  raw = nullptr;
  if (wmi.Next(objects.get(), &raw) != kSOk || !IsValidHandle(raw)) return;
  WmiObject system(raw);
  if (Failed(wmi.GetText(system.get(), L"Model", model, kPathChars))) model[0] = L'\0';
}

}  // namespace

const char* CheckVersion() { return TAVU_CHECK_VERSION; }

void ReadAbout(AboutFacts* about) {
  SystemApi& system = *Sys().system;
  about->zoned = system.ZonedNow(&about->utc, &about->time, &about->utcOffsetMinutes);
  if (!about->zoned) about->time = about->utc;
  if (!system.ComputerName(about->computer, kPathChars)) about->computer[0] = L'\0';
  about->hasVersion = system.WindowsVersion(&about->major, &about->minor, &about->build);
  ReadModel(about->model);
}

void ErrorTexts::Add(std::uint32_t error) {
  if (error == 0 || Find(error) != nullptr || count >= kRoom) return;
  Entry& e = entries[count];
  if (!Sys().system->ErrorText(error, e.text, kPathChars)) e.text[0] = L'\0';
  e.error = error;
  ++count;
}

const wchar_t* ErrorTexts::Find(std::uint32_t error) const {
  for (std::size_t i = 0; i < count && i < kRoom; ++i) {
    if (entries[i].error == error) return entries[i].text;
  }
  return nullptr;
}

void DescribeError(const ErrorTexts& texts, std::uint32_t error, wchar_t* out, std::size_t capacity) {
  const wchar_t* text = texts.Find(error);
  if (text != nullptr && text[0] != L'\0') {
    FormatBounded(out, capacity, L"%u (%ls)", static_cast<unsigned>(error), text);
  } else if (error >= 0x80000000u) {
    FormatBounded(out, capacity, L"0x%08X", static_cast<unsigned>(error));
  } else {
    FormatBounded(out, capacity, L"%u", static_cast<unsigned>(error));
  }
}

}  // namespace tavu::check
