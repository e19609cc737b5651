// Whether an image stands for a whole disk that the machine can present
// truthfully. An image cut short, one smaller than a sector, or one of a
// single partition would otherwise be presented as a disk without a
// recovery partition, and the technician sent off to restore one.
#pragma once

#include <string>

#include "sim/formats/disk_image.h"

namespace tavu::sim {

// "" for an image that can stand for a whole disk, else one sentence saying
// why not: shorter than one sector; an image of one partition (a file
// system's boot sector at byte 0 and no partition table) unless
// superfloppyAllowed (a USB stick or removable medium, which Windows
// presents as one volume); a partition, or the backup GPT, beyond the
// image's end; a GPT header only where a sector of the other size puts it.
std::string WholeDiskProblem(const DiskImage& image, bool superfloppyAllowed);

}  // namespace tavu::sim
