#include "data/value_codec.h"

#include <ibase.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/caracteres.h"
#include "common/runtime_error.h"
#include "data/fb_session.h"

using namespace Firebird;

namespace kz {
namespace {

template <class T>
T Load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void Store(unsigned char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

Value Scaled(int64_t unscaled, int scale) {
  if (scale == 0) {
    if (unscaled >= INT32_MIN && unscaled <= INT32_MAX)
      return Value(static_cast<int32_t>(unscaled));
    return Value::ExactDouble(unscaled, 0);
  }
  const int places = -scale;
  if (places <= 4) {
    try {
      return Value(Currency::FromScaled(unscaled, places));
    } catch (const RuntimeError&) {
      // Beyond Currency's range: keep the exact digits in a Double.
    }
  }
  return Value::ExactDouble(unscaled, places);
}

DateTime FromIsc(ISC_DATE d, ISC_TIME t) {
  unsigned y = 0, m = 0, day = 0, h = 0, mi = 0, s = 0, frac = 0;
  IUtil* u = FbApi::Get().util;
  u->decodeDate(d, &y, &m, &day);
  u->decodeTime(t, &h, &mi, &s, &frac);
  return DateTime{static_cast<int>(y), static_cast<int>(m),  static_cast<int>(day),
                  static_cast<int>(h), static_cast<int>(mi), static_cast<int>(s)};
}

int64_t Pow10(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// The value as an integer of 10^-places, rounded half to even.
int64_t ToScaledInteger(const Value& v, int places) {
  const int64_t raw = v.ToCurrency().Raw();
  if (places >= 4) {
    const int64_t f = Pow10(places - 4);
    if (raw > INT64_MAX / f || raw < INT64_MIN / f) Raise(err::kOverflow);
    return raw * f;
  }
  const int64_t d = Pow10(4 - places);
  int64_t q = raw / d;
  const int64_t r = raw % d;
  const int64_t twice = 2 * (r < 0 ? -r : r);
  if (twice > d || (twice == d && (q % 2 != 0))) q += raw < 0 ? -1 : 1;
  return q;
}

// Firebird's numbers of the UTF-8 character sets.
constexpr unsigned kCsUnicodeFss = 3;
constexpr unsigned kCsUtf8 = 4;

[[noreturn]] void Truncation() {
  Raise(-802,
        "arithmetic exception, numeric overflow, or string truncation\n-string right "
        "truncation");
}

}  // namespace

std::vector<ColumnLayout> ReadLayout(IMessageMetadata* meta) {
  FbStatus st;
  const unsigned n = meta->getCount(&st);
  std::vector<ColumnLayout> out(n);
  for (unsigned i = 0; i < n; ++i) {
    ColumnLayout& c = out[i];
    c.type = meta->getType(&st, i) & ~1u;
    c.scale = meta->getScale(&st, i);
    c.offset = meta->getOffset(&st, i);
    c.null_offset = meta->getNullOffset(&st, i);
    c.length = meta->getLength(&st, i);
    c.charset = meta->getCharSet(&st, i);
    c.alias = meta->getAlias(&st, i);
  }
  return out;
}

Value DecodeColumn(const ColumnLayout& c, const unsigned char* buf) {
  if (Load<short>(buf + c.null_offset) != 0) return Value::Null();
  const unsigned char* p = buf + c.offset;
  switch (c.type) {
    case SQL_SHORT:
      if (c.scale == 0) return Value(Load<int16_t>(p));
      return Scaled(Load<int16_t>(p), c.scale);
    case SQL_LONG:
      return Scaled(Load<int32_t>(p), c.scale);
    case SQL_INT64:
      return Scaled(Load<int64_t>(p), c.scale);
    case SQL_FLOAT:
      return Value(static_cast<double>(Load<float>(p)));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return Value(Load<double>(p));
    case SQL_TIMESTAMP: {
      const auto ts = Load<ISC_TIMESTAMP>(p);
      return Value(FromIsc(ts.timestamp_date, ts.timestamp_time));
    }
    case SQL_TYPE_DATE:
      return Value(FromIsc(Load<ISC_DATE>(p), 0));
    case SQL_TYPE_TIME: {
      DateTime t = FromIsc(0, Load<ISC_TIME>(p));
      return Value(DateTime{1899, 12, 30, t.hour, t.minute, t.second});
    }
    case SQL_TEXT: {
      const std::string_view texto(reinterpret_cast<const char*>(p), c.length);
      // The buffer of a CHAR(n) in UTF-8 (or UNICODE_FSS) has room for the
      // longest n characters, and the padding fills it: the value is its
      // first n characters, as in a single-byte character set.
      const unsigned bytes = c.charset == kCsUtf8 ? 4 : c.charset == kCsUnicodeFss ? 3 : 1;
      if (bytes == 1) return Value(std::string(texto));
      return Value(std::string(texto.substr(0, BytesDosPrimeirosUtf8(texto, c.length / bytes))));
    }
    case SQL_VARYING: {
      const auto len = Load<uint16_t>(p);
      return Value(std::string(reinterpret_cast<const char*>(p + 2), len));
    }
    case SQL_BOOLEAN:
      return Value(static_cast<int16_t>(*p ? -1 : 0));
    default:
      Raise(err::kTypeMismatch,
            "Type mismatch: column " + c.alias + " has a type this program does not read");
  }
}

void EncodeParam(IMessageMetadata* meta, unsigned i, const Value& v,
                 std::vector<unsigned char>& msg) {
  FbStatus st;
  unsigned char* nul = msg.data() + meta->getNullOffset(&st, i);
  if (v.IsNull() || v.IsEmpty()) {
    Store<short>(nul, -1);
    return;
  }
  Store<short>(nul, 0);
  unsigned char* p = msg.data() + meta->getOffset(&st, i);
  const unsigned len = meta->getLength(&st, i);
  const int places = -meta->getScale(&st, i);
  switch (meta->getType(&st, i) & ~1u) {
    case SQL_SHORT: {
      const int64_t x = places ? ToScaledInteger(v, places) : v.ToInteger();
      if (x < INT16_MIN || x > INT16_MAX) Raise(err::kOverflow);
      Store<int16_t>(p, static_cast<int16_t>(x));
      return;
    }
    case SQL_LONG: {
      const int64_t x = places ? ToScaledInteger(v, places) : v.ToLong();
      if (x < INT32_MIN || x > INT32_MAX) Raise(err::kOverflow);
      Store<int32_t>(p, static_cast<int32_t>(x));
      return;
    }
    case SQL_INT64:
      Store<int64_t>(p, places ? ToScaledInteger(v, places) : v.ToLong());
      return;
    case SQL_FLOAT:
      Store<float>(p, static_cast<float>(v.ToDouble()));
      return;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      Store<double>(p, v.ToDouble());
      return;
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE: {
      const DateTime d = v.ToDate();
      IUtil* u = FbApi::Get().util;
      const ISC_DATE date = u->encodeDate(d.year, d.month, d.day);
      if ((meta->getType(&st, i) & ~1u) == SQL_TYPE_DATE) {
        Store<ISC_DATE>(p, date);
      } else {
        ISC_TIMESTAMP ts{date, u->encodeTime(d.hour, d.minute, d.second, 0)};
        Store<ISC_TIMESTAMP>(p, ts);
      }
      return;
    }
    case SQL_TEXT: {
      const std::string s = v.ToText();
      if (s.size() > len) Truncation();
      std::memset(p, ' ', len);
      std::memcpy(p, s.data(), s.size());
      return;
    }
    case SQL_VARYING: {
      const std::string s = v.ToText();
      if (s.size() > len) Truncation();
      Store<uint16_t>(p, static_cast<uint16_t>(s.size()));
      std::memcpy(p + 2, s.data(), s.size());
      return;
    }
    default:
      Raise(err::kTypeMismatch);
  }
}

}  // namespace kz
