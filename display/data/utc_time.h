// Times as the data layer writes them: ISO 8601 in UTC with a "Z", and the
// receive time of an exchange-file record in milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltaro::data {

// "2015-05-03T14:07:09Z" for seconds since 1970-01-01 UTC.
std::string IsoSeconds(std::int64_t seconds);
// "2015-05-03T14:07:09.250Z" for milliseconds since 1970-01-01 UTC.
std::string IsoMillis(std::int64_t millis);

// Milliseconds since 1970-01-01 UTC of "2015-05-03T14:07:09Z", with or
// without a fraction of up to three digits ("...09.250Z"); none for any
// other text or a date that does not exist.
std::optional<std::int64_t> ParseIsoMillis(std::string_view text);

// The receive time of a P or N record in milliseconds since 1970 UTC, from
// its six time fields starting at field `year_field` (0 is the record kind):
// year, month, day, hour, minute and seconds with their fraction. None when
// the record has no such fields or they are not numbers.
std::optional<std::int64_t> ReceiveMillis(std::string_view record, std::size_t year_field);

} // namespace veltaro::data
