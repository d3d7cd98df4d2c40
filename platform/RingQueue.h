// A FIFO queue on a growable ring buffer: pushing and popping reuse the same storage, so a
// steady stream of messages allocates nothing once the ring is large enough.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace platform {

template <typename T>
class RingQueue {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }

  T& front() { return slots_[head_]; }
  const T& front() const { return slots_[head_]; }
  // Element i counted from the front.
  T& operator[](std::size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }
  const T& operator[](std::size_t i) const { return slots_[(head_ + i) & (slots_.size() - 1)]; }

  void push_back(const T& value) {
    if (size_ == slots_.size()) Grow();
    slots_[(head_ + size_) & (slots_.size() - 1)] = value;
    ++size_;
  }
  void pop_front() {
    head_ = (head_ + 1) & (slots_.size() - 1);
    --size_;
  }

 private:
  void Grow() {
    std::vector<T> bigger(slots_.empty() ? 64 : slots_.size() * 2);  // stays a power of two
    for (std::size_t i = 0; i < size_; ++i) bigger[i] = std::move((*this)[i]);
    slots_ = std::move(bigger);
    head_ = 0;
  }

  std::vector<T> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace platform
