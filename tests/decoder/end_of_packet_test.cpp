#include "decoder/end_of_packet.h"

#include "test_support.h"

#include <fcntl.h>

namespace {

using quorvel::EndOfPacketQueue;
using quorvel_test::CapturedStream;
using namespace std::chrono_literals;

constexpr int kPipeSize = 4096;

// A port that takes exactly kPipeSize bytes until the receiver reads them.
class SlowReceiver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0);
        ASSERT_EQ(::fcntl(fds_[1], F_SETPIPE_SZ, kPipeSize), kPipeSize);
    }
    void TearDown() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int port() const { return fds_[1]; }
    void fill() const {
        const std::string filler(kPipeSize, '\xFF');
        ASSERT_EQ(::write(port(), filler.data(), filler.size()), kPipeSize);
    }
    // Everything the receiver has not read yet.
    std::string take() const {
        std::string bytes(2 * kPipeSize, '\0');
        const ssize_t n = ::read(fds_[0], bytes.data(), bytes.size());
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }

    // 1000 groups wait for a full port, which then takes 4096 bytes: group
    // 820 has begun with one of its five bytes.
    void leave_a_group_begun(EndOfPacketQueue& queue, EndOfPacketQueue::TimePoint at) {
        fill();
        for (int i = 0; i < 1000; ++i) {
            queue.queue_group(port(), t0_);
        }
        take();
        queue.write_waiting(port(), at);
        ASSERT_EQ(queue.waiting(), 5000u - kPipeSize);
    }

    int fds_[2] = {-1, -1};
    CapturedStream console_;
    const EndOfPacketQueue::TimePoint t0_{};
};

TEST_F(SlowReceiver, GroupsWaitWhileThePortIsFullAndGoOutWholeWhenItTakesBytesAgain) {
    EndOfPacketQueue queue(console_.get());
    queue.queue_group(port(), t0_);
    EXPECT_EQ(take(), std::string(5, '\0'));

    fill();
    for (int i = 0; i < 3; ++i) {
        queue.queue_group(port(), t0_ + 1s);
    }
    EXPECT_EQ(queue.waiting(), 15u);
    EXPECT_EQ(take(), std::string(kPipeSize, '\xFF'));
    queue.write_waiting(port(), t0_ + 2s);
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_EQ(take(), std::string(15, '\0'));
    EXPECT_EQ(console_.text(), "");
}

TEST_F(SlowReceiver, StalledReceiverLosesWholeGroupsOnlyAndTheConsoleSaysHowManyOnce) {
    EndOfPacketQueue queue(console_.get());
    leave_a_group_begun(queue, t0_ + 1s);

    queue.drop_if_stalled(t0_ + 1s + quorvel::kEndOfPacketStall - 1ms);
    EXPECT_EQ(queue.waiting(), 5000u - kPipeSize);
    queue.drop_if_stalled(t0_ + 1s + quorvel::kEndOfPacketStall);
    EXPECT_EQ(queue.waiting(), 4u);
    EXPECT_EQ(console_.text(), "");

    const std::string sent = take();
    queue.write_waiting(port(), t0_ + 20s);
    EXPECT_EQ(sent + take(), std::string(820 * 5, '\0'));
    EXPECT_EQ(console_.text(), "end-of-packet bytes of 180 packets not sent to the receiver\r\n");
}

TEST_F(SlowReceiver, PortGoneDropsEveryWaitingGroupBegunOrNot) {
    EndOfPacketQueue queue(console_.get());
    leave_a_group_begun(queue, t0_);
    queue.discard();
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_EQ(console_.text(), "end-of-packet bytes of 181 packets not sent to the receiver\r\n");
}

} // namespace
