#include "data/connection_text.h"

#include <vector>

namespace kz {

namespace {

// One "name=value" item of a connection text.
struct Item {
  std::string_view name;
  std::string_view value;
};

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    const auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch; };
    if (lower(a[k]) != lower(b[k])) return false;
  }
  return true;
}

bool IsPasswordName(std::string_view name) {
  return SameName(name, "PWD") || SameName(name, "Password");
}

// The items in order. A piece without "=" is no item and is skipped; the name
// ends at the first "=", so the value may hold further "=".
std::vector<Item> Items(std::string_view text) {
  std::vector<Item> items;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(';', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(begin, end - begin);
    const size_t equals = piece.find('=');
    if (equals != std::string_view::npos) {
      items.push_back(Item{TrimBlanks(piece.substr(0, equals)), piece.substr(equals + 1)});
    }
    begin = end + 1;
  }
  return items;
}

}  // namespace

ConnectionTarget ParseConnectionText(std::string_view text) {
  ConnectionTarget target;
  // The first item that gives a value wins, as with a driver reading the
  // items left to right and ignoring repeats.
  bool have_location = false, have_user = false, have_password = false, have_charset = false,
       have_role = false;
  for (const Item& item : Items(text)) {
    if (!have_location && (SameName(item.name, "DBNAME") || SameName(item.name, "Data Source"))) {
      target.location = item.value;
      have_location = true;
    } else if (!have_user && (SameName(item.name, "UID") || SameName(item.name, "User"))) {
      target.user = item.value;
      have_user = true;
    } else if (!have_password && IsPasswordName(item.name)) {
      target.password = item.value;
      have_password = true;
    } else if (!have_role && SameName(item.name, "ROLE")) {
      target.role = TrimBlanks(item.value);
      have_role = true;
    } else if (!have_charset && SameName(item.name, "CHARSET") && !item.value.empty()) {
      // An empty character set leaves the default.
      target.charset = item.value;
      have_charset = true;
    }
  }
  return target;
}

}  // namespace kz
