// The chunked byte buffer that holds decoded stream data: it grows chunk by chunk without
// moving what it holds, and appending one buffer to another moves chunks, not bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace PdfParser {

class ByteSink {
    struct Chunk {
        std::size_t offset = 0; // logical offset of its first byte within the buffer
        std::unique_ptr<std::uint8_t[]> start;
        std::size_t used = 0;     // bytes in use
        std::size_t capacity = 0; // bytes allocated
        Chunk* next = nullptr;
        Chunk* prev = nullptr;
    };

public:
    // Forward and backward iteration over the bytes in use (chunk, index within the chunk).
    class const_iterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = std::uint8_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::uint8_t*;
        using reference = const std::uint8_t&;

        const_iterator() = default;
        reference operator*() const { return chunk_->start[index_]; }
        const_iterator& operator++();
        const_iterator operator++(int) {
            auto old = *this;
            ++*this;
            return old;
        }
        const_iterator& operator--();
        const_iterator operator--(int) {
            auto old = *this;
            --*this;
            return old;
        }
        // Moves by a signed distance, clamped to [begin, end].
        const_iterator& seek(std::ptrdiff_t distance);
        // Logical offset of the byte it stands on (size() at the end).
        std::size_t offset() const;
        bool operator==(const const_iterator& o) const {
            return chunk_ == o.chunk_ && index_ == o.index_;
        }

    private:
        friend class ByteSink;
        const_iterator(const ByteSink* sink, const Chunk* chunk, std::size_t index)
            : sink_(sink), chunk_(chunk), index_(index) {}
        void settle(); // skip empty chunks; the end is (nullptr, 0)
        const ByteSink* sink_ = nullptr;
        const Chunk* chunk_ = nullptr;
        std::size_t index_ = 0;
    };

    // With an initial size above 0 one chunk of that size is allocated.
    explicit ByteSink(std::size_t chunk_size = 1024, std::size_t initial_size = 0);
    ~ByteSink();
    ByteSink(ByteSink&& other) noexcept;
    ByteSink& operator=(ByteSink&& other) noexcept;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    // Stores one byte; returns the new count.
    std::size_t push_back(std::uint8_t byte);
    // Stores n bytes.
    void write(const std::uint8_t* bytes, std::size_t n);
    void write(std::string_view bytes) {
        write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    // When the capacity is below size, one chunk of the missing size is added.
    void reserve(std::size_t size);
    // Moves every chunk of other behind the last byte of this buffer; other ends empty.
    void append(ByteSink& other);
    void swap(ByteSink& other) noexcept;
    void clear();

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::size_t capacity() const { return capacity_; }
    std::size_t chunk_size() const { return chunk_size_; }

    const_iterator begin() const;
    const_iterator end() const { return const_iterator(this, nullptr, 0); }

    // The bytes in use as one contiguous copy.
    std::string str() const;
    std::vector<std::uint8_t> to_vector() const;
    // Calls f(const std::uint8_t* data, std::size_t n) for each chunk's bytes in order.
    template <class F> void for_each_segment(F&& f) const {
        for (const Chunk* c = first_; c; c = c->next)
            if (c->used) f(c->start.get(), c->used);
    }

private:
    Chunk* add_chunk(std::size_t capacity);
    void free_chunks() noexcept;

    Chunk* current_ = nullptr; // the chunk being written (write position: its used end)
    std::size_t chunk_size_;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
    Chunk* first_ = nullptr;
    Chunk* last_ = nullptr;
};

} // namespace PdfParser
