// The 12-byte ET-LAN header in front of every MEWTOCOL-COM text: 0x10, 0,
// the text's length little-endian, six zeros, then the destination and
// source station bytes. Header-only, for the driver and the tools.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"

namespace etl {

constexpr void WriteEtlanHeader(std::uint8_t (&header)[kEtlanHeaderSize], std::size_t textLength,
                                int destination, int source) {
    for (std::uint8_t& b : header) b = 0;
    header[0] = 0x10;
    header[2] = static_cast<std::uint8_t>(textLength & 0xFF);
    header[3] = static_cast<std::uint8_t>((textLength >> 8) & 0xFF);
    header[10] = static_cast<std::uint8_t>(destination & 0xFF);
    header[11] = static_cast<std::uint8_t>(source & 0xFF);
}

}  // namespace etl
