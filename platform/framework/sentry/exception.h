#pragma once

#include <cstddef>
#include <exception>

#include "platform/framework/kiv/string.h"

namespace Sentry {

// Base of the platform library's exceptions; msg() is the text the thrower composed.
class Exception : public std::exception {
public:
   explicit Exception(Kiv::String msg) : msg_(std::move(msg)) {}
   const Kiv::String& msg() const { return msg_; }
   const char* what() const noexcept override { return msg_.c_str(); }

private:
   Kiv::String msg_;
};

// A read of shared memory found the store inconsistent.
class CorruptionDetectedException : public Exception {
public:
   using Exception::Exception;
};

// A fixed-capacity container was asked to hold more than it can.
class InvalidSizeException : public Exception {
public:
   using Exception::Exception;
};

// Lowercase hex of `size` bytes at `data`, two digits per byte, separated by single blanks.
Kiv::String dumpHex(const void* data, size_t size);

}  // namespace Sentry
