// The live feeds the [Feeds] settings turn on, ready to attach to the
// readings' assembler. Problems (a value that cannot be used, a port that
// cannot be bound, the broker's state) go to the report callback on the
// caller's thread.
#pragma once

#include "display/data/reading.h"
#include "display/feeds/feed_settings.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace veltaro::feeds {

using Report = std::function<void(const std::string& message)>;

std::vector<std::unique_ptr<data::ReadingOutput>>
StartFeeds(const std::map<std::string, std::string>& keys, const Report& report);

} // namespace veltaro::feeds
