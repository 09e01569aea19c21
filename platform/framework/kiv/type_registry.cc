#include "platform/framework/kiv/type_registry.h"

#include <map>
#include <mutex>

namespace Kiv {
namespace {

struct Registry {
   std::mutex mutex;
   std::map<String, Ptr<TypeNode>> nodes;
};

Registry& registry() {
   static Registry instance;
   return instance;
}

}  // namespace

std::any TypeNode::attribute(const PtrInterface& object, const String& attribute) const {
   for (const AttributeDescriptor& descriptor : attributes_) {
      if (descriptor.name == attribute) return descriptor.read(object);
   }
   throwTypeException(typeErrorText(name_, attribute));
}

std::any TypeNode::invoke(PtrInterface& object, const String& operation,
                          const Arguments& args) const {
   for (const OperationDescriptor& descriptor : operations_) {
      if (descriptor.name != operation) continue;
      if (args.size() != descriptor.arity) {
         throwTypeException(typeErrorText(
             name_, operation + " with " + std::to_string(args.size()) + " arguments"));
      }
      return descriptor.invoke(object, args);
   }
   throwTypeException(typeErrorText(name_, operation));
}

Ptr<PtrInterface> TypeNode::newEntityForDir(const Name& name, const Ptr<Entity>& directory) const {
   if (!factory_) throwTypeException(typeErrorText(name_, "newEntityForDir"));
   return factory_(name, directory);
}

void typeNodeIs(const Ptr<TypeNode>& node) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   auto [it, inserted] = r.nodes.emplace(node->name(), node);
   if (!inserted && it->second != node) {
      throwNameInUseException("type " + node->name() + " is already registered");
   }
}

Ptr<TypeNode> typeNode(const String& name) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   auto it = r.nodes.find(name);
   return it == r.nodes.end() ? Ptr<TypeNode>() : it->second;
}

}  // namespace Kiv
