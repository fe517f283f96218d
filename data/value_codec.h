#pragma once

// Internal to the data layer: database values to and from the client
// library's message buffers.

#include <firebird/Interface.h>

#include <vector>

#include "common/value.h"

namespace kz {

// Column `i` of a fetched row: SMALLINT→Integer, INTEGER→Long, BIGINT→Long
// when it fits (else Double), NUMERIC/DECIMAL of scale 1 to 4→Currency,
// larger scales and floating types→Double, DATE/TIMESTAMP→Date,
// CHAR/VARCHAR→Text (CHAR padding kept), NULL→Null.
Value DecodeColumn(Firebird::IMessageMetadata* meta, unsigned i, const unsigned char* buf);

// Writes `v` as input parameter `i` of `msg`, converted to the parameter's
// declared type. Null and Empty write a null.
void EncodeParam(Firebird::IMessageMetadata* meta, unsigned i, const Value& v,
                 std::vector<unsigned char>& msg);

}  // namespace kz
