// The words every test uses: the chip's addresses, registers and sizes, the
// shapes an E2PROM's content takes, the test image, numbers and progress
// figures as text, and a CRC-32 of the tests' own.
#ifndef TESTS_FIRMWARE_VOCABULARY_H_
#define TESTS_FIRMWARE_VOCABULARY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Zk48Chip.h"

namespace harness {

// The chip answers at 0x21 (its E2PROM) and 0x23 (its identity).
constexpr uint8_t   EEPROM_BUS_ADDRESS = 0x21;
constexpr uint8_t   ID_BUS_ADDRESS     = 0x23;
// The registers a run touches, as the bus shows them.
constexpr uint8_t   R_DEVICE_ID        = 0x02;   // at 0x23
constexpr uint8_t     V_DEVICE_ID      = 0x11;
constexpr uint8_t   R_ADDRESS_HIGH     = 0xB2;   // at 0x21, like the rest
constexpr uint8_t   R_ADDRESS_LOW      = 0xB3;
constexpr uint8_t   R_COMMAND          = 0xB5;
constexpr uint8_t   R_EEPROM_DATA      = 0xB6;
constexpr uint8_t   R_EEPROM_STATUS    = 0xB7;
constexpr uint8_t     B_DATA_READY     = 0x80;
constexpr size_t    EEPROM_BYTES       = 0x2000;
constexpr size_t    BLOCK_BYTES        = 8;
constexpr uint16_t  VERSION_ADDRESS    = 0x112F;
// The scan's device-ID check (0xB1 written, 0x02 read) comes before the first E2PROM byte.
constexpr uint32_t  SCAN_TRANSACTIONS  = 2;

struct Event;

// Every byte a function of its address, as the simulator's fill=pattern: a
// byte read from a wrong, swapped or truncated address shows.
uint8_t              PatternByte (size_t Address);
std::vector<uint8_t> Pattern ();

//
// The shapes real images take, which every test of a read, a backup or a
// comparison draws from: a proof that compares a byte with what was read
// around it behaves differently inside a run of equal bytes than in the
// pattern, whose neighbouring bytes always differ.
//
struct IMAGE_SHAPE {
  const char    *Name;
  uint8_t       (*Byte) (size_t Address);
};

// pattern; table16 (16-bit values, every odd byte 0x00); half-ff (the pattern, then 0xFF padding); constant (0xFF).
extern const IMAGE_SHAPE  IMAGE_SHAPES[4];

std::vector<uint8_t> ShapeBytes (const IMAGE_SHAPE &Shape);

// Where a whole read's first pass reads Address, from 0: page by page, odd pages downwards.
uint32_t FirstPassIndex (size_t Address);

// An image whose every byte is a function of its offset, with Version at VERSION_ADDRESS.
std::vector<uint8_t> MakeImage (uint8_t Version, size_t Size = EEPROM_BYTES);

// The chip's whole E2PROM.
std::vector<uint8_t> Eeprom (const ZK48_CHIP &Chip);

// Upper-case hexadecimal, at least Digits digits.
std::string Hex (uint64_t Value, int Digits = 0);

// The text output right after each cursor move: the progress figures.
std::vector<std::u16string> FiguresAfterCursorMoves (const std::vector<Event> &Timeline);

// The CRC-32 of IEEE 802.3 as the firmware's CalculateCrc32 gives it, worked out here on its own.
uint32_t Crc32 (const uint8_t *Data, size_t Size);

std::string Utf8 (const std::u16string &Text);

// ASCII text as UTF-16.
std::u16string Utf16 (const std::string &Text);

} // namespace harness

#endif
