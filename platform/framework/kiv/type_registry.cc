#include "platform/framework/kiv/type_registry.h"

#include <map>
#include <mutex>

namespace Kiv {
namespace {

struct Registry {
   std::mutex mutex;
   std::map<String, Ptr<TypeNode>> nodes;
   std::vector<String> order;
};

Registry& registry() {
   static Registry instance;
   return instance;
}

}  // namespace

void TypeNode::attributeIs(AttributeDescriptor attribute) {
   members_.push_back({MemberDescriptor::Kind::attribute, attribute.name});
   attributes_.push_back(std::move(attribute));
}

void TypeNode::operationIs(OperationDescriptor operation) {
   members_.push_back({MemberDescriptor::Kind::operation, operation.name});
   operations_.push_back(std::move(operation));
}

void TypeNode::collectionIs(CollectionDescriptor collection) {
   members_.push_back({MemberDescriptor::Kind::collection, collection.name});
   collections_.push_back(std::move(collection));
}

void TypeNode::valueAttributeIs(ValueAttributeDescriptor attribute) {
   members_.push_back({MemberDescriptor::Kind::attribute, attribute.name});
   valueAttributes_.push_back(std::move(attribute));
}

void TypeNode::valueCollectionIs(ValueCollectionDescriptor collection) {
   members_.push_back({MemberDescriptor::Kind::collection, collection.name});
   valueCollections_.push_back(std::move(collection));
}

std::any TypeNode::valueAttribute(const std::any& value, const String& attribute) const {
   for (const ValueAttributeDescriptor& descriptor : valueAttributes_) {
      if (descriptor.name == attribute) return descriptor.read(value);
   }
   throwTypeException(typeErrorText(name_, attribute));
}

std::any TypeNode::valueMember(const std::any& value, const String& collection,
                               const std::any& key) const {
   for (const ValueCollectionDescriptor& descriptor : valueCollections_) {
      if (descriptor.name == collection) return descriptor.lookup(value, key);
   }
   throwTypeException(typeErrorText(name_, collection));
}

String TypeNode::valueText(const std::any& value) const {
   if (!text_) throwTypeException(typeErrorText(name_, "valueText"));
   return text_(value);
}

std::any TypeNode::attribute(const PtrInterface& object, const String& attribute) const {
   for (const AttributeDescriptor& descriptor : attributes_) {
      if (descriptor.name == attribute) return descriptor.read(object);
   }
   throwTypeException(typeErrorText(name_, attribute));
}

std::any TypeNode::invoke(PtrInterface& object, const String& operation,
                          const Arguments& args) const {
   for (const OperationDescriptor& descriptor : operations_) {
      if (descriptor.name == operation && descriptor.accepts(args)) {
         return descriptor.invoke(object, args);
      }
   }
   throwTypeException(
       typeErrorText(name_, operation + " with " + std::to_string(args.size()) + " arguments"));
}

const CollectionDescriptor& TypeNode::collectionNamed(const String& collection) const {
   for (const CollectionDescriptor& descriptor : collections_) {
      if (descriptor.name == collection) return descriptor;
   }
   throwTypeException(typeErrorText(name_, collection));
}

std::any TypeNode::member(PtrInterface& object, const String& collection,
                          const std::any& key) const {
   return collectionNamed(collection).lookup(object, key);
}

std::any TypeNode::memberIs(PtrInterface& object, const String& collection,
                            const Arguments& args) const {
   const OperationDescriptor& findOrCreate = collectionNamed(collection).findOrCreate;
   if (!findOrCreate.accepts(args)) {
      throwTypeException(typeErrorText(name_, collection + "Is with these arguments"));
   }
   return findOrCreate.invoke(object, args);
}

std::any TypeNode::memberDel(PtrInterface& object, const String& collection,
                             const std::any& key) const {
   return collectionNamed(collection).del(object, key);
}

Ptr<PtrInterface> TypeNode::newEntityForDir(const Name& name, const Ptr<Entity>& directory) const {
   if (!factory_) throwTypeException(typeErrorText(name_, "newEntityForDir"));
   Ptr<PtrInterface> object = factory_(name, directory);
   // A directory holds what it makes under its attribute "entity", keyed by name.
   if (auto* entity = dynamic_cast<Entity*>(object.ptr()); entity && directory) {
      entity->parentIs(directory.ptr(), "entity");
   }
   return object;
}

void typeNodeIs(const Ptr<TypeNode>& node) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   auto [it, inserted] = r.nodes.emplace(node->name(), node);
   if (!inserted && it->second != node) {
      throwNameInUseException("type " + node->name() + " is already registered");
   }
   if (inserted) r.order.push_back(node->name());
}

Ptr<TypeNode> typeNode(const String& name) {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   auto it = r.nodes.find(name);
   return it == r.nodes.end() ? Ptr<TypeNode>() : it->second;
}

std::vector<String> typeNodeNames() {
   Registry& r = registry();
   std::lock_guard<std::mutex> guard(r.mutex);
   return r.order;
}

}  // namespace Kiv
