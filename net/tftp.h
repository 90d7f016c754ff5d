// The receiving side of a TFTP read (RFC 1350) as the upgrade fetch uses it: the read request,
// and one received packet at a time stored into the image buffer. Pure functions; the upgrade
// thread does the socket work.
#pragma once

#include <cstdint>

constexpr int tftp_read_request_length = 16;  // 00 01 "upgrade" 00 "octet" 00
constexpr int tftp_datagram_max = 1024;       // a datagram this long or longer ends the fetch
constexpr int tftp_header_length = 4;         // opcode and block number
constexpr int tftp_ack_length = 4;

// The read request for the file "upgrade" in octet mode.
void tftp_read_request(uint8_t* out);

// The image being received: bytes go to buffer[received], never past expected or capacity.
struct TftpReceive {
  uint8_t* buffer;
  int32_t capacity;
  int32_t expected;
  int32_t received;
  uint16_t last_block;  // the block stored last; 0 before the first
};

enum class TftpStep {
  ignore,       // not a packet of this transfer
  acknowledge,  // send the ACK written to ack: a new block was stored, or the last one came again
  end,          // the fetch ends: the server reported an error, or the datagram was oversized
};

// Handles one received datagram. Only the block after the last one stored is stored; the last
// one again is acknowledged again and not stored; any other block is ignored.
TftpStep tftp_receive(TftpReceive& r, const uint8_t* packet, int length, uint8_t* ack);
