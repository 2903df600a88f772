/** @file
  SMBus transactions through the firmware's host-controller protocol. The
  tool never touches a controller's registers itself.
**/
#include "chip/SmbusAccess.h"
#include "chip/TconAddress.h"
#include "platform/UefiLib.h"

EFI_SMBUS_HC_PROTOCOL  *mSmbusHc;
EFI_SMBUS_HC_PROTOCOL  *mSmbusHcs[SMBUS_HC_LIMIT];
UINTN                  mSmbusHcCount;

namespace {

constexpr UINT8  BYTE_TRANSACTION_LENGTH = 1;
constexpr UINT8  SEVEN_BIT_ADDRESS_MASK  = 0x7F;
constexpr UINT8  BLOCK_WRITE_COMMAND     = 0x00;

EFI_SMBUS_DEVICE_ADDRESS
DeviceAddress (
  UINT8  SevenBitAddress
  )
{
  EFI_SMBUS_DEVICE_ADDRESS  Address;
  UINTN                     Raw = SevenBitAddress & SEVEN_BIT_ADDRESS_MASK;

  //
  // The bits above the 7-bit field are no member of the bit-field, so no
  // initialisation of it is sure to clear them; they travel to the driver.
  //
  static_assert (sizeof (Address) == sizeof (Raw), "the address travels as a UINTN");
  __builtin_memcpy (&Address, &Raw, sizeof (Address));
  return Address;
}

EFI_STATUS
Execute (
  UINT8                SevenBitAddress,
  UINT8                Command,
  EFI_SMBUS_OPERATION  Operation,
  UINTN                Length,
  VOID                 *Buffer
  )
{
  if (mSmbusHc == nullptr) {
    return EFI_NOT_FOUND;
  }

  return mSmbusHc->Execute (mSmbusHc, DeviceAddress (SevenBitAddress), Command, Operation, FALSE, &Length, Buffer);
}

} // namespace

VOID
LocateSmbusHc (
  )
{
  UINTN       HandleCount = 0;
  EFI_HANDLE  *Handles    = nullptr;
  EFI_STATUS  Status;

  mSmbusHc      = nullptr;
  mSmbusHcCount = 0;
  Status        = gBS->LocateHandleBuffer (ByProtocol, &gEfiSmbusHcProtocolGuid, nullptr, &HandleCount, &Handles);
  if (EFI_ERROR (Status)) {
    return;
  }

  for (UINTN Index = 0; (Index < HandleCount) && (mSmbusHcCount < SMBUS_HC_LIMIT); Index++) {
    VOID  *Interface = nullptr;

    Status = gBS->HandleProtocol (Handles[Index], &gEfiSmbusHcProtocolGuid, &Interface);
    if (!EFI_ERROR (Status) && (Interface != nullptr)) {
      mSmbusHcs[mSmbusHcCount++] = (EFI_SMBUS_HC_PROTOCOL *)Interface;
    }
  }

  if (mSmbusHcCount != 0) {
    mSmbusHc = mSmbusHcs[0];
  }

  if (Handles != nullptr) {
    gBS->FreePool (Handles);
  }
}

EFI_STATUS
SmbusReadByteStatus (
  UINT8  BusAddress,
  UINT8  Register,
  UINT8  *Value
  )
{
  UINT8       Received = 0;
  EFI_STATUS  Status;

  Status = Execute ((BusAddress >> 1) & SEVEN_BIT_ADDRESS_MASK, Register, EfiSmbusReadByte, BYTE_TRANSACTION_LENGTH, &Received);
  if (!EFI_ERROR (Status)) {
    *Value = Received;
  }

  return Status;
}

BOOLEAN
SmbusTryReadByte (
  UINT8  BusAddress,
  UINT8  Register,
  UINT8  *Value
  )
{
  return !EFI_ERROR (SmbusReadByteStatus (BusAddress, Register, Value));
}

UINT8
SmbusReadByte (
  UINT8  BusAddress,
  UINT8  Register
  )
{
  UINT8  Value = 0x00;

  SmbusTryReadByte (BusAddress, Register, &Value);
  return Value;
}

BOOLEAN
SmbusWriteByte (
  UINT8  Register,
  UINT8  Value
  )
{
  return !EFI_ERROR (Execute (TCON_EEPROM_ADDRESS, Register, EfiSmbusWriteByte, BYTE_TRANSACTION_LENGTH, &Value));
}

BOOLEAN
SmbusWriteBlock (
  UINT8  *Frame,
  UINTN  Length
  )
{
  return !EFI_ERROR (Execute (TCON_EEPROM_ADDRESS, BLOCK_WRITE_COMMAND, EfiSmbusWriteBlock, Length, Frame));
}
