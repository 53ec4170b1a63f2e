// A bounded single-producer single-consumer ring without locks: one thread pushes, one other
// thread pops, neither ever waits for the other. Storage is allocated once, at construction.
#pragma once

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <memory>

namespace qv {

template <typename T>
class SpscRing {
public:
    explicit SpscRing(size_t capacity) : capacity_(capacity), items_(new T[capacity]) {
        assert(capacity > 0);
    }
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    size_t Capacity() const { return capacity_; }

    // Producer: appends up to `count` items, as many as there is room for; returns how many.
    size_t Push(const T* items, size_t count) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t n = std::min(count, capacity_ - (tail - head));
        for (size_t i = 0; i < n; ++i) items_[(tail + i) % capacity_] = items[i];
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }
    bool Push(const T& item) { return Push(&item, 1) == 1; }

    // Consumer: removes up to `count` items into `out`, oldest first; returns how many.
    size_t Pop(T* out, size_t count) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        const size_t n = std::min(count, tail - head);
        for (size_t i = 0; i < n; ++i) out[i] = items_[(head + i) % capacity_];
        head_.store(head + n, std::memory_order_release);
        return n;
    }
    bool Pop(T& item) { return Pop(&item, 1) == 1; }

    // Either side: the items waiting at this moment.
    size_t Size() const {
        return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
    }

private:
    const size_t capacity_;
    std::unique_ptr<T[]> items_;
    // Free-running counts of items ever pushed and popped; their difference is the fill level.
    // Apart on their own cache lines so the two threads do not slow each other down.
    alignas(64) std::atomic<size_t> tail_{0};
    alignas(64) std::atomic<size_t> head_{0};
};

}  // namespace qv
