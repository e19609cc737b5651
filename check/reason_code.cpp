#include "check/reason_code.h"

namespace tavu::check {

namespace {

// In the order of the enumeration, whose numbers the event IDs carry.
constexpr const char* kWords[kReasonCodeCount] = {
    nullptr,
    "armed",
    "half-armed",
    "manufacturer-refused",
    "bitlocker-protected",
    "journal-untrusted",
    "journal-unreadable",
    "partition-table-unreadable",
    "no-recovery-partition",
    "listing-not-made",
    "listing-unreadable",
    "winre-disabled",
    "no-recovery-entry",
    "image-missing",
    "image-not-wim",
    "sdi-missing",
    "no-boot-signature",
    "recovery-label-wrong",
    "recovery-label-unreadable",
    "bitlocker-locked",
    "winre-location-mismatch",
    "winre-on-windows-volume",
    "listing-invalid",
};

int Index(ReasonCode code) {
  const int i = static_cast<int>(code);
  return i >= 0 && i < kReasonCodeCount ? i : 0;
}

}  // namespace

const char* ReasonCodeWord(ReasonCode code) { return kWords[Index(code)]; }

std::uint32_t EventId(bool ready, ReasonCode code) {
  return static_cast<std::uint32_t>((ready ? 1000 : 2000) + Index(code));
}

EventKind EventKindOf(bool ready, ReasonCode code) {
  if (!ready) return EventKind::Error;
  return Index(code) == 0 ? EventKind::Information : EventKind::Warning;
}

const char* EventKindWord(EventKind kind) {
  switch (kind) {
    case EventKind::Warning:
      return "warning";
    case EventKind::Error:
      return "error";
    case EventKind::Information:
      break;
  }
  return "information";
}

}  // namespace tavu::check
