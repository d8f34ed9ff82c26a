#include "SocketTestSupport.h"
#include "w32sock.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>

using namespace sockettest;

TEST(WinSocketConnect, RefusedConnectionIsRetriedUntilAttemptsAreUsedUp) {
    refusing_port port;
    stopwatch clock;
    socket_ptr sock(socket_t::connect(port.address().c_str(), sock_any_domain, 3, 1));
    EXPECT_GE(clock.seconds(), 2.0);  // three attempts, one second apart
    EXPECT_FALSE(sock->is_ok());
    EXPECT_EQ(error_text(*sock), "exceed limit of attempts of connection to server");
    EXPECT_EQ(sock->write("x", 1), 0);
    EXPECT_EQ(error_text(*sock), "socket not opened");
}

TEST(WinSocketConnect, RetryReachesServerThatStartsListeningLater) {
    refusing_port port;
    std::thread server([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        port.start_listening();
    });
    socket_ptr sock(socket_t::connect(port.address().c_str(), sock_global_domain, 5, 1));
    server.join();
    EXPECT_TRUE(sock->is_ok()) << error_text(*sock);
    EXPECT_EQ(sock->write("x", 1), 1);
}

TEST(WinSocketConnect, UnansweredAttemptEndsAtItsTimeLimitWithoutRetry) {
    // A listener whose queue is full drops further connection requests.
    socket_ptr listener(socket_t::create_global("localhost:0", 0));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer.sin_port = htons(static_cast<uint16_t>(listener->get_port()));
    std::vector<int> fillers;
    bool unanswered = false;
    for (int i = 0; i < 8 && !unanswered; ++i) {
        int handle = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        fillers.push_back(handle);
        ::connect(handle, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        pollfd entry{handle, POLLOUT, 0};
        unanswered = poll(&entry, 1, 300) == 0;
    }
    if (!unanswered) {
        for (int handle : fillers) close(handle);
        GTEST_SKIP() << "this system answers every connection request";
    }
    std::string address = "127.0.0.1:" + std::to_string(listener->get_port());
    win_socket sock(address.c_str());
    sock.set_connect_time_limit(1);
    stopwatch clock;
    EXPECT_FALSE(sock.connect(3, 5));
    EXPECT_LT(clock.seconds(), 4.0);  // a retry would wait five seconds first
    EXPECT_TRUE(has_platform_error(sock, ETIMEDOUT)) << error_text(sock);
    for (int handle : fillers) close(handle);
}

TEST(WinSocketConnect, MalformedAddressesAreBadAddresses) {
    std::string long_host(256, 'h');
    for (const std::string& address : std::vector<std::string>{"127.0.0.1", "127.0.0.1:", "127.0.0.1:port", "127.0.0.1:0",
                                "127.0.0.1:65536", "127.0.0.1:99999", "127.0.0.1:-5",
                                "127.0.0.1:80x", "127.0.0.1:+80", long_host + ":2020"}) {
        socket_ptr sock(socket_t::connect(address.c_str(), sock_global_domain, 1, 0));
        EXPECT_FALSE(sock->is_ok()) << address;
        EXPECT_EQ(error_text(*sock), "bad address") << address;
    }
}

TEST(WinSocketListen, PortIsCheckedAndZeroTakesAFreePort) {
    socket_ptr bad(socket_t::create_global("localhost:http", 5));
    EXPECT_EQ(error_text(*bad), "bad address");
    EXPECT_EQ(bad->accept(), nullptr);
    EXPECT_EQ(error_text(*bad), "socket not opened");

    socket_ptr any(socket_t::create_global("localhost:0", 5));
    ASSERT_TRUE(any->is_ok()) << error_text(*any);
    EXPECT_GT(any->get_port(), 0);

    std::string taken = "localhost:" + std::to_string(any->get_port());
    socket_ptr second(socket_t::create_global(taken.c_str(), 5));
    EXPECT_FALSE(second->is_ok());
    EXPECT_TRUE(has_platform_error(*second, EADDRINUSE)) << error_text(*second);
}

TEST(WinSocketRead, OpenReadReturnsWhatOneReceiveDelivered) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    ASSERT_EQ(pair.client->write("EXIT#", 5), 1);
    char buf[4096];
    EXPECT_EQ(pair.server->read(buf, 0, sizeof buf, -1), 5);
    EXPECT_EQ(std::string(buf, 5), "EXIT#");
}

