#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kz {

// What the native client needs from a connection text of ";"-separated
// "name=value" items. Item names are matched without regard to case; values
// are taken unchanged (a value may hold "="): location from DBNAME or
// Data Source, user from UID or User, password from PWD or Password,
// character set from CHARSET (empty when none is named), SQL role from ROLE.
struct ConnectionTarget {
  std::string location;
  std::string user;
  std::string password;
  std::string role;
  std::string charset;  // empty when none is named
};

ConnectionTarget ParseConnectionText(std::string_view text);

}  // namespace kz
