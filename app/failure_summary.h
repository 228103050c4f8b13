#pragma once

#include <QString>

#include <string>
#include <vector>

namespace hgt {

// The message at the end of a command that lists what went wrong with its tiles, bounded so that
// the box always fits on the screen: the first kMaxListed messages, each cut in the middle when it
// is longer than kMaxLineLength characters, then how many more there are. The run report has them
// all in full. Empty when nothing went wrong.
inline constexpr int kMaxListed = 10;
inline constexpr int kMaxLineLength = 200;

QString failureSummary(const std::vector<std::string>& messages);

} // namespace hgt
