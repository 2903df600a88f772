/** @file
  How long an SMBus transfer holds the wire, so that the simulator can take
  as long as a real bus. The clock runs at a whole number of kHz; one bit
  time is 1000 / kHz microseconds.

  A transfer is counted in bit times: 1 for the start, 9 for each byte (8
  bits and the acknowledge), 1 for a repeated start, 1 for the stop. The
  address byte is a byte like the others and comes again after the
  repeated start. So a write byte (start, address, command, data, stop) is
  29 bit times, a read byte (start, address, command, repeated start,
  address, data, stop) 39. Clock stretching, bus idle time and the host
  controller's own work are not counted.
**/
#ifndef SIM_ZK48_WIRE_H_
#define SIM_ZK48_WIRE_H_

#include "platform/Base.h"
#include "platform/SmbusHc.h"

// The fastest SMBus clock (1 MHz); 0 is no clock: transfers take no time.
constexpr UINT32  ZK48_WIRE_MAX_KHZ = 1000;

// The most data bytes a block transfer carries; the host controller refuses more before the wire.
constexpr UINTN  ZK48_WIRE_MAX_BLOCK = 32;

// A transfer nobody acknowledges ends after its address byte: start, address, stop.
constexpr UINT64  ZK48_WIRE_REFUSED_BIT_TIMES = 11;

struct ZK48_WIRE {
  UINT32    Khz;      // the bus clock; 0: no wire time at all
  UINT32    Carry;    // what the microseconds handed out so far fell short by, in 1/Khz microseconds
};

/**
  The bit times of one completed transfer of Operation. Length is the
  number of data bytes of a block transfer (the count byte comes on top);
  the other operations carry the bytes their kind fixes, whatever Length
  says. PecCheck adds the PEC byte before the stop (a quick command has
  none). Returns 0 for what never reaches the wire: a block of 0 or more
  than ZK48_WIRE_MAX_BLOCK bytes, and an operation not timed here (the
  block write-block read process call, unknown codes).
**/
UINT64
Zk48WireBitTimes (
  EFI_SMBUS_OPERATION  Operation,
  UINTN                Length,
  BOOLEAN              PecCheck
  );

/**
  The whole microseconds that BitTimes more take on Wire. The fraction left
  over is kept in Wire->Carry for the next call, so that the sum over any
  number of calls is the total bit time rounded down, exactly. Returns 0
  when Wire->Khz is 0.
**/
UINTN
Zk48WireMicroseconds (
  ZK48_WIRE  *Wire,
  UINT64     BitTimes
  );

#endif
