#pragma once

// An array of trivially copyable values for tables such as the signature
// list, which grow one value at a time to millions with no size known ahead.
// A large array lives in huge pages (see MapLargeBlock): a table of a few
// megabytes then costs a handful of page faults instead of thousands.

#include "engine/platform/Platform.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace qirn {

template <class T>
requires std::is_trivially_copyable_v<T>
class GrowingArray {
public:
    GrowingArray() = default;
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray(GrowingArray&& other) noexcept { Swap(other); }
    ~GrowingArray() { Release(); }

    GrowingArray& operator=(const GrowingArray&) = delete;
    GrowingArray& operator=(GrowingArray&& other) noexcept
    {
        GrowingArray moved(std::move(other));
        Swap(moved);
        return *this;
    }

    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    T* Data() { return data_; }
    const T* Data() const { return data_; }
    T& operator[](std::size_t index) { return data_[index]; }
    const T& operator[](std::size_t index) const { return data_[index]; }

    // Keeps the storage.
    void Clear() { size_ = 0; }

    void Reserve(std::size_t count)
    {
        if (count > capacity_)
            Resize(count);
    }

    void PushBack(const T& value)
    {
        if (size_ == capacity_)
            Grow(size_ + 1);
        data_[size_++] = value;
    }

    // count copies of value, and nothing of what was held.
    void Assign(std::size_t count, const T& value)
    {
        size_ = 0;
        Reserve(count);
        std::fill(data_, data_ + count, value);
        size_ = count;
    }

    void Append(const T* values, std::size_t count)
    {
        if (count == 0)
            return;
        if (count > capacity_ - size_)
            Grow(size_ + count);
        std::memcpy(data_ + size_, values, count * sizeof(T));
        size_ += count;
    }

private:
    void Grow(std::size_t wanted)
    {
        if (wanted < size_)  // size_ + count wrapped
            throw std::bad_alloc();
        std::size_t capacity = capacity_ < 16 ? 16 : capacity_;
        while (capacity < wanted)
            capacity = capacity > SIZE_MAX / 2 ? wanted : capacity * 2;
        Resize(capacity);
    }

    // Only ever grows, so a large block never turns small again.
    void Resize(std::size_t capacity)
    {
        if (capacity > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        if (capacity * sizeof(T) < kLargeBlock) {
            void* grown = std::realloc(data_, capacity * sizeof(T));
            if (grown == nullptr)
                throw std::bad_alloc();
            data_ = static_cast<T*>(grown);
            capacity_ = capacity;
            return;
        }
        LargeBlock block;
        if (Large()) {
            block = GrowLargeBlock(HeldBlock(), capacity * sizeof(T));
        } else {
            block = MapLargeBlock(capacity * sizeof(T));
            if (size_ > 0)
                std::memcpy(block.data, data_, size_ * sizeof(T));
            std::free(data_);
        }
        data_ = static_cast<T*>(block.data);
        capacity_ = block.bytes / sizeof(T);
        large_ = block.bytes;
    }

    bool Large() const { return large_ != 0; }
    LargeBlock HeldBlock() const { return {data_, large_}; }

    void Release()
    {
        if (Large())
            UnmapLargeBlock(HeldBlock());
        else
            std::free(data_);
    }

    void Swap(GrowingArray& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        std::swap(large_, other.large_);
    }

    // Blocks from this size on are mapped; smaller ones come from malloc.
    static constexpr std::size_t kLargeBlock = std::size_t{256} << 10;

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t large_ = 0;  // the mapped block's size; 0 while data_ is from malloc
};

}  // namespace qirn
