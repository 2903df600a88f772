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
  UINT32         Differences;   // bytes that differ from the image, each by two reads that agree
  UINT32         BytesReread;   // bytes that differed once and matched the image when read again
  BOOLEAN        CrcKnown;      // the two CRC-32 below were worked out
  UINT32         ImageCrc;
  UINT32         EepromCrc;
};

/**
  Reads the whole E2PROM and compares it with the loaded image, reading a
  byte that differs again before it counts, then releases ImageFile. The
  console shows both CRC-32 values and the first bytes that differ.
**/
VOID
CompareChipImage (
  CHIP_IMAGE_FILE  *ImageFile,
  IMAGE_COMPARE    *Compare
  );

#endif
