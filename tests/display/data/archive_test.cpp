// The archive: rows as stored, a second import that changes nothing, and a
// failing write reported once per outage with nothing lost.
#include "display/data/archive.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"
#include "tests/support/readings.h"
#include "tests/support/sqlite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

namespace veltaro::data {
namespace {

using harness::exchange_content;
using harness::n_record;
using harness::p_record;
using harness::query;
using harness::query_value;

const std::string kTraffic = exchange_content({
    p_record("09.250", {{24, 3}, {9, -1}}),
    n_record("58 02 05 0A 11 2A 00 1E", 0, "1234", {100, 200}), // rain, 2 tips
    n_record("00 01 06 05 34 7F 80 00 00", 0, "1234"),          // general, infinity
    n_record("00 34 A2 7F 05", 1, "66", {}, "12.0000"),         // compact
    n_record("00 07 01 00", 0, "67", {}, "13.0000"),            // no reading listed
});

// Imports content into the archive at path; returns the messages reported.
std::vector<std::string> Import(const std::string& path, const std::string& content) {
    std::vector<std::string> messages;
    Archive archive(path, [&](const std::string& m) { messages.push_back(m); });
    harness::decode_into(content, {&archive});
    EXPECT_EQ(archive.Flush(), messages.empty());
    return messages;
}

std::string Counts(const std::string& path) {
    return query_value(path, "SELECT (SELECT count(*) FROM packets) || ' ' || "
                             "(SELECT count(*) FROM readings) || ' ' || "
                             "(SELECT count(*) FROM tips)");
}

TEST(Archive, StoresEveryPacketReadingAndTipAsDataOnce) {
    const harness::TempDir dir;
    const std::string db = dir.file("veltaro.sqlite");
    EXPECT_TRUE(Import(db, kTraffic).empty());
    EXPECT_EQ(Counts(db), "4 3 2");
    EXPECT_EQ(query_value(db, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(query(db, "SELECT received, source, test, hop_limit, packet_id, bytes, path, "
                        "fec_corrected, fec_failed FROM packets ORDER BY id"),
              (harness::SqlRows{
                  {"2015-05-03T14:07:09.250Z", "1234", "1", "3", "5", "19", "[100,200]", "3", "1"},
                  {"2015-05-03T14:07:09.250Z", "1234", "0", "3", "0", "15", "[]", "3", "1"},
                  {"2015-05-03T14:07:12.000Z", "66", "0", "3", "0", "11", "[]", "NULL", "NULL"},
                  {"2015-05-03T14:07:13.000Z", "67", "0", "3", "0", "10", "[]", "NULL", "NULL"},
              }));
    EXPECT_EQ(query(db, "SELECT packet, received, time, source, kind, sensor, typeof(value), "
                        "value, text, value_type, value_bytes, value_bits FROM readings "
                        "ORDER BY id"),
              (harness::SqlRows{
                  {"1", "2015-05-03T14:07:09.250Z", "2015-05-03T14:07:09Z", "1234", "rain", "10",
                   "integer", "42", "42", "unsigned", "1", "8"},
                  {"2", "2015-05-03T14:07:09.250Z", "2015-05-03T14:07:09Z", "1234", "general", "5",
                   "null", "NULL", "3.40282366920938E+38", "float", "4", "32"},
                  {"3", "2015-05-03T14:07:12.000Z", "2015-05-03T14:07:07Z", "66", "compact", "564",
                   "integer", "1407", "1407", "unsigned", "NULL", "11"},
              }));
    EXPECT_EQ(
        query(db, "SELECT reading, tip, time FROM tips ORDER BY tip"),
        (harness::SqlRows{{"1", "1", "2015-05-03T14:07:09Z"}, {"1", "2", "2015-05-03T14:06:39Z"}}));

    // The same records again, twice over, change nothing.
    const harness::SqlRows before = query(db, "SELECT * FROM readings");
    Archive archive(db, [](const std::string& m) { FAIL() << m; });
    harness::decode_into(kTraffic + kTraffic, {&archive});
    EXPECT_TRUE(archive.Flush());
    EXPECT_EQ(archive.PacketsAdded(), 0);
    EXPECT_EQ(archive.ReadingsAdded(), 0);
    EXPECT_EQ(Counts(db), "4 3 2");
    EXPECT_EQ(query(db, "SELECT * FROM readings"), before);
}

TEST(Archive, RowsHandedOverAreWrittenWhenTheArchiveCloses) {
    const harness::TempDir dir;
    const std::string db = dir.file("veltaro.sqlite");
    {
        Archive archive(db, [](const std::string& m) { FAIL() << m; });
        harness::decode_into(kTraffic, {&archive});
        archive.Commit();
    }
    EXPECT_EQ(Counts(db), "4 3 2");
}

TEST(Archive, LinkQualityLearnedOnALaterImportIsFilledIn) {
    const harness::TempDir dir;
    const std::string db = dir.file("veltaro.sqlite");
    const std::string n = n_record("00 01 04 0A 12 01 F4");
    Import(db, exchange_content({n}));
    EXPECT_EQ(query_value(db, "SELECT fec_corrected FROM packets"), "NULL");
    Import(db, exchange_content({p_record("09.250", {{24, 6}}), n}));
    EXPECT_EQ(query_value(db, "SELECT fec_corrected || '/' || fec_failed FROM packets"), "6/0");
    EXPECT_EQ(Counts(db), "1 1 0");
}

// Holds the database with a write transaction of its own.
struct Holder {
    explicit Holder(const std::string& path) {
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    }
    ~Holder() {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    sqlite3* db = nullptr;
};

TEST(Archive, AFailingWriteIsReportedOncePerOutageAndNothingIsLost) {
    struct Case {
        const char* name;
        std::string file;   // the archive, in the test folder
        std::string reason; // the start of the message
        std::function<std::function<void()>(const harness::TempDir&)> fail; // returns the fix
    };
    const Case cases[] = {
        {"folder missing", "gone/veltaro.sqlite", "unable to open database file",
         [](const harness::TempDir& dir) {
             return [&dir] { harness::fs::create_directory(dir / "gone"); };
         }},
        {"not a database", "veltaro.sqlite", "file is not a database",
         [](const harness::TempDir& dir) {
             harness::write_file(dir / "veltaro.sqlite", std::string(4096, 'x'));
             return [&dir] { harness::fs::remove(dir / "veltaro.sqlite"); };
         }},
        {"held by another writer", "veltaro.sqlite", "database is locked",
         [](const harness::TempDir& dir) {
             Import(dir.file("veltaro.sqlite"), kTraffic);
             auto holder = std::make_shared<Holder>(dir.file("veltaro.sqlite"));
             return [holder]() mutable { holder.reset(); };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const harness::TempDir dir;
        const std::function<void()> fix = c.fail(dir);
        const std::string db = dir.file(c.file);
        std::vector<std::string> messages;
        {
            Archive archive(db, [&](const std::string& m) { messages.push_back(m); });
            const std::string second = exchange_content({n_record("00 01 04 0B 12 00 07")});
            harness::decode_into(kTraffic, {&archive});
            EXPECT_FALSE(archive.Flush());
            harness::decode_into(second, {&archive});
            EXPECT_FALSE(archive.Commit()); // hands over without waiting
            EXPECT_FALSE(archive.Flush());
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].rfind(c.reason, 0), 0u) << messages[0];
            EXPECT_NE(messages[0].find(db + ")  Can't save Archive"), std::string::npos);
            fix();
            EXPECT_TRUE(archive.Flush());
        }
        EXPECT_EQ(messages, (std::vector<std::string>{messages[0], "  Archive written again"}));
        EXPECT_EQ(Counts(db), "5 4 2");
    }
}

TEST(Archive, PastItsLimitDuringAnOutageTheDisplayDropsTheOldestAndAnImportKeepsAll) {
    for (const bool drop : {true, false}) {
        SCOPED_TRACE(drop ? "drop" : "keep");
        const harness::TempDir dir;
        const std::string db = dir.file("gone/veltaro.sqlite");
        std::vector<std::string> messages;
        {
            Archive archive(db, [&](const std::string& m) { messages.push_back(m); }, {1, drop});
            harness::decode_into(kTraffic, {&archive});
            EXPECT_FALSE(archive.Flush());
            harness::decode_into(exchange_content({n_record("00 01 04 0B 12 00 07")}), {&archive});
            archive.Commit();
            harness::fs::create_directory(dir / "gone");
            EXPECT_TRUE(archive.Flush());
        }
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[1], drop ? "  Archive written again; 4 packets were dropped while it "
                                      "could not be written"
                                    : "  Archive written again");
        EXPECT_EQ(Counts(db), drop ? "1 1 0" : "5 4 2");
    }
}

} // namespace
} // namespace veltaro::data
