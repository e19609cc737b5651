// Portable equivalents of the Windows records the logic reads and writes, with
// the same field names, sizes and offsets as the SDK's (checked below, and
// against the SDK's own types in the Win32 binding).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(Guid) == 16);

inline constexpr std::uint32_t PARTITION_STYLE_MBR = 0;
inline constexpr std::uint32_t PARTITION_STYLE_GPT = 1;
inline constexpr std::uint32_t PARTITION_STYLE_RAW = 2;

struct PARTITION_INFORMATION_MBR {
  std::uint8_t PartitionType;
  std::uint8_t BootIndicator;
  std::uint8_t RecognizedPartition;
  std::uint8_t pad0;
  std::uint32_t HiddenSectors;
  Guid PartitionId;
};

struct PARTITION_INFORMATION_GPT {
  Guid PartitionType;
  Guid PartitionId;
  alignas(8) std::uint64_t Attributes;
  std::uint16_t Name[36];  // UTF-16, whatever wchar_t is on this platform
};
static_assert(sizeof(PARTITION_INFORMATION_GPT) == 112);

struct PARTITION_INFORMATION_EX {
  std::uint32_t PartitionStyle;
  alignas(8) std::int64_t StartingOffset;
  alignas(8) std::int64_t PartitionLength;
  std::uint32_t PartitionNumber;
  std::uint8_t RewritePartition;
  std::uint8_t IsServicePartition;
  union {
    PARTITION_INFORMATION_MBR Mbr;
    PARTITION_INFORMATION_GPT Gpt;
  };
};
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144);
static_assert(offsetof(PARTITION_INFORMATION_EX, StartingOffset) == 8);
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionLength) == 16);
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == 24);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == 32);

struct DRIVE_LAYOUT_INFORMATION_MBR {
  std::uint32_t Signature;
  std::uint32_t CheckSum;
};

struct DRIVE_LAYOUT_INFORMATION_GPT {
  Guid DiskId;
  alignas(8) std::int64_t StartingUsableOffset;
  alignas(8) std::int64_t UsableLength;
  std::uint32_t MaxPartitionCount;
};

struct DRIVE_LAYOUT_INFORMATION_EX {
  std::uint32_t PartitionStyle;
  std::uint32_t PartitionCount;
  union {
    DRIVE_LAYOUT_INFORMATION_MBR Mbr;
    DRIVE_LAYOUT_INFORMATION_GPT Gpt;
  };
  PARTITION_INFORMATION_EX PartitionEntry[1];
};
inline constexpr std::size_t kDriveLayoutHeaderSize = 48;
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == kDriveLayoutHeaderSize);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == 48 + 144);

// Room for the header and n entries.
constexpr std::size_t DriveLayoutSize(std::size_t entries) {
  return kDriveLayoutHeaderSize + entries * sizeof(PARTITION_INFORMATION_EX);
}
static_assert(DriveLayoutSize(101) == 14592);
static_assert(DriveLayoutSize(128) == 18480);

// Entry i of a layout that lies in a larger buffer (the record declares one).
inline PARTITION_INFORMATION_EX* LayoutEntry(DRIVE_LAYOUT_INFORMATION_EX* layout, std::size_t i) {
  return reinterpret_cast<PARTITION_INFORMATION_EX*>(reinterpret_cast<unsigned char*>(layout) +
                                                     kDriveLayoutHeaderSize) + i;
}
inline const PARTITION_INFORMATION_EX* LayoutEntry(const DRIVE_LAYOUT_INFORMATION_EX* layout,
                                                   std::size_t i) {
  return reinterpret_cast<const PARTITION_INFORMATION_EX*>(
             reinterpret_cast<const unsigned char*>(layout) + kDriveLayoutHeaderSize) + i;
}

inline constexpr std::uint32_t kMediaTypeRemovable = 11;  // RemovableMedia
inline constexpr std::uint32_t kMediaTypeFixed = 12;      // FixedMedia

struct DISK_GEOMETRY {
  alignas(8) std::int64_t Cylinders;
  std::uint32_t MediaType;
  std::uint32_t TracksPerCylinder;
  std::uint32_t SectorsPerTrack;
  std::uint32_t BytesPerSector;
};
static_assert(sizeof(DISK_GEOMETRY) == 24);

struct DISK_EXTENT {
  std::uint32_t DiskNumber;
  alignas(8) std::int64_t StartingOffset;
  alignas(8) std::int64_t ExtentLength;
};
static_assert(sizeof(DISK_EXTENT) == 24);

struct VOLUME_DISK_EXTENTS {
  std::uint32_t NumberOfDiskExtents;
  DISK_EXTENT Extents[1];
};
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8);
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32);

// Extent i of an answer that lies in a larger buffer.
inline DISK_EXTENT* ExtentAt(VOLUME_DISK_EXTENTS* extents, std::size_t i) {
  return reinterpret_cast<DISK_EXTENT*>(reinterpret_cast<unsigned char*>(extents) +
                                        offsetof(VOLUME_DISK_EXTENTS, Extents)) + i;
}
inline const DISK_EXTENT* ExtentAt(const VOLUME_DISK_EXTENTS* extents, std::size_t i) {
  return reinterpret_cast<const DISK_EXTENT*>(reinterpret_cast<const unsigned char*>(extents) +
                                              offsetof(VOLUME_DISK_EXTENTS, Extents)) + i;
}
// Room for the count and n extents.
constexpr std::size_t VolumeExtentsSize(std::size_t extents) {
  return offsetof(VOLUME_DISK_EXTENTS, Extents) + extents * sizeof(DISK_EXTENT);
}
static_assert(VolumeExtentsSize(101) == 2432);
static_assert(VolumeExtentsSize(257) == 6176);

inline constexpr std::uint32_t StorageAdapterProperty = 1;
inline constexpr std::uint32_t PropertyStandardQuery = 0;
inline constexpr std::uint8_t BusTypeUsb = 7;
inline constexpr std::uint8_t BusTypeSd = 12;

struct STORAGE_PROPERTY_QUERY {
  std::uint32_t PropertyId;
  std::uint32_t QueryType;
  std::uint8_t AdditionalParameters[1];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);

struct STORAGE_ADAPTER_DESCRIPTOR {
  std::uint32_t Version;
  std::uint32_t Size;
  std::uint32_t MaximumTransferLength;
  std::uint32_t MaximumPhysicalPages;
  std::uint32_t AlignmentMask;
  std::uint8_t AdapterUsesPio;
  std::uint8_t AdapterScansDown;
  std::uint8_t CommandQueueing;
  std::uint8_t AcceleratedTransfer;
  std::uint8_t BusType;
  std::uint16_t BusMajorVersion;
  std::uint16_t BusMinorVersion;
  std::uint8_t SrbType;
  std::uint8_t AddressType;
};
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) == 24);
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) == 32);

// GPT type GUIDs as stored in memory (first three groups little-endian).
inline constexpr std::uint8_t kBasicDataGuidBytes[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                                         0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
inline constexpr std::uint8_t kRecoveryGuidBytes[16] = {0xA4, 0xBB, 0x94, 0xDE, 0xD1, 0x06, 0x40, 0x4D,
                                                        0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC};

}  // namespace tavu
