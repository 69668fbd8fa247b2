#include "pdfparser/pdf-bytesink.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace PdfParser {

ByteSink::ByteSink(std::size_t chunk_size, std::size_t initial_size)
    : chunk_size_(chunk_size ? chunk_size : 1) {
    if (initial_size > 0) current_ = add_chunk(initial_size);
}

ByteSink::~ByteSink() {
    free_chunks();
}

ByteSink::ByteSink(ByteSink&& other) noexcept : chunk_size_(other.chunk_size_) {
    swap(other);
}

ByteSink& ByteSink::operator=(ByteSink&& other) noexcept {
    if (this != &other) {
        clear();
        swap(other);
    }
    return *this;
}

void ByteSink::free_chunks() noexcept {
    // Iterative: a long list must not recurse.
    Chunk* c = first_;
    while (c) {
        Chunk* next = c->next;
        delete c;
        c = next;
    }
    first_ = last_ = current_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

void ByteSink::clear() {
    free_chunks();
}

ByteSink::Chunk* ByteSink::add_chunk(std::size_t capacity) {
    auto* c = new Chunk;
    c->start = std::make_unique<std::uint8_t[]>(capacity);
    c->capacity = capacity;
    c->prev = last_;
    if (last_)
        last_->next = c;
    else
        first_ = c;
    last_ = c;
    capacity_ += capacity;
    return c;
}

std::size_t ByteSink::push_back(std::uint8_t byte) {
    write(&byte, 1);
    return count_;
}

void ByteSink::write(const std::uint8_t* bytes, std::size_t n) {
    while (n > 0) {
        if (!current_) {
            current_ = first_ ? first_ : add_chunk(std::max(chunk_size_, n));
            current_->offset = 0;
        }
        if (current_->used == current_->capacity) {
            Chunk* next = current_->next;
            if (!next) next = add_chunk(std::max(chunk_size_, std::min(n, std::size_t{1} << 20)));
            next->offset = current_->offset + current_->used;
            current_ = next;
            continue;
        }
        const std::size_t k = std::min(n, current_->capacity - current_->used);
        std::memcpy(current_->start.get() + current_->used, bytes, k);
        current_->used += k;
        count_ += k;
        bytes += k;
        n -= k;
    }
}

void ByteSink::reserve(std::size_t size) {
    if (capacity_ < size) add_chunk(size - capacity_);
}

void ByteSink::append(ByteSink& other) {
    if (&other == this || !other.first_) return;
    // Unused chunks behind the write position would sit between the two runs of bytes.
    if (current_) {
        Chunk* c = current_->next;
        while (c) {
            Chunk* next = c->next;
            capacity_ -= c->capacity;
            delete c;
            c = next;
        }
        current_->next = nullptr;
        last_ = current_;
    } else {
        free_chunks();
    }
    std::size_t offset = count_;
    for (Chunk* c = other.first_; c; c = c->next) {
        c->offset = offset;
        offset += c->used;
    }
    if (last_) {
        last_->next = other.first_;
        other.first_->prev = last_;
    } else {
        first_ = other.first_;
    }
    last_ = other.last_;
    current_ = other.current_ ? other.current_ : other.first_;
    count_ += other.count_;
    capacity_ += other.capacity_;
    other.first_ = other.last_ = other.current_ = nullptr;
    other.count_ = 0;
    other.capacity_ = 0;
}

void ByteSink::swap(ByteSink& other) noexcept {
    std::swap(current_, other.current_);
    std::swap(chunk_size_, other.chunk_size_);
    std::swap(count_, other.count_);
    std::swap(capacity_, other.capacity_);
    std::swap(first_, other.first_);
    std::swap(last_, other.last_);
}

ByteSink::const_iterator ByteSink::begin() const {
    const_iterator it(this, first_, 0);
    it.settle();
    return it;
}

std::string ByteSink::str() const {
    std::string out;
    out.reserve(count_);
    for_each_segment([&](const std::uint8_t* p, std::size_t n) {
        out.append(reinterpret_cast<const char*>(p), n);
    });
    return out;
}

std::vector<std::uint8_t> ByteSink::to_vector() const {
    std::vector<std::uint8_t> out;
    out.reserve(count_);
    for_each_segment(
        [&](const std::uint8_t* p, std::size_t n) { out.insert(out.end(), p, p + n); });
    return out;
}

void ByteSink::const_iterator::settle() {
    while (chunk_ && index_ >= chunk_->used) {
        chunk_ = chunk_->next;
        index_ = 0;
    }
    if (!chunk_) index_ = 0;
}

ByteSink::const_iterator& ByteSink::const_iterator::operator++() {
    if (!chunk_) return *this;
    ++index_;
    settle();
    return *this;
}

ByteSink::const_iterator& ByteSink::const_iterator::operator--() {
    if (chunk_ && index_ > 0) {
        --index_;
        return *this;
    }
    const Chunk* c = chunk_ ? chunk_->prev : (sink_ ? sink_->last_ : nullptr);
    while (c && c->used == 0)
        c = c->prev;
    if (!c) return *this; // already at the beginning
    chunk_ = c;
    index_ = c->used - 1;
    return *this;
}

std::size_t ByteSink::const_iterator::offset() const {
    if (!chunk_) return sink_ ? sink_->count_ : 0;
    return chunk_->offset + index_;
}

ByteSink::const_iterator& ByteSink::const_iterator::seek(std::ptrdiff_t distance) {
    if (!sink_) return *this;
    const auto size = static_cast<std::ptrdiff_t>(sink_->count_);
    std::ptrdiff_t target = static_cast<std::ptrdiff_t>(offset()) + distance;
    target = std::clamp<std::ptrdiff_t>(target, 0, size);
    if (target == size) {
        chunk_ = nullptr;
        index_ = 0;
        return *this;
    }
    const auto t = static_cast<std::size_t>(target);
    // Within the chunk when possible, otherwise along the list by logical offsets.
    const Chunk* c = chunk_ ? chunk_ : sink_->last_;
    while (c && (c->used == 0 || t < c->offset))
        c = c->prev;
    if (!c) c = sink_->first_;
    while (c && (c->used == 0 || t >= c->offset + c->used))
        c = c->next;
    chunk_ = c;
    index_ = c ? t - c->offset : 0;
    return *this;
}

} // namespace PdfParser
