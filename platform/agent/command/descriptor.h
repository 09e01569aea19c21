#pragma once

#include <utility>

namespace Agent {

// Owns one descriptor and closes it; -1 owns none.
class Descriptor {
public:
   explicit Descriptor(int fd = -1) : fd_(fd) {}
   Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
   ~Descriptor();
   Descriptor& operator=(Descriptor&&) = delete;
   int fd() const { return fd_; }
   // Hands the descriptor to a new owner and owns none.
   int release() { return std::exchange(fd_, -1); }

private:
   int fd_;
};

}  // namespace Agent
