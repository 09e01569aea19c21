#include "platform/framework/trace/ring_descriptor.h"

#include <cstring>
#include <deque>
#include <mutex>

#include "platform/framework/kiv/assert.h"

namespace Kiv {
namespace {

std::vector<String> piecesOf(std::string_view format) {
   std::vector<String> pieces;
   std::size_t start = 0;
   for (std::size_t at = format.find("{}"); at != std::string_view::npos;
        at = format.find("{}", start)) {
      pieces.emplace_back(format.substr(start, at - start));
      start = at + 2;
   }
   pieces.emplace_back(format.substr(start));
   return pieces;
}

// Reads canonical values back out of a payload, in the order they were stored.
class PayloadReader {
public:
   explicit PayloadReader(std::span<const U8> payload) : payload_(payload) {}

   template <class T>
   T fixed() {
      T value;
      std::memcpy(&value, take(sizeof(T)).data(), sizeof(T));
      return value;
   }
   std::string_view text() {
      const auto length = fixed<U32>();
      const std::span<const U8> bytes = take(length);
      return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
   }
   bool done() const { return payload_.empty(); }

private:
   std::span<const U8> take(std::size_t size) {
      KIV_ASSERT(size <= payload_.size());
      const std::span<const U8> taken = payload_.first(size);
      payload_ = payload_.subspan(size);
      return taken;
   }

   std::span<const U8> payload_;
};

// Descriptors are never destroyed: records naming them may be read from any thread at any
// time, static destruction included. A deque keeps references stable as it grows.
struct Registry {
   std::mutex mutex;
   std::deque<RingDescriptor> descriptors;
};

Registry& registry() {
   static Registry* const instance = new Registry;
   return *instance;
}

}  // namespace

void appendRingValue(String& out, bool value) { out += value ? "true" : "false"; }

void appendRingValue(String& out, S64 value) { out += std::to_string(value); }

void appendRingValue(String& out, U64 value) { out += std::to_string(value); }

void appendRingValue(String& out, std::string_view value) { out += value; }

void appendRingValue(String& out, const RingLazyValue& value) { value.append(out, value.bytes); }

RingDescriptor::RingDescriptor(U32 id, std::string_view format, std::span<const RingArgKind> kinds,
                               const char* file, int line, const char* function)
    : id_(id),
      pieces_(piecesOf(format)),
      kinds_(kinds.begin(), kinds.end()),
      file_(file),
      line_(line),
      function_(function) {
   KIV_ASSERT(pieces_.size() == kinds_.size() + 1);
}

String RingDescriptor::render(std::span<const U8> payload) const {
   PayloadReader reader(payload);
   String out = pieces_[0];
   for (std::size_t i = 0; i < kinds_.size(); ++i) {
      switch (kinds_[i]) {
         case RingArgKind::boolean:
            appendRingValue(out, reader.fixed<U8>() != 0);
            break;
         case RingArgKind::signedInteger:
            appendRingValue(out, reader.fixed<S64>());
            break;
         case RingArgKind::unsignedInteger:
            appendRingValue(out, reader.fixed<U64>());
            break;
         case RingArgKind::text:
            appendRingValue(out, reader.text());
            break;
         case RingArgKind::lazyText: {
            const auto append = reader.fixed<RingLazyValue::Append>();
            const std::string_view bytes = reader.text();
            appendRingValue(out,
                            RingLazyValue{append, bytes.data(), static_cast<U32>(bytes.size())});
            break;
         }
      }
      out += pieces_[i + 1];
   }
   KIV_ASSERT(reader.done());
   return out;
}

const RingDescriptor& ringDescriptorIs(std::string_view format, std::span<const RingArgKind> kinds,
                                       const char* file, int line, const char* function) {
   Registry& sites = registry();
   const std::lock_guard<std::mutex> hold(sites.mutex);
   const auto id = static_cast<U32>(sites.descriptors.size());
   return sites.descriptors.emplace_back(id, format, kinds, file, line, function);
}

const RingDescriptor& ringDescriptor(U32 id) {
   Registry& sites = registry();
   const std::lock_guard<std::mutex> hold(sites.mutex);
   KIV_ASSERT(id < sites.descriptors.size());
   return sites.descriptors[id];
}

}  // namespace Kiv
