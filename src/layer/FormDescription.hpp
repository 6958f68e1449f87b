#pragma once
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kestrane {

// A symbol in a description: an enumeration value (alClient), a component (MainMenu1) or, for an
// event, the name of the form's handler (TimerTimer).
struct Ident {
    std::string name;
};
// A set of symbols, [] when empty.
struct IdentSet {
    std::vector<std::string> names;
};

// Strings are UTF-8; the layer converts them where they meet code-page bytes.
using PropertyValue = std::variant<int64_t, bool, std::string, Ident, IdentSet>;

struct PropertySetting {
    std::string name;  // "Caption", "Font.Height", "OnTimer"
    PropertyValue value;
};

// One object of a stored description: its settings in the order they are applied, then its
// children in the order they are created.
struct ComponentDescription {
    std::string name;
    std::string className;
    std::vector<PropertySetting> settings;
    std::vector<ComponentDescription> children;
};

}  // namespace kestrane
