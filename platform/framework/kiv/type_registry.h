#pragma once

#include <any>
#include <functional>
#include <string>
#include <type_traits>
#include <typeinfo>
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
   // Whether the arguments have the operation's types, so that overloads can be told apart.
   std::function<bool(const Arguments&)> accepts;
   std::function<std::any(PtrInterface&, const Arguments&)> invoke;
};

// A collection attribute: its members looked up, found or created (with the member's
// constructor arguments), and deleted, by key.
struct CollectionDescriptor {
   String name;
   std::function<std::any(PtrInterface&, const std::any& key)> lookup;
   OperationDescriptor findOrCreate;
   std::function<std::any(PtrInterface&, const std::any& key)> del;
};

// A value type is reached by copy, not through a pointer: its attributes read, and its
// collections look up a key in, a value of the type carried in std::any.
struct ValueAttributeDescriptor {
   String name;
   std::function<std::any(const std::any& value)> read;
};

struct ValueCollectionDescriptor {
   String name;
   std::function<std::any(const std::any& value, const std::any& key)> lookup;
};

// One entry of a type's declaration order.
struct MemberDescriptor {
   enum class Kind { attribute, operation, collection };
   Kind kind;
   String name;
};

// Creates an object of the type for a directory entry named `name` in `directory`.
using DirectoryFactory =
    std::function<Ptr<PtrInterface>(const Name& name, const Ptr<Entity>& directory)>;

// The descriptor a type registers at library load: its name, its attributes, collections and
// invocable operations (overloads included) in declaration order, and optionally a factory.
class TypeNode : public PtrInterface {
public:
   explicit TypeNode(String name) : name_(std::move(name)) {}

   const String& name() const { return name_; }
   // Attributes, collections and operations together, in the order they were declared.
   const std::vector<MemberDescriptor>& members() const { return members_; }

   void attributeIs(AttributeDescriptor attribute);
   void operationIs(OperationDescriptor operation);
   void collectionIs(CollectionDescriptor collection);
   void valueAttributeIs(ValueAttributeDescriptor attribute);
   void valueCollectionIs(ValueCollectionDescriptor collection);
   // The generic text of a value type's value, as attribute displays show it.
   void valueTextIs(std::function<String(const std::any& value)> text) { text_ = std::move(text); }
   void factoryIs(DirectoryFactory factory) { factory_ = std::move(factory); }
   bool hasFactory() const { return static_cast<bool>(factory_); }

   // Reads attribute `attribute` of `object`. Throws the type error for an unknown name.
   std::any attribute(const PtrInterface& object, const String& attribute) const;
   // Invokes the operation `operation` of `object` whose overload takes `args`. Throws the
   // type error when no operation of that name takes them.
   std::any invoke(PtrInterface& object, const String& operation, const Arguments& args) const;
   // A collection's member under `key`, null when absent; find-or-create with the member's
   // constructor arguments (which raises the name-in-use error when the member exists with
   // other ones); delete, returning the removed member. Throws the type error for an unknown
   // collection or arguments of the wrong types.
   std::any member(PtrInterface& object, const String& collection, const std::any& key) const;
   std::any memberIs(PtrInterface& object, const String& collection, const Arguments& args) const;
   std::any memberDel(PtrInterface& object, const String& collection, const std::any& key) const;
   // The same for a value type's value. Each throws the type error for an unknown name, a
   // value of another type or a key of the wrong type.
   std::any valueAttribute(const std::any& value, const String& attribute) const;
   std::any valueMember(const std::any& value, const String& collection, const std::any& key) const;
   String valueText(const std::any& value) const;
   // The factory's object, its parent set to `directory` when it is an entity and there is
   // one. Throws the type error when the type has no factory.
   Ptr<PtrInterface> newEntityForDir(const Name& name, const Ptr<Entity>& directory) const;

private:
   const CollectionDescriptor& collectionNamed(const String& collection) const;

   String name_;
   std::vector<MemberDescriptor> members_;
   std::vector<AttributeDescriptor> attributes_;
   std::vector<OperationDescriptor> operations_;
   std::vector<CollectionDescriptor> collections_;
   std::vector<ValueAttributeDescriptor> valueAttributes_;
   std::vector<ValueCollectionDescriptor> valueCollections_;
   std::function<String(const std::any&)> text_;
   DirectoryFactory factory_;
};

// Registers `node` under its name. Registering another node under a taken name raises the
// name-in-use error; registering the same node again is harmless.
void typeNodeIs(const Ptr<TypeNode>& node);
// The registered descriptor, or null.
Ptr<TypeNode> typeNode(const String& name);
// The names of the registered types, in the order they were registered.
std::vector<String> typeNodeNames();

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

template <class... A, size_t... I>
bool argumentsAre(const Arguments& args, std::index_sequence<I...>) {
   return args.size() == sizeof...(A) && (... && (args[I].type() == typeid(std::decay_t<A>)));
}

template <class T>
T& objectAs(PtrInterface& object, const String& name) {
   auto* self = dynamic_cast<T*>(&object);
   if (!self) throwTypeException(typeErrorText(name, "object of another type"));
   return *self;
}

template <class T, class... A, class Fn>
OperationDescriptor operationFor(String name, Fn fn) {
   return OperationDescriptor{name, sizeof...(A),
                              [](const Arguments& args) {
                                 return argumentsAre<A...>(args, std::index_sequence_for<A...>{});
                              },
                              [fn, name](PtrInterface& object, const Arguments& args) {
                                 return callWith<A...>(objectAs<T>(object, name), fn, args, name,
                                                       std::index_sequence_for<A...>{});
                              }};
}

// A lookup or delete by key, member function `fn` of T taking the key.
template <class T, class K, class Fn>
std::function<std::any(PtrInterface&, const std::any&)> byKey(const String& name, Fn fn) {
   return [fn, name](PtrInterface& object, const std::any& key) {
      return callWith<K>(objectAs<T>(object, name), fn, Arguments{key}, name,
                         std::index_sequence_for<K>{});
   };
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

// Describes a collection of T by its member functions: `lookup` and `del` take the key,
// `findOrCreate` the member's constructor arguments.
template <class T, class R1, class K1, class R2, class... A, class R3, class K3>
CollectionDescriptor collection(String name, R1 (T::*lookup)(K1) const, R2 (T::*findOrCreate)(A...),
                                R3 (T::*del)(K3)) {
   return CollectionDescriptor{name, internal::byKey<T, K1>(name, lookup),
                               internal::operationFor<T, A...>(name, findOrCreate),
                               internal::byKey<T, K3>(name, del)};
}

// The T carried in `value`; throws the type error naming `member` when it carries another type.
template <class T>
const T& valueAs(const std::any& value, const String& member) {
   if (const T* held = std::any_cast<T>(&value)) return *held;
   throwTypeException(typeErrorText(member, "value of another type"));
}

// Describes accessor `read` of value type T as an attribute readable by name.
template <class T, class R>
ValueAttributeDescriptor valueAttribute(String name, R (T::*read)() const) {
   return ValueAttributeDescriptor{name, [read, name](const std::any& value) {
                                      return std::any((valueAs<T>(value, name).*read)());
                                   }};
}

// Describes lookup `lookup` of value type T, taking the key, as a collection.
template <class T, class R, class K>
ValueCollectionDescriptor valueCollection(String name, R (T::*lookup)(K) const) {
   return ValueCollectionDescriptor{
       name, [lookup, name](const std::any& value, const std::any& key) {
          const T& self = valueAs<T>(value, name);
          return std::any((self.*lookup)(internal::argumentAs<K>(Arguments{key}, 0, name)));
       }};
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
