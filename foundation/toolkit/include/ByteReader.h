// A bounded little/big-endian reader: every read checks the bytes are there first,
// and once a read has failed every later read fails too.
#pragma once

#include <cstdint>
#include <cstring>

namespace lt {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t size() const { return size_; }
    size_t remaining() const { return ok_ ? size_ - pos_ : 0; }
    const uint8_t* here() const { return data_ + pos_; }

    bool has(size_t n) const { return ok_ && n <= size_ - pos_; }
    bool seek(size_t p) {
        if (!ok_ || p > size_) return ok_ = false;
        pos_ = p;
        return true;
    }
    bool skip(size_t n) {
        if (!has(n)) return ok_ = false;
        pos_ += n;
        return true;
    }
    bool bytes(void* out, size_t n) {
        if (!has(n)) return ok_ = false;
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    uint8_t u8() {
        if (!has(1)) {
            ok_ = false;
            return 0;
        }
        return data_[pos_++];
    }
    uint16_t u16le() {
        if (!has(2)) {
            ok_ = false;
            return 0;
        }
        uint16_t v = uint16_t(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    uint32_t u32le() {
        if (!has(4)) {
            ok_ = false;
            return 0;
        }
        uint32_t v = uint32_t(data_[pos_]) | (uint32_t(data_[pos_ + 1]) << 8) |
                     (uint32_t(data_[pos_ + 2]) << 16) | (uint32_t(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return v;
    }
    uint16_t u16be() {
        if (!has(2)) {
            ok_ = false;
            return 0;
        }
        uint16_t v = uint16_t((data_[pos_] << 8) | data_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    uint32_t u32be() {
        if (!has(4)) {
            ok_ = false;
            return 0;
        }
        uint32_t v = (uint32_t(data_[pos_]) << 24) | (uint32_t(data_[pos_ + 1]) << 16) |
                     (uint32_t(data_[pos_ + 2]) << 8) | uint32_t(data_[pos_ + 3]);
        pos_ += 4;
        return v;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace lt
