#include "tools/etlan/bench/clients.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/vocabulary.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
namespace {

constexpr int kHeaderSize = static_cast<int>(kEtlanHeaderSize);

bool PrepareTag(DriverHost* host, int plc, int address, int count, DriverTag* tag, std::string* why) {
    char text[32];
    std::snprintf(text, sizeof text, "%02dD%05d", plc, address);
    tag->text = text;
    std::vector<char> copy(tag->text.begin(), tag->text.end());
    copy.resize(copy.size() + 16, '\0');
    TagAddressBlock b{};
    b.addressText = copy.data();
    b.dataType = 0;
    b.elementCount = count;
    const std::int32_t rc = host->Call(kCheckAddress, &b);
    if (rc != 0) {
        *why = "the driver refuses the address " + tag->text + " (result " + std::to_string(rc) + ")";
        return false;
    }
    tag->buffer.assign(static_cast<std::size_t>(count) * 4 + 8, 0);
    TagIoBlock& io = tag->io;
    io.addressText = tag->text.c_str();
    io.plcNumber = b.plcNumber;
    io.memoryLetter = b.memoryLetter;
    io.addressNumber = b.addressNumber;
    io.bitNumber = b.bitNumber;
    io.bitSize = b.bitSize;
    io.dataType = 0;
    io.elementCount = count;
    io.valueBuffer = tag->buffer.data();
    return true;
}

// The words a read frame asks for, read once by the raw client; false with
// a reason.
bool RawRead(Target& t, const std::string& frame, int words, std::uint16_t* values, std::string* why) {
    if (!t.raw.Send(frame.data(), static_cast<int>(frame.size()))) {
        *why = "the raw client cannot send to " + t.address.host + ":" + t.address.port;
        return false;
    }
    int received = 0;
    while (received < kAnswerSize) {
        const int n = t.raw.Receive(t.answer + received, kAnswerSize - received);
        if (n <= 0) break;
        received += n;
        if (received > kHeaderSize && std::memchr(t.answer + kHeaderSize, '\r', static_cast<std::size_t>(received - kHeaderSize))) break;
    }
    if (!DecodeAnswer(t.answer, received, t.plc, "RD", words, values)) {
        *why = "station " + std::to_string(t.plc) + " at " + t.address.host + ":" + t.address.port +
               " gives no positive answer to " + ShowFrame(frame);
        return false;
    }
    return true;
}

}  // namespace

bool DriverOp(DriverHost* host, Target& t, Kind kind, Failures* failures) {
    std::int32_t rc;
    if (kind == kRead) {
        std::memset(t.read.buffer.data(), 0xCC, 4);
        rc = host->Call(kReadValue, &t.read.io);
        if (rc == 0 && GetWord(t.read.buffer.data(), 2) == t.expected[0]) return true;
    } else if (kind == kBlock) {
        std::memset(t.block.buffer.data(), 0xCC, 2 * kBlockWords);
        rc = host->Call(kReadBlock, &t.block.io);
        if (rc == 0) {
            bool same = true;
            for (int i = 0; i < kBlockWords; ++i) same = same && GetWord(t.block.buffer.data(), 2u * i) == t.expected[i];
            if (same) return true;
        }
    } else {
        PutWord(t.write.buffer.data(), 0, 0);
        PutWord(t.write.buffer.data(), 2, t.writeValue);
        rc = host->Call(kWriteValue, &t.write.io);
        if (rc == 0) return true;
    }
    static const char* const names[kKinds] = {"ReadValue", "ReadBlock", "WriteValue"};
    failures->Add(std::string("driver ") + names[kind] + " of " + t.read.text + ": " +
                  (rc == 0 ? "wrong value" : "result " + std::to_string(rc) + " (" + ResultText(rc, kReadValue) + ")"));
    return false;
}

// One exchange of the raw client: the frame in one send, receives until
// the answer's carriage return.
bool RawOp(Target& t, Kind kind, Failures* failures) {
    const std::string& frame = kind == kRead ? t.readFrame : kind == kBlock ? t.blockFrame : t.writeFrame;
    const char* why = nullptr;
    int received = 0;
    if (!t.raw.Send(frame.data(), static_cast<int>(frame.size()))) {
        why = "send failed";
    } else {
        for (;;) {
            const int n = t.raw.Receive(t.answer + received, kAnswerSize - received);
            if (n <= 0) {
                why = n == 0 ? "connection closed" : "no answer";
                break;
            }
            const int from = std::max(received, kHeaderSize);
            received += n;
            if (received > from && std::memchr(t.answer + from, '\r', static_cast<std::size_t>(received - from))) break;
            if (received == kAnswerSize) {
                why = "answer too long";
                break;
            }
        }
    }
    if (why == nullptr) {
        std::uint16_t values[kBlockWords];
        const int words = kind == kRead ? 1 : kind == kBlock ? kBlockWords : 0;
        if (!DecodeAnswer(t.answer, received, t.plc, kind == kWrite ? "WD" : "RD", words, values)) {
            why = "not the positive answer expected";
        } else if (std::memcmp(values, t.expected, sizeof values[0] * static_cast<std::size_t>(words)) != 0) {
            why = "wrong value";
        } else {
            return true;
        }
    }
    static const char* const names[kKinds] = {"read", "block read", "write"};
    failures->Add(std::string("raw client ") + names[kind] + " of " + t.read.text + ": " + why);
    if (std::strcmp(why, "no answer") == 0 || std::strcmp(why, "connection closed") == 0 ||
        std::strcmp(why, "send failed") == 0) {
        // The connection is out of step or gone: start a new one.
        std::string ignored;
        t.raw.Open(t.address.host, t.address.port, kConnectMs, kReceiveMs, &ignored);
    }
    return false;
}

bool PrepareTarget(DriverHost* host, const StationList& list, int plc, const std::string& rawOverride, int address,
                   int writeAddress, Target* t, std::string* why) {
    t->plc = plc;
    if (!rawOverride.empty()) {
        if (!SplitHostPort(rawOverride, &t->address)) {
            *why = "--raw takes HOST:PORT";
            return false;
        }
    } else if (const StationAddress* a = list.Find(plc)) {
        t->address = *a;
    } else {
        *why = "station " + std::to_string(plc) + " is not in the station file";
        return false;
    }
    if (!PrepareTag(host, plc, address, 1, &t->read, why) || !PrepareTag(host, plc, address, kBlockWords, &t->block, why) ||
        (writeAddress >= 0 && !PrepareTag(host, plc, writeAddress, 1, &t->write, why))) {
        return false;
    }
    t->readFrame = Frame(plc, list.pcStation, ReadText(plc, address, address));
    t->blockFrame = Frame(plc, list.pcStation, ReadText(plc, address, address + kBlockWords - 1));
    if (!t->raw.Open(t->address.host, t->address.port, kConnectMs, kReceiveMs, why)) return false;
    if (!RawRead(*t, t->blockFrame, kBlockWords, t->expected, why)) return false;
    if (writeAddress >= 0) {
        // The write puts back what the register holds now.
        if (!RawRead(*t, Frame(plc, list.pcStation, ReadText(plc, writeAddress, writeAddress)), 1, &t->writeValue, why)) {
            return false;
        }
        t->writeFrame = Frame(plc, list.pcStation, WriteText(plc, writeAddress, t->writeValue));
    }
    return true;
}

}  // namespace etl::etlan
