#pragma once

#include <any>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"

namespace Kiv {

// Arguments and results of generic (by-name) access travel as std::any holding the
// declared C++ type of the parameter (decayed: `const NatHwKey&` travels as NatHwKey).
using Arguments = std::vector<std::any>;

struct AttributeDescriptor {
   String name;
   std::function<std::any(const PtrInterface&)> read;
};

struct OperationDescriptor {
   String name;
   size_t arity;
   std::function<std::any(PtrInterface&, const Arguments&)> invoke;
};

// Creates an object of the type for a directory entry named `name` in `directory`.
using DirectoryFactory =
    std::function<Ptr<PtrInterface>(const Name& name, const Ptr<Entity>& directory)>;

// The descriptor a type registers at library load: its name, its attributes and invocable
// operations in declaration order, and optionally a factory.
class TypeNode : public PtrInterface {
public:
   explicit TypeNode(String name) : name_(std::move(name)) {}

   const String& name() const { return name_; }
   const std::vector<AttributeDescriptor>& attributes() const { return attributes_; }
   const std::vector<OperationDescriptor>& operations() const { return operations_; }

   void attributeIs(AttributeDescriptor attribute) { attributes_.push_back(std::move(attribute)); }
   void operationIs(OperationDescriptor operation) { operations_.push_back(std::move(operation)); }
   void factoryIs(DirectoryFactory factory) { factory_ = std::move(factory); }
   bool hasFactory() const { return static_cast<bool>(factory_); }

   // Reads attribute `attribute` of `object`. Throws the type error for an unknown name.
   std::any attribute(const PtrInterface& object, const String& attribute) const;
   // Invokes operation `operation` of `object`. Throws the type error for an unknown name,
   // a wrong argument count or an argument of the wrong type.
   std::any invoke(PtrInterface& object, const String& operation, const Arguments& args) const;
   // Throws the type error when the type has no factory.
   Ptr<PtrInterface> newEntityForDir(const Name& name, const Ptr<Entity>& directory) const;

private:
   String name_;
   std::vector<AttributeDescriptor> attributes_;
   std::vector<OperationDescriptor> operations_;
   DirectoryFactory factory_;
};

// Registers `node` under its name. Registering another node under a taken name raises the
// name-in-use error; registering the same node again is harmless.
void typeNodeIs(const Ptr<TypeNode>& node);
// The registered descriptor, or null.
Ptr<TypeNode> typeNode(const String& name);

namespace internal {

template <class A>
std::decay_t<A> argumentAs(const Arguments& args, size_t index, const String& operation) {
   using Wanted = std::decay_t<A>;
   if (const Wanted* value = std::any_cast<Wanted>(&args[index])) return *value;
   throwTypeException(typeErrorText(operation, "argument " + std::to_string(index)));
}

// Calls member `fn` (const or not) of `self` with the arguments unpacked as A...
template <class... A, class T, class Fn, size_t... I>
std::any callWith(T& self, Fn fn, const Arguments& args, const String& name,
                  std::index_sequence<I...>) {
   using R = std::invoke_result_t<Fn, T&, std::decay_t<A>...>;
   if constexpr (std::is_void_v<R>) {
      std::invoke(fn, self, argumentAs<A>(args, I, name)...);
      return {};
   } else {
      return std::any(std::invoke(fn, self, argumentAs<A>(args, I, name)...));
   }
}

template <class T, class... A, class Fn>
OperationDescriptor operationFor(String name, Fn fn) {
   return OperationDescriptor{
       name, sizeof...(A), [fn, name](PtrInterface& object, const Arguments& args) {
          auto* self = dynamic_cast<T*>(&object);
          if (!self) throwTypeException(typeErrorText(name, "object of another type"));
          return callWith<A...>(*self, fn, args, name, std::index_sequence_for<A...>{});
       }};
}

}  // namespace internal

// Describes member function `fn` of T as an operation invocable by name.
template <class T, class R, class... A>
OperationDescriptor operation(String name, R (T::*fn)(A...)) {
   return internal::operationFor<T, A...>(std::move(name), fn);
}

template <class T, class R, class... A>
OperationDescriptor operation(String name, R (T::*fn)(A...) const) {
   return internal::operationFor<T, A...>(std::move(name), fn);
}

// Describes accessor `read` of T as an attribute readable by name.
template <class T, class R>
AttributeDescriptor attribute(String name, R (T::*read)() const) {
   return AttributeDescriptor{
       name, [read, name](const PtrInterface& object) {
          const auto* self = dynamic_cast<const T*>(&object);
          if (!self) {
             throwTypeException(typeErrorText(name, "object of another type"));
          }
          return std::any((self->*read)());
       }};
}

}  // namespace Kiv
