/** @file
  The comparison of the whole E2PROM with a loaded image, writing nothing.
**/
#ifndef UPDATE_IMAGE_COMPARE_H_
#define UPDATE_IMAGE_COMPARE_H_

#include "chip/TconChip.h"
#include "platform/Base.h"
#include "update/ImageFile.h"

// How a comparison ended.
struct IMAGE_COMPARE {
  CHIP_RESULT    Read;          // how reading the E2PROM ended; the counts below only with ChipDone
  UINT32         Differences;   // bytes that differ from the image
  UINT32         BytesReread;   // bytes whose reads differed
  BOOLEAN        CrcKnown;      // the two CRC-32 below were worked out
  UINT32         ImageCrc;
  UINT32         EepromCrc;
};

/**
  Reads the whole E2PROM, every byte proven, and compares it with the
  loaded image, then releases ImageFile. The
  console shows both CRC-32 values and the first bytes that differ.
**/
VOID
CompareChipImage (
  CHIP_IMAGE_FILE  *ImageFile,
  IMAGE_COMPARE    *Compare
  );

#endif