TEST(WinSocketRead, ExactReadSplitsCoalescedAndJoinsSplitMessages) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    ASSERT_EQ(pair.client->write("abcdef", 6), 1);  // two messages in one send
    char buf[8] = {};
    ASSERT_EQ(pair.server->read(buf, 3), 1);
    EXPECT_EQ(std::string(buf, 3), "abc");
    ASSERT_EQ(pair.server->read(buf, 3), 1);
    EXPECT_EQ(std::string(buf, 3), "def");

    std::thread writer([&] {  // one message in three sends
        for (const char* piece : {"12", "345", "6"}) {
            pair.client->write(piece, std::strlen(piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    EXPECT_EQ(pair.server->read(buf, 6), 1);
    writer.join();
    EXPECT_EQ(std::string(buf, 6), "123456");
}

TEST(WinSocketRead, TimedReadReturnsWhatCameWhenTheTimeRunsOut) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    char buf[16];
    EXPECT_EQ(pair.server->read(buf, 1, sizeof buf, 0), 0);
    ASSERT_EQ(pair.client->write("abc", 3), 1);
    stopwatch clock;
    EXPECT_EQ(pair.server->read(buf, 10, sizeof buf, 1), 3);
    EXPECT_GE(clock.seconds(), 0.9);
    EXPECT_TRUE(pair.server->is_ok());
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(WinSocketRead, ReadNeverGoesBeyondTheCallersBuffer) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    ASSERT_EQ(pair.client->write("0123456789", 10), 1);
    char buf[5] = {};
    EXPECT_EQ(pair.server->read(buf, 8, 4, -1), 4);  // at least 8 but room for 4: 4
    EXPECT_EQ(pair.server->read(buf, 0, 0, -1), 0);
    EXPECT_EQ(pair.server->read(buf, 4), 1);
    EXPECT_EQ(std::string(buf, 4), "4567");
}

TEST(WinSocketPeerClosed, ReadsAndWritesFailWithBrokenPipeAndNoSignal) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    char buf[16];
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pair.server->close();
    });
    EXPECT_EQ(pair.client->read(buf, 1, sizeof buf, -1), -1);
    closer.join();
    EXPECT_EQ(error_text(*pair.client), "connection is broken");

    std::vector<char> block(1 << 20, 'x');
    int written = 1;
    for (int i = 0; i < 64 && written == 1; ++i) written = pair.client->write(block.data(), block.size());
    EXPECT_EQ(written, 0);
    EXPECT_EQ(error_text(*pair.client), "connection is broken");
}

TEST(WinSocketWrite, WriteLimitEndsAWriteThePeerDoesNotRead) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    pair.client->set_write_timeout(1);
    std::vector<char> block(64 << 20, 'x');  // more than the socket buffers of both ends
    stopwatch clock;
    EXPECT_EQ(pair.client->write(block.data(), block.size()), 0);
    EXPECT_GE(clock.seconds(), 0.9);
    EXPECT_TRUE(has_platform_error(*pair.client, ETIMEDOUT)) << error_text(*pair.client);
    EXPECT_EQ(pair.client->write("x", 1), 0);  // shut down: no second wait
    EXPECT_EQ(error_text(*pair.client), "socket not opened");
}

TEST(WinSocketLifecycle, CloseTwiceSucceedsAndClosedSocketRefusesWork) {
    socket_pair pair = tcp_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    EXPECT_EQ(pair.client->shutdown(), 1);
    EXPECT_EQ(pair.client->get_state(), socket_t::ss_shutdown);
    EXPECT_EQ(pair.client->close(), 1);
    EXPECT_EQ(pair.client->close(), 1);
    EXPECT_EQ(pair.client->get_state(), socket_t::ss_close);
    char buf[4];
    EXPECT_EQ(pair.client->read(buf, sizeof buf), 0);
    EXPECT_EQ(error_text(*pair.client), "socket not opened");
    EXPECT_EQ(pair.client->write("x", 1), 0);
    EXPECT_EQ(pair.server->read(buf, 1, sizeof buf, -1), -1);  // the peer shut down
    EXPECT_EQ(error_text(*pair.server), "connection is broken");
}

TEST(WinSocketAccept, CancelAcceptEndsABlockedAccept) {
    socket_ptr listener(socket_t::create_global("localhost:0", 5));
    ASSERT_TRUE(listener->is_ok());
    std::atomic<bool> returned{false};
    socket_t* accepted = reinterpret_cast<socket_t*>(1);
    std::thread acceptor([&] {
        accepted = listener->accept();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned);
    EXPECT_EQ(listener->cancel_accept(), 1);
    acceptor.join();
    EXPECT_EQ(accepted, nullptr);
    EXPECT_EQ(listener->get_state(), socket_t::ss_close);
}

TEST(WinSocketDatagram, SendAndReceiveWithHostOrderAddresses) {
    socket_ptr receiver(socket_t::create_dgram("localhost:0", 0));
    socket_ptr sender(socket_t::create_dgram("localhost:0", 1));
    ASSERT_TRUE(receiver->is_ok() && sender->is_ok());
    const int loopback = 0x7f000001;
    ASSERT_EQ(sender->sendto(loopback, receiver->get_port(), "ping", 4), 1);
    char buf[16];
    int from_ip = 0, from_port = 0;
    EXPECT_EQ(receiver->recvfrom(from_ip, from_port, buf, sizeof buf), 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
    EXPECT_EQ(from_ip, loopback);
    EXPECT_EQ(from_port, sender->get_port());

    socket_ptr bad(socket_t::create_dgram("localhost", 0));
    EXPECT_EQ(error_text(*bad), "bad address");
    EXPECT_EQ(bad->sendto(loopback, 9, "x", 1), 0);
    EXPECT_EQ(error_text(*bad), "socket not opened");
}
