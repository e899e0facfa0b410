// The component registry: creates platform objects by class id, as the page
// code's CreateObject does. Class ids are case-insensitive.
#ifndef OAPX1_PLATFORM_COMPONENTS_COMPONENTS_H_
#define OAPX1_PLATFORM_COMPONENTS_COMPONENTS_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/script/variant.h"

namespace oapx1 {

using ComponentFactory = std::function<std::shared_ptr<Object>()>;

// Registers (or replaces) the factory of a class id.
void register_component(std::string_view class_id, ComponentFactory factory);
// Removes a class id, so creating it fails; for tests of a missing component.
void unregister_component(std::string_view class_id);
// Creates an object of that class; fails with 429 for a class id no one registered.
Variant CreateObject(std::string_view class_id);

// The connection-string provider stand-in: its ConnectString is the database
// URL of the process settings (set_default_database) as resolve_database
// (platform/process/process.h) completes it.
class ConnectStringProvider : public Object {
 public:
  std::string ConnectString() const;
};
// Sets the database URL of the process settings; "" restores the default.
void set_default_database(std::string url);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_COMPONENTS_COMPONENTS_H_
