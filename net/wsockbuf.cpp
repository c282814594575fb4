#include "net/wsockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(std::int32_t Size) { SetBufSize(Size); }

void TBuffer::SetBufSize(std::int32_t NewSize)
{
    if (NewSize <= 0)
        NewSize = DefaultSize;
    if (NewSize == capacity_)
        return;
    // Left uninitialised: every byte is written before it is read.
    std::unique_ptr<char[]> fresh(new char[std::size_t(NewSize)]);
    if (writePos_ > 0) {
        // Shrinking below the written bytes would lose data: keep what fits
        // and clamp the positions so the invariant holds.
        const std::int32_t keep = std::min(writePos_, NewSize);
        std::memcpy(fresh.get(), data_.get(), std::size_t(keep));
        writePos_ = keep;
        readPos_ = std::min(readPos_, writePos_);
    }
    data_ = std::move(fresh);
    capacity_ = NewSize;
    ResetIfDrained();
}

std::int32_t TBuffer::Write(const void* Data, std::int32_t Len)
{
    const std::int32_t count = std::max<std::int32_t>(0, std::min(capacity_ - writePos_, Len));
    if (count == 0)
        return 0;
    std::memcpy(data_.get() + writePos_, Data, std::size_t(count));
    writePos_ += count;
    return count;
}

std::int32_t TBuffer::Read(void* Data, std::int32_t Len)
{
    const std::int32_t count = std::max<std::int32_t>(0, std::min(writePos_ - readPos_, Len));
    if (count == 0)
        return 0;
    std::memcpy(Data, data_.get() + readPos_, std::size_t(count));
    readPos_ += count;
    ResetIfDrained();
    return count;
}

const char* TBuffer::Peek(std::int32_t& Len) const
{
    Len = writePos_ - readPos_;
    if (Len <= 0) {
        Len = 0;
        return nullptr;
    }
    return data_.get() + readPos_;
}

std::int32_t TBuffer::Remove(std::int32_t Len)
{
    const std::int32_t count = std::max<std::int32_t>(0, std::min(writePos_ - readPos_, Len));
    readPos_ += count;
    ResetIfDrained();
    return count;
}

void TBuffer::ResetIfDrained()
{
    if (readPos_ == writePos_) {
        readPos_ = 0;
        writePos_ = 0;
    }
}
