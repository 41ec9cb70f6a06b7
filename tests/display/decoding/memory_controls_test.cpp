// The in-memory lists behind veltaro-decode and the tests: what Lines() shows
// after each kind of change, and the selection as lines come and go.
#include "display/decoding/memory_controls.h"

#include <gtest/gtest.h>

namespace veltaro {
namespace {

using Lines = std::vector<std::string>;

TEST(MemoryControls, LinesFollowEveryChangeOfTheList) {
    MemoryControls ui;
    const ListId list = ListId::lstReport;
    ui.InsertTop(list, "a");
    ui.InsertTop(list, "b");
    ui.InsertTop(list, "c");
    EXPECT_EQ(ui.Lines(list), (Lines{"c", "b", "a"}));
    ui.Remove(list, 2); // the bottom line, as the trimming removes it
    EXPECT_EQ(ui.Lines(list), (Lines{"c", "b"}));
    ui.InsertTop(list, "d");
    ui.Remove(list, 1); // a line in the middle
    EXPECT_EQ(ui.Lines(list), (Lines{"d", "b"}));
    ui.ReplaceEntry(list, 0, "e");
    EXPECT_EQ(ui.Lines(list), (Lines{"e", "b"}));
    EXPECT_TRUE(ui.Lines(ListId::lstOutput).empty()) << "the lists are separate";
    ui.Clear(list);
    EXPECT_TRUE(ui.Lines(list).empty());
}

TEST(MemoryControls, SelectionStaysOnItsLineAndGoesWithIt) {
    MemoryControls ui;
    const ListId list = ListId::lstMessage;
    for (const char* line : {"a", "b", "c", "d"}) {
        ui.InsertTop(list, line);
    }
    ui.SetSelected(list, 2, true); // "b"
    ui.InsertTop(list, "e");
    EXPECT_EQ(ui.SelectedIndex(list), 3);
    ui.Remove(list, 4); // the bottom line, below the selection
    EXPECT_EQ(ui.SelectedIndex(list), 3);
    ui.Remove(list, 0); // above it
    EXPECT_EQ(ui.SelectedIndex(list), 2);
    EXPECT_EQ(ui.Entry(list, ui.SelectedIndex(list)), "b");
    ui.Remove(list, 2); // the selected line, here the bottom one
    EXPECT_EQ(ui.SelectedIndex(list), -1);
    EXPECT_EQ(ui.Lines(list), (Lines{"d", "c"}));
}

TEST(MemoryControls, RemovingOutsideTheListIsAnError) {
    MemoryControls ui;
    ui.InsertTop(ListId::lstOutput, "a");
    EXPECT_THROW(ui.Remove(ListId::lstOutput, 1), std::out_of_range);
    EXPECT_THROW(ui.Remove(ListId::lstOutput, -1), std::out_of_range);
    EXPECT_EQ(ui.Lines(ListId::lstOutput), (Lines{"a"}));
}

} // namespace
} // namespace veltaro
