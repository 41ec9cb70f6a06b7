// Report-line times are written in turn for many lines: each must be right
// whatever time came before it (same second, same day, another day, a year
// outside four digits).
#include "display/decoding/datetime.h"

#include <gtest/gtest.h>

namespace veltaro {
namespace {

struct TimeCase {
    long year, month, day, hour, minute, second;
    const char* shown;
};

TEST(ReportTimeText, EachTimeIsRightWhateverCameBefore) {
    const TimeCase cases[] = {
        {2015, 5, 3, 14, 7, 9, "05/03/2015  14:07:09"},
        {2015, 5, 3, 14, 7, 9, "05/03/2015  14:07:09"},
        {2015, 5, 3, 14, 6, 59, "05/03/2015  14:06:59"},
        {2015, 5, 4, 0, 0, 0, "05/04/2015  00:00:00"},
        {2015, 5, 3, 23, 59, 59, "05/03/2015  23:59:59"},
        {10000, 1, 1, 12, 0, 0, "01/01/10000  12:00:00"},
        {10000, 1, 1, 12, 0, 1, "01/01/10000  12:00:01"},
        {2015, 5, 3, 14, 7, 9, "05/03/2015  14:07:09"},
        {1899, 12, 30, 0, 0, 0, "12/30/1899  00:00:00"},
    };
    for (const TimeCase& c : cases) {
        const DateTime t = MakeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(FormatDateTime(t), c.shown);
        std::string line = "  ";
        AppendDateTime(line, t);
        EXPECT_EQ(line, std::string("  ") + c.shown);
    }
}

} // namespace
} // namespace veltaro
