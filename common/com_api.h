// COM start-up and shut-down on the calling thread, and the HRESULT values the
// logic and the simulated machine speak.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult HResultOf(std::uint32_t bits) { return static_cast<HResult>(bits); }
inline constexpr HResult kEFail = HResultOf(0x80004005u);
inline constexpr HResult kENotImpl = HResultOf(0x80004001u);
inline constexpr HResult kEInvalidArg = HResultOf(0x80070057u);
inline constexpr HResult kEOutOfMemory = HResultOf(0x8007000Eu);
inline constexpr HResult kRpcETooLate = HResultOf(0x80010119u);
inline constexpr HResult kRpcEChangedMode = HResultOf(0x80010106u);
inline constexpr HResult kCoENotInitialized = HResultOf(0x800401F0u);
// HRESULT_FROM_WIN32 of ERROR_FILE_NOT_FOUND, ERROR_ALREADY_EXISTS and ERROR_BAD_EXE_FORMAT.
inline constexpr HResult kHResultFileNotFound = HResultOf(0x80070002u);
inline constexpr HResult kHResultAlreadyExists = HResultOf(0x800700B7u);
inline constexpr HResult kHResultBadExeFormat = HResultOf(0x800700C1u);
// HRESULT_FROM_WIN32(ERROR_NONE_MAPPED): "No mapping between account names and security IDs was done."
inline constexpr HResult kHResultNoneMapped = HResultOf(0x80070534u);
inline constexpr bool Succeeded(HResult hr) { return hr >= 0; }
inline constexpr bool Failed(HResult hr) { return hr < 0; }

// RPC_C_AUTHN_LEVEL_* and RPC_C_IMP_LEVEL_*.
inline constexpr std::uint32_t kAuthnLevelDefault = 0;
inline constexpr std::uint32_t kAuthnLevelCall = 3;
inline constexpr std::uint32_t kAuthnLevelPktPrivacy = 6;
inline constexpr std::uint32_t kImpLevelImpersonate = 3;

class ComApi {
 public:
  virtual ~ComApi() = default;

  // CoInitializeEx(NULL, COINIT_MULTITHREADED).
  virtual HResult InitializeMultithreaded() = 0;
  // CoInitialize(NULL): a single-threaded apartment.
  virtual HResult InitializeApartment() = 0;
  // CoInitializeSecurity(NULL, -1, NULL, NULL, authnLevel, impLevel, NULL,
  // EOAC_NONE, NULL): process-wide, once; later calls give RPC_E_TOO_LATE.
  virtual HResult InitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) = 0;
  // CoUninitialize.
  virtual void Uninitialize() = 0;
};

}  // namespace tavu
