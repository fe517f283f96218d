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

// What the database's status vector says an error is, where the batch acts on
// it. Only the data layer sets it; every other error is kOther.
enum class ErrorKind {
  kOther,
  kLockConflict,    // a row lock held by another transaction (update conflict, deadlock)
  kUniqueKey,       // a PRIMARY or UNIQUE KEY constraint
  kCancelled,       // the running statement was cancelled (a stop request)
  kConnectionLost,  // the network or the server went away; the outcome of the call is unknown
  // The run cannot go on past this error and must be rolled back, even where
  // a routine would record an error and carry on:
  kLockTimeout,  // the transaction's lock timeout ran out
  kLockStuck,    // a step met lock conflicts again and again, or a deadlock
};

// A run-time error: a number and a description. Database errors carry the
// server's SQLCODE as number and its formatted status text as description,
// the kind read from the status vector, the number of the transaction that
// held the row (lock conflicts) and the family of the statement that failed.
class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int32_t number, std::string description, ErrorKind kind = ErrorKind::kOther,
               int64_t holder = 0, std::string statement = {})
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        kind_(kind),
        holder_(holder),
        statement_(std::move(statement)) {}

  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }
  ErrorKind Kind() const { return kind_; }
  // The concurrent transaction named by a lock conflict; 0 when none.
  int64_t Holder() const { return holder_; }
  // "UPDATE TB_CTG_CADPLA", "EXECUTE PROCEDURE X"...; empty when not a statement's.
  const std::string& Statement() const { return statement_; }
  // Whether the run must be rolled back whatever routine meets this error.
  bool EndsRun() const {
    return kind_ == ErrorKind::kLockTimeout || kind_ == ErrorKind::kLockStuck;
  }

 private:
  int32_t number_;
  std::string description_;
  ErrorKind kind_;
  int64_t holder_;
  std::string statement_;
};

// Raises the run-time error with the standard description of `number`
// (Overflow, Type mismatch, ...), or with `description` when given.
[[noreturn]] void Raise(int32_t number, std::string description = {});

// The standard description of a classic error number ("Overflow", ...).
std::string StandardDescription(int32_t number);

}  // namespace kz
