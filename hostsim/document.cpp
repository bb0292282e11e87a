#include "hostsim/document.h"

namespace hostsim {

std::optional<std::int32_t> Annotation::Attribute(std::string_view name) const {
  for (const auto& [key, value] : attributes) {
    if (key == name) return value;
  }
  return std::nullopt;
}

bool Annotation::SetAttribute(std::string_view name, std::int32_t value) {
  for (auto& [key, current] : attributes) {
    if (key == name) {
      current = value;
      return true;
    }
  }
  if (attributes.size() >= kMaxObjectMembers) return false;
  attributes.emplace_back(std::string(name), value);
  return true;
}

}  // namespace hostsim
