#pragma once

// Shared by the fuzz targets: the input format and the property checks.
//
// An input is lines separated by "\n", so that seeds stay readable and easy to
// write by hand. A line "<count>*<text>" stands for <text> written <count>
// times, so that a short input can reach the 5000- and 32767-character limits
// of the routines. A failed property prints what failed and aborts, which
// libFuzzer reports as a crash and keeps the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kz::fuzz {

// No expanded line is longer than this: enough to pass position 32767.
inline constexpr size_t kMaxLine = 40000;

// Whether a line has the form "<count>*<text>" (one to six digits).
inline bool IsRepetition(std::string_view line) {
  size_t star = line.find('*');
  if (star == std::string_view::npos || star == 0 || star > 6) return false;
  for (size_t i = 0; i < star; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return true;
}

inline std::string ExpandLine(std::string_view line) {
  if (!IsRepetition(line)) return std::string(line);
  size_t star = line.find('*');
  size_t count = 0;
  for (size_t i = 0; i < star; ++i) count = count * 10 + static_cast<size_t>(line[i] - '0');
  std::string_view piece = line.substr(star + 1);
  std::string out;
  if (piece.empty()) return out;
  if (count > kMaxLine / piece.size()) count = kMaxLine / piece.size();
  out.reserve(count * piece.size());
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

inline std::vector<std::string> Lines(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  for (;;) {
    size_t end = all.find('\n');
    lines.push_back(ExpandLine(all.substr(0, end)));
    if (end == std::string_view::npos) return lines;
    all.remove_prefix(end + 1);
  }
}

// The line at `i`, or "" past the end.
inline const std::string& LineAt(const std::vector<std::string>& lines, size_t i) {
  static const std::string kNone;
  return i < lines.size() ? lines[i] : kNone;
}

// The whole number a text begins with (optional "-", then digits), wrapping
// on overflow; 0 when there is none. Used to read the fuzzer's choices.
inline int64_t ChoiceNumber(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  return static_cast<int64_t>(negative ? 0 - n : n);
}

// Printable form of a text for a failure message, cut to a few hundred bytes.
inline std::string Shown(std::string_view text) {
  constexpr size_t kShown = 300;
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (text.size() > kShown) out += "...(" + std::to_string(text.size()) + " bytes)";
  return out + "\"";
}

[[noreturn]] inline void Fail(const char* file, int line, const char* property,
                              const std::string& detail) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n  %s\n", file, line, property, detail.c_str());
  std::abort();
}

}  // namespace kz::fuzz

// Checks a property of the routine under test; `detail` (a std::string) says
// which values were involved.
#define KZ_FUZZ_CHECK(property, detail)                                         \
  do {                                                                          \
    if (!(property)) ::kz::fuzz::Fail(__FILE__, __LINE__, #property, (detail)); \
  } while (0)
