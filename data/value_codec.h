#pragma once

// Internal to the data layer: database values to and from the client
// library's message buffers.

#include <firebird/Interface.h>

#include <string>
#include <vector>

#include "common/value.h"

namespace kz {

// Where and how a column lies in a fetched row. Read once when a cursor
// opens, so that reading a field makes no call into the client library.
struct ColumnLayout {
  unsigned type = 0;  // SQL_xxx without the nullable bit
  int scale = 0;
  unsigned offset = 0;
  unsigned null_offset = 0;
  unsigned length = 0;
  unsigned charset = 0;  // of a text column: how its bytes are encoded
  std::string alias;     // the column's name as the server gives it
};

// The layout of every column of `meta`. Throws FbException.
std::vector<ColumnLayout> ReadLayout(Firebird::IMessageMetadata* meta);

// A column of a fetched row: SMALLINT→Integer, INTEGER→Long, BIGINT→Long
// when it fits (else Double), NUMERIC/DECIMAL of scale 1 to 4→Currency,
// larger scales and floating types→Double, DATE/TIMESTAMP→Date,
// CHAR/VARCHAR→Text (CHAR padding kept: a CHAR(n) is n characters, also
// in UTF-8, where the client's buffer holds up to 4n bytes), NULL→Null.
Value DecodeColumn(const ColumnLayout& column, const unsigned char* buf);

// Writes `v` as input parameter `i` of `msg`, converted to the parameter's
// declared type. Null and Empty write a null.
void EncodeParam(Firebird::IMessageMetadata* meta, unsigned i, const Value& v,
                 std::vector<unsigned char>& msg);

}  // namespace kz
