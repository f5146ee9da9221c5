// The two 8051 images that the loader writes into a bare EZ-USB part: the
// first-stage loader and the board firmware. Each is a run of data records in
// stored order, ended by one end record (type 1).
#pragma once

#include <cstddef>

#include <k27fw/FirmwareRecord.h>
// Record counts of the images built in (the generator writes them).
#include <k27fw/LoaderImageSizes.h>

extern const FirmwareRecord BoardFirmwareImage[kBoardFirmwareImageRecords];
extern const FirmwareRecord LoaderImage[kLoaderImageRecords];
// Stand-in records above internal memory, for the tests of the download's
// external-memory pass; not part of either image.
extern const FirmwareRecord ExternalMemoryTestImage[kExternalMemoryTestImageRecords];
