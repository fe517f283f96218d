#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kz {

// Error numbers that operators know from the host application's run time.
namespace err {
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kInputPastEnd = 62;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kNoCurrentRecord = 3021;
inline constexpr int32_t kItemNotFound = 3265;
inline constexpr int32_t kObjectClosed = 3704;
}  // namespace err

// A run-time error: a number and a description. Database errors carry the
// server's SQLCODE as number and its formatted status text as description.
class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

// Raises the run-time error with the standard description of `number`
// (Overflow, Type mismatch, ...), or with `description` when given.
[[noreturn]] void Raise(int32_t number, std::string description = {});

// The standard description of a classic error number ("Overflow", ...).
std::string StandardDescription(int32_t number);

}  // namespace kz
