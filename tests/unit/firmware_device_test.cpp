#include "launcher/services/firmware_device.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/file_api.h"
#include "common/win_errors.h"
#include "tests/fixtures/launcher_test.h"

namespace tavu::test {
namespace {

class FirmwareDeviceTest : public LauncherTest {
 protected:
  void CloseDevice() {
    if (IsValidHandle(g_firmwareDevice)) Sys().files->Close(g_firmwareDevice);
    g_firmwareDevice = nullptr;
  }
};

TEST_F(FirmwareDeviceTest, OpensTheControlDeviceByName) {
  EXPECT_FALSE(OpenFirmwareDevice());
  EXPECT_EQ(g_firmwareDevice, kInvalidHandle);  // the failed open is stored too
  machine().firmware().SetPresent(true);
  EXPECT_TRUE(OpenFirmwareDevice());
  EXPECT_TRUE(IsValidHandle(g_firmwareDevice));
  EXPECT_EQ(machine().firmware().opens(), (std::vector<std::wstring>{L"\\\\.\\QVXACPI", L"\\\\.\\QVXACPI"}));
  CloseDevice();
  machine().firmware().SetOpenError(kErrorAccessDenied);
  EXPECT_FALSE(OpenFirmwareDevice());
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(FirmwareDeviceTest, SendsTheTwelveByteBstsRequest) {
  machine().firmware().SetPresent(true);
  ASSERT_TRUE(OpenFirmwareDevice());
  std::int32_t status = -1;
  ASSERT_TRUE(QueryRecoveryStatus(&status));
  auto requests = machine().firmware().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, 0x0022240Cu);
  EXPECT_EQ(requests[0].input, (std::vector<std::uint8_t>{0x42, 0x53, 0x54, 0x53, 4, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(requests[0].outputCapacity, 1024u);
  CloseDevice();
}

TEST_F(FirmwareDeviceTest, StatusIsTheFirstFourReplyBytes) {
  machine().firmware().SetPresent(true);
  const struct {
    std::vector<std::uint8_t> reply;
    std::int32_t expected;
  } cases[] = {
      {{}, 0},
      {{9}, 0},
      {{9, 0}, 0},
      {{9, 0, 0}, 0},
      {{9, 0, 0, 0}, 9},
      {{1, 0, 0, 0}, 1},
      {{0x09, 0x01, 0x00, 0x00}, 0x109},
      {{0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {{9, 0, 0, 0, 7}, 9},
      {{2, 0, 0, 0, 9, 0, 0, 0}, 2},
      {{9, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD}, 9},
  };
  for (const auto& c : cases) {
    machine().firmware().SetReply(c.reply);
    ASSERT_TRUE(OpenFirmwareDevice());
    std::int32_t status = -7;
    EXPECT_TRUE(QueryRecoveryStatus(&status)) << c.reply.size() << " bytes";
    EXPECT_EQ(status, c.expected) << c.reply.size() << " bytes";
    CloseDevice();
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(FirmwareDeviceTest, NoDeviceOrFailedRequestLeavesTheStatusAlone) {
  machine().firmware().SetPresent(true);
  machine().firmware().SetReplyStatus(9);
  std::int32_t status = 42;
  for (Handle none : {static_cast<Handle>(nullptr), kInvalidHandle}) {
    g_firmwareDevice = none;
    EXPECT_FALSE(QueryRecoveryStatus(&status));
  }
  EXPECT_EQ(machine().firmware().controlCalls(), 0u);  // nothing was sent
  ASSERT_TRUE(OpenFirmwareDevice());
  machine().firmware().SetRequestError(kErrorGenFailure);
  EXPECT_FALSE(QueryRecoveryStatus(&status));
  EXPECT_EQ(status, 42);
  CloseDevice();
}

TEST_F(FirmwareDeviceTest, CopiesNoMoreThanTheCallerHasRoomFor) {
  machine().firmware().SetPresent(true);
  machine().firmware().SetReply({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(OpenFirmwareDevice());
  const struct {
    std::uint32_t capacity;
    std::uint32_t copied;
  } cases[] = {{0, 0}, {3, 3}, {8, 8}, {16, 8}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> out(20, 0xEE);
    std::uint32_t capacity = c.capacity;
    EXPECT_TRUE(CallFirmwareMethod(0, &capacity, out.data()));
    EXPECT_EQ(capacity, c.copied);
    for (std::uint32_t i = 0; i < 20; ++i) {
      EXPECT_EQ(out[i], i < c.copied ? i + 1 : 0xEE) << "capacity " << c.capacity << " byte " << i;
    }
  }
  CloseDevice();
}

}  // namespace
}  // namespace tavu::test
