#include "common/runtime_error.h"

namespace kz {

std::string StandardDescription(int32_t number) {
  switch (number) {
    case err::kOverflow:
      return "Overflow";
    case err::kSubscriptOutOfRange:
      return "Subscript out of range";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kFileNotFound:
      return "File not found";
    case err::kInputPastEnd:
      return "Input past end of file";
    case err::kInvalidUseOfNull:
      return "Invalid use of Null";
    case err::kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted. Requested "
             "operation requires a current record.";
    case err::kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal.";
    case err::kObjectClosed:
      return "Operation is not allowed when the object is closed.";
    default:
      return "Application-defined or object-defined error";
  }
}

void Raise(int32_t number, std::string description) {
  if (description.empty()) description = StandardDescription(number);
  throw RuntimeError(number, std::move(description));
}

}  // namespace kz
