#include "SocketTestSupport.h"
#include "shmchannel.h"

#include <cerrno>

using namespace sockettest;
using sal::shm_channel;
using sal::wait_result;

TEST(ShmChannelEvent, AutoResetEventIsTakenOnceAndWaitsAreBounded) {
    std::atomic<uint32_t> event{0};
    sal::set_event(event);
    sal::set_event(event);  // two sets before a wait release one waiter
    EXPECT_EQ(sal::wait_event(event, sal::deadline(1), nullptr), wait_result::signalled);
    stopwatch clock;
    EXPECT_EQ(sal::wait_event(event, sal::deadline(0), nullptr), wait_result::timed_out);
    EXPECT_EQ(sal::wait_event(event, sal::deadline(1), nullptr), wait_result::timed_out);
    EXPECT_GE(clock.seconds(), 0.9);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sal::set_event(event);
    });
    EXPECT_EQ(sal::wait_event(event, sal::deadline::never(), nullptr), wait_result::signalled);
    setter.join();
}

TEST(ShmChannelWatch, PeerIsGoneWhenItsProcessEndsOrItClosesItsEnd) {
    pid_t child = run_child([] {
        pause();
        return 0;
    });
    std::atomic<int32_t> closed{0};
    sal::peer_watch watch;
    ASSERT_EQ(watch.watch(child, &closed), 0);
    EXPECT_FALSE(watch.gone());
    closed = 1;
    EXPECT_TRUE(watch.gone());
    closed = 0;
    std::atomic<uint32_t> event{0};
    kill(child, SIGKILL);
    stopwatch clock;
    EXPECT_EQ(sal::wait_event(event, sal::deadline::never(), &watch), wait_result::peer_gone);
    EXPECT_LT(clock.seconds(), 1.0);
    wait_child(child);
    EXPECT_EQ(watch.watch(child, nullptr), ESRCH);  // reaped: no such process
    EXPECT_EQ(watch.watch(0, nullptr), ESRCH);
}

TEST(ShmChannelSection, SidesShareOneSectionUntilTheNameIsRemoved) {
    std::string name = "/" + unique_name("section");
    shm_channel created;
    ASSERT_EQ(created.create(name), 0);
    EXPECT_EQ(created.get().control.pid[shm_channel::creator], getpid());
    shm_channel opened;
    ASSERT_EQ(opened.open(name), 0);
    created.get().buf[1].Data[0] = 'z';
    EXPECT_EQ(opened.get().buf[1].Data[0], 'z');

    shm_channel rival;
    EXPECT_EQ(rival.create(name), EADDRINUSE);
    created.get().control.closed[shm_channel::creator] = 1;  // a closed creator blocks nobody
    ASSERT_EQ(rival.create(name), 0);
    created.withdraw_name();  // names the rival's section now: stays
    EXPECT_EQ(shm_names_with(name.substr(1)).size(), 1u);
    rival.withdraw_name();
    EXPECT_TRUE(shm_names_with(name.substr(1)).empty());
    EXPECT_EQ(opened.open(name), ENOENT);
}

TEST(ShmChannelSection, PrivateChannelsGetFreshNames) {
    shm_channel first, second;
    ASSERT_EQ(first.create_unique(4242), 0);
    ASSERT_EQ(second.create_unique(4242), 0);
    EXPECT_NE(first.name(), second.name());
    EXPECT_EQ(first.get().control.pid[shm_channel::joiner], 4242);
    first.unlink_name();
    second.unlink_name();
    EXPECT_TRUE(shm_names_with("sal-channel." + std::to_string(getpid()) + ".").empty());
}
