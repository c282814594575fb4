#pragma once

#include <cstdint>
#include <memory>

// One block of the send queue: a contiguous byte block with a write and a
// read position. Nothing wraps around; once everything written has been
// read (or removed) both positions return to 0 so the block is reused.
class TBuffer {
public:
    // The size used when a block is asked for with a size of 0 or less.
    static constexpr std::int32_t DefaultSize = 1514;

    explicit TBuffer(std::int32_t Size);
    ~TBuffer() = default;

    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    void SetBufSize(std::int32_t NewSize);

    // Copies as much of Data as fits after WritePos; returns the count.
    std::int32_t Write(const void* Data, std::int32_t Len);
    // Copies up to Len unread bytes out and consumes them.
    std::int32_t Read(void* Data, std::int32_t Len);
    // The unread bytes in place (null and 0 when there are none).
    const char* Peek(std::int32_t& Len) const;
    // Consumes up to Len unread bytes without copying them.
    std::int32_t Remove(std::int32_t Len);

    std::int32_t Capacity() const { return capacity_; }
    std::int32_t WritePos() const { return writePos_; }
    std::int32_t ReadPos() const { return readPos_; }
    std::int32_t DataCount() const { return writePos_ - readPos_; }
    bool IsFull() const { return writePos_ >= capacity_; }

private:
    void ResetIfDrained();

    std::unique_ptr<char[]> data_;
    std::int32_t capacity_ = 0;
    std::int32_t writePos_ = 0;
    std::int32_t readPos_ = 0;
};
