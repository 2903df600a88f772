// The tests' shared words: the pattern and the image shapes, the image, numbers and figures as text, the CRC-32.
#include "tests/firmware/Vocabulary.h"

#include <cstdio>

#include "tests/firmware/SimFirmware.h"

namespace harness {

uint8_t
PatternByte (
  size_t  Address
  )
{
  return (uint8_t)((Address & 0xFF) ^ (uint8_t)((Address >> 8) * 0x35));
}

std::vector<uint8_t>
Pattern (
  )
{
  std::vector<uint8_t>  Bytes (EEPROM_BYTES);

  for (size_t Address = 0; Address < EEPROM_BYTES; Address++) {
    Bytes[Address] = PatternByte (Address);
  }

  return Bytes;
}

namespace {

// Little-endian 16-bit values below 256: each value's low byte, then its high byte 0x00.
uint8_t
Table16Byte (
  size_t  Address
  )
{
  return ((Address & 1) == 0) ? (uint8_t)(Address >> 1) : 0x00;
}

// Code and data in the lower half, the upper half erased.
uint8_t
HalfPaddingByte (
  size_t  Address
  )
{
  return (Address < EEPROM_BYTES / 2) ? PatternByte (Address) : 0xFF;
}

uint8_t
ConstantByte (
  size_t
  )
{
  return 0xFF;
}

} // namespace

const IMAGE_SHAPE  IMAGE_SHAPES[4] = {
  { "pattern",  PatternByte      },
  { "table16",  Table16Byte      },
  { "half-ff",  HalfPaddingByte  },
  { "constant", ConstantByte     },
};

std::vector<uint8_t>
ShapeBytes (
  const IMAGE_SHAPE  &Shape
  )
{
  std::vector<uint8_t>  Bytes (EEPROM_BYTES);

  for (size_t Address = 0; Address < EEPROM_BYTES; Address++) {
    Bytes[Address] = Shape.Byte (Address);
  }

  return Bytes;
}

uint32_t
FirstPassIndex (
  size_t  Address
  )
{
  const size_t  Page = Address >> 8;

  return (uint32_t)((Page << 8) | (((Page & 1) != 0) ? 0xFF - (Address & 0xFF) : (Address & 0xFF)));
}

std::vector<uint8_t>
Eeprom (
  const ZK48_CHIP  &Chip
  )
{
  return std::vector<uint8_t> (Chip.Eeprom, Chip.Eeprom + EEPROM_BYTES);
}

std::string
Hex (
  uint64_t  Value,
  int       Digits
  )
{
  char  Text[24];

  std::snprintf (Text, sizeof (Text), "%0*llX", Digits, (unsigned long long)Value);
  return Text;
}

std::vector<std::u16string>
FiguresAfterCursorMoves (
  const std::vector<Event>  &Timeline
  )
{
  std::vector<std::u16string>  Shown;

  for (size_t Index = 0; Index + 1 < Timeline.size (); Index++) {
    if ((Timeline[Index].Kind == Event::Cursor) && (Timeline[Index + 1].Kind == Event::Output)) {
      Shown.push_back (Timeline[Index + 1].Text);
    }
  }

  return Shown;
}

uint32_t
Crc32 (
  const uint8_t  *Data,
  size_t         Size
  )
{
  uint32_t  Crc = 0xFFFFFFFF;

  for (size_t Index = 0; Index < Size; Index++) {
    Crc ^= Data[Index];
    for (int Bit = 0; Bit < 8; Bit++) {
      Crc = (Crc & 1) ? (Crc >> 1) ^ 0xEDB88320 : Crc >> 1;
    }
  }

  return ~Crc;
}

std::vector<uint8_t>
MakeImage (
  uint8_t  Version,
  size_t   Size
  )
{
  std::vector<uint8_t>  Image (Size);

  for (size_t Index = 0; Index < Size; Index++) {
    Image[Index] = (uint8_t)((Index * 7) ^ (Index >> 8));
  }

  if (Size > VERSION_ADDRESS) {
    Image[VERSION_ADDRESS] = Version;
  }

  return Image;
}

std::string
Utf8 (
  const std::u16string  &Text
  )
{
  std::string  Out;

  for (char16_t Unit : Text) {
    if (Unit < 0x80) {
      Out += (char)Unit;
    } else if (Unit < 0x800) {
      Out += (char)(0xC0 | (Unit >> 6));
      Out += (char)(0x80 | (Unit & 0x3F));
    } else {
      Out += (char)(0xE0 | (Unit >> 12));
      Out += (char)(0x80 | ((Unit >> 6) & 0x3F));
      Out += (char)(0x80 | (Unit & 0x3F));
    }
  }

  return Out;
}

std::u16string
Utf16 (
  const std::string  &Text
  )
{
  return std::u16string (Text.begin (), Text.end ());
}

} // namespace harness
