// The ET-LAN frame around a command text, and the exchange with a station.
#pragma once

#include <cstdint>

#include "host/blocks.h"

namespace etl {

constexpr int MAX_ATTEMPTS = 3;
constexpr std::uint32_t EXCHANGE_TIMEOUT_MS = 1000;
// The most words an answer may carry: it must fit the receive area.
constexpr int kMaxAnswerWords = static_cast<int>((kReceiveFrameSize - 21) / 4);

int BuildFrameHeader(VpiRequest* request, const char* text);

// The request for the next part of an answer, "%" station "**&" CR behind
// its ET-LAN header.
constexpr std::size_t kNextPartFrameSize = kEtlanHeaderSize + 7;
void BuildNextPartFrame(int plcNumber, bool decimal, std::uint8_t out[kNextPartFrameSize]);
int CheckResponse(VpiRequest* request);
int ReadExchange(VpiRequest* request, int words, const char* addressDigits);
int WriteExchange(VpiRequest* request, int words, const char* addressDigits);

}  // namespace etl
