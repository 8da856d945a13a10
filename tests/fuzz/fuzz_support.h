// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace etl::fuzz {

// Reads the fuzzer's input from the front; past the end every read gives 0.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t U16() {
        const std::uint16_t lo = U8();
        return static_cast<std::uint16_t>(lo | (U8() << 8));
    }
    std::uint32_t U32() {
        const std::uint32_t lo = U16();
        return lo | (static_cast<std::uint32_t>(U16()) << 16);
    }
    std::string Bytes(std::size_t n) {
        if (n > size_ - pos_) n = size_ - pos_;
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    std::string Rest() { return Bytes(size_ - pos_); }
    bool Empty() const { return pos_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A finding: the message goes to stderr and the process aborts, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant violated: %s\n", what);
    std::abort();
}

#define ETL_FUZZ_CHECK(cond)                                   \
    do {                                                       \
        if (!(cond)) ::etl::fuzz::Fail(#cond " (line " ETL_FUZZ_STR(__LINE__) ")"); \
    } while (0)
#define ETL_FUZZ_STR(x) ETL_FUZZ_STR2(x)
#define ETL_FUZZ_STR2(x) #x

// Makes a fresh private directory the current directory, once per process.
void EnterPrivateDir();

}  // namespace etl::fuzz
