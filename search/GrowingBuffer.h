// An array of plain values that grows without copying them, for the catalogue's million entries.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <sys/mman.h>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace search {

// The values live in pages of their own: growing moves the pages (mremap),
// not the values, so an array of tens of megabytes doubles in no time
// instead of being copied and touched afresh in one go, and the pages fill
// as the values come. Pages past the values read as zeros.
template <typename T>
class GrowingBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "values are moved as bytes");

public:
    GrowingBuffer() = default;
    ~GrowingBuffer() { release(); }
    GrowingBuffer(const GrowingBuffer&) = delete;
    GrowingBuffer& operator=(const GrowingBuffer&) = delete;
    GrowingBuffer(GrowingBuffer&& other) noexcept { swap(other); }
    GrowingBuffer& operator=(GrowingBuffer&& other) noexcept
    {
        GrowingBuffer gone(std::move(other));
        swap(gone);
        return *this;
    }

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_bytes / sizeof(T); }
    bool empty() const { return m_size == 0; }
    T& operator[](std::size_t index) { return m_data[index]; }
    const T& operator[](std::size_t index) const { return m_data[index]; }
    T* begin() { return m_data; }
    T* end() { return m_data + m_size; }

    void push_back(const T& value)
    {
        if (m_size == capacity()) {
            grow(m_size + 1);
        }
        m_data[m_size++] = value;
    }
    void append(const T* values, std::size_t count)
    {
        if (m_size + count > capacity()) {
            grow(m_size + count);
        }
        std::copy(values, values + count, m_data + m_size);
        m_size += count;
    }
    void pop_back() { --m_size; }
    // Fewer values; the room stays.
    void shrink(std::size_t size) { m_size = size < m_size ? size : m_size; }
    void clear() { m_size = 0; }
    // No values and no room.
    void release()
    {
        if (m_data != nullptr) {
            ::munmap(m_data, m_bytes);
        }
        m_data = nullptr;
        m_size = 0;
        m_bytes = 0;
    }

private:
    void swap(GrowingBuffer& other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_bytes, other.m_bytes);
    }

    // Room for at least `least` values, doubling.
    void grow(std::size_t least)
    {
        static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::size_t bytes = m_bytes == 0 ? page : m_bytes;
        while (bytes / sizeof(T) < least) {
            bytes *= 2;
        }
        void* room = m_data == nullptr
                         ? ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                         : ::mremap(m_data, m_bytes, bytes, MREMAP_MAYMOVE);
        if (room == MAP_FAILED) {
            throw std::bad_alloc();
        }
        m_data = static_cast<T*>(room);
        m_bytes = bytes;
    }

    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_bytes = 0;
};

}  // namespace search
