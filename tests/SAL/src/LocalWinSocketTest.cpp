#include "SocketTestSupport.h"
#include "localsock.h"

#include <cerrno>
#include <functional>

using namespace sockettest;

namespace {

constexpr size_t ten_megabytes = 10 << 20;

char pattern_byte(size_t i, int seed) {
    return static_cast<char>(i * 131 + (i >> 13) + seed * 7);
}

// Sends ten megabytes in pieces of sizes that fall across the ring's wrap.
bool send_pattern(socket_t& sock, int seed) {
    const size_t pieces[] = {1, 7, 4093, 8175, 8176, 8177, 65539};
    std::vector<char> data(ten_megabytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = pattern_byte(i, seed);
    for (size_t sent = 0, k = 0; sent < data.size(); sent += pieces[k % 7], ++k) {
        size_t n = std::min(pieces[k % 7], data.size() - sent);
        if (sock.write(data.data() + sent, n) != 1) return false;
    }
    return true;
}

// Receives them with timed reads of whatever has come, checking each byte.
bool receive_pattern(socket_t& sock, int seed) {
    std::vector<char> buf(12000);
    for (size_t received = 0; received < ten_megabytes;) {
        size_t room = std::min(buf.size(), ten_megabytes - received);
        int n = sock.read(buf.data(), 1, room, -1);
        if (n <= 0) return false;
        for (int i = 0; i < n; ++i)
            if (buf[i] != pattern_byte(received + i, seed)) return false;
        received += static_cast<size_t>(n);
    }
    return true;
}

// A child connects to `name` and waits to be killed; `blocked_call` on the
// accepted end must fail with a broken pipe within a second of the kill.
void expect_killed_peer_wakes(const std::function<int(socket_t&)>& blocked_call, int failed) {
    std::string name = unique_name("kill");
    socket_ptr listener(socket_t::create_local(name.c_str()));
    ASSERT_TRUE(listener->is_ok()) << error_text(*listener);
    pid_t child = run_child([&] {
        socket_ptr sock(socket_t::connect(name.c_str(), sock_local_domain, 5, 1));
        pause();
        return 0;
    });
    socket_ptr server(listener->accept());
    ASSERT_TRUE(server && server->is_ok());
    std::atomic<double> killed_at{0};
    stopwatch clock;
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        killed_at = clock.seconds();
        kill(child, SIGKILL);
    });
    EXPECT_EQ(blocked_call(*server), failed);
    double woke_at = clock.seconds();
    killer.join();
    EXPECT_LT(woke_at - killed_at, 1.0);
    EXPECT_EQ(error_text(*server), "connection is broken");
    EXPECT_EQ(wait_child(child), -1);
}

} // namespace

TEST(LocalWinSocketProcesses, TenMegabytesEachWayAreCarriedByteExact) {
    std::string name = unique_name("bulk");
    socket_ptr listener(socket_t::create_local(name.c_str()));
    ASSERT_TRUE(listener->is_ok()) << error_text(*listener);
    pid_t child = run_child([&] {
        // No ":" in the address: the local transport.
        socket_ptr sock(socket_t::connect(name.c_str(), sock_any_domain, 5, 1));
        if (!sock->is_ok()) return 1;
        if (!receive_pattern(*sock, 1)) return 2;
        if (!send_pattern(*sock, 2)) return 3;
        return 0;
    });
    socket_ptr server(listener->accept());
    ASSERT_TRUE(server && server->is_ok());
    EXPECT_TRUE(send_pattern(*server, 1));
    EXPECT_TRUE(receive_pattern(*server, 2));
    EXPECT_EQ(wait_child(child), 0);
    server.reset();
    listener.reset();
    EXPECT_TRUE(shm_names_with(name).empty());
    EXPECT_TRUE(shm_names_with("sal-channel." + std::to_string(getpid()) + ".").empty());
}

TEST(LocalWinSocketProcesses, KilledPeerWakesABlockedRead) {
    char buf[16];
    expect_killed_peer_wakes([&](socket_t& sock) { return sock.read(buf, 1, sizeof buf, -1); }, -1);
}

TEST(LocalWinSocketProcesses, KilledPeerWakesABlockedWrite) {
    std::vector<char> block(100000, 'x');
    expect_killed_peer_wakes([&](socket_t& sock) { return sock.write(block.data(), block.size()); }, 0);
}

TEST(LocalWinSocketProcesses, ListenerLeftByAKilledProcessDoesNotBlockANewOne) {
    std::string name = unique_name("stale");
    pid_t child = run_child([&] {
        socket_t* left = socket_t::create_local(name.c_str());
        return left->is_ok() ? 0 : 1;  // ends without closing
    });
    ASSERT_EQ(wait_child(child), 0);
    ASSERT_FALSE(shm_names_with(name).empty());
    socket_ptr listener(socket_t::create_local(name.c_str()));
    EXPECT_TRUE(listener->is_ok()) << error_text(*listener);
    listener.reset();
    EXPECT_TRUE(shm_names_with(name).empty());
}

TEST(LocalWinSocketListen, NameOfALiveListenerIsInUse) {
    std::string name = unique_name("busy");
    socket_ptr first(socket_t::create_local(name.c_str()));
    ASSERT_TRUE(first->is_ok());
    socket_ptr second(socket_t::create_local(name.c_str()));
    EXPECT_TRUE(has_platform_error(*second, EADDRINUSE)) << error_text(*second);
    EXPECT_EQ(second->accept(), nullptr);
    first->close();
    socket_ptr third(socket_t::create_local(name.c_str()));
    EXPECT_TRUE(third->is_ok()) << error_text(*third);
}

TEST(LocalWinSocketListen, NamesThatCannotNameASection) {
    socket_ptr slash(socket_t::create_local("front/end"));
    EXPECT_TRUE(has_platform_error(*slash, EINVAL)) << error_text(*slash);
    std::string long_name(300, 'n');
    socket_ptr too_long(socket_t::connect(long_name.c_str(), sock_local_domain, 1, 0));
    EXPECT_TRUE(has_platform_error(*too_long, ENAMETOOLONG)) << error_text(*too_long);
    socket_ptr none(socket_t::connect(nullptr, sock_local_domain, 1, 0));
    EXPECT_TRUE(has_platform_error(*none, EINVAL)) << error_text(*none);
}

TEST(LocalWinSocketConnect, NoListenerExpiresAfterAttemptsTimesTimeout) {
    std::string name = unique_name("absent");
    stopwatch clock;
    socket_ptr sock(socket_t::connect(name.c_str(), sock_local_domain, 2, 1));
    EXPECT_GE(clock.seconds(), 1.9);
    EXPECT_EQ(error_text(*sock), "connection timeout expired");
    EXPECT_EQ(sock->get_state(), socket_t::ss_close);
}

TEST(LocalWinSocketConnect, WaitsForAListenerThatStartsLater) {
    std::string name = unique_name("late");
    socket_ptr server;
    std::thread listener_thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        socket_ptr listener(socket_t::create_local(name.c_str()));
        server.reset(listener->accept());
    });
    socket_ptr client(socket_t::connect(name.c_str(), sock_local_domain, 5, 1));
    listener_thread.join();
    ASSERT_TRUE(client->is_ok()) << error_text(*client);
    ASSERT_TRUE(server && server->is_ok());
    ASSERT_EQ(client->write("hello", 5), 1);
    char buf[5];
    EXPECT_EQ(server->read(buf, 5), 1);
    EXPECT_EQ(std::string(buf, 5), "hello");
}

TEST(LocalWinSocketTransfer, BufferTakes8175BytesBeforeTheWriterWaits) {
    socket_pair pair = local_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    std::vector<char> block(8175, 'b');
    pair.client->set_write_timeout(1);
    EXPECT_EQ(pair.client->write(block.data(), block.size()), 1);
    stopwatch clock;
    EXPECT_EQ(pair.client->write("c", 1), 0);  // no room: waits, then fails
    EXPECT_GE(clock.seconds(), 0.9);
    EXPECT_TRUE(has_platform_error(*pair.client, ETIMEDOUT)) << error_text(*pair.client);
    EXPECT_EQ(pair.client->get_state(), socket_t::ss_shutdown);
    std::vector<char> got(8175);
    EXPECT_EQ(pair.server->read(got.data(), got.size()), 1);
    EXPECT_EQ(got, block);
}

TEST(LocalWinSocketTransfer, ReadsAreBoundedByTimeAndByTheCallersBuffer) {
    socket_pair pair = local_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    char buf[16];
    ASSERT_EQ(pair.client->write("0123456789", 10), 1);
    EXPECT_EQ(pair.server->read(buf, 0, sizeof buf, -1), 0);  // minimum 0: at once
    EXPECT_EQ(pair.server->read(buf, 8, 4, -1), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    stopwatch clock;
    EXPECT_EQ(pair.server->read(buf, 10, sizeof buf, 1), 6);
    EXPECT_GE(clock.seconds(), 0.9);
    EXPECT_TRUE(pair.server->is_ok());
    EXPECT_EQ(std::string(buf, 6), "456789");
}

TEST(LocalWinSocketTransfer, PeerThatClosesIsReadToTheEndThenBroken) {
    socket_pair pair = local_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    ASSERT_EQ(pair.client->write("last", 4), 1);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pair.client->close();
    });
    char buf[8];
    EXPECT_EQ(pair.server->read(buf, 4), 1);
    EXPECT_EQ(pair.server->read(buf, 1), 0);
    closer.join();
    EXPECT_EQ(error_text(*pair.server), "connection is broken");
}

TEST(LocalWinSocketLifecycle, ShutdownAndCancelWakeBlockedCalls) {
    socket_pair pair = local_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    char buf[8];
    int result = 1;
    std::thread reader([&] { result = pair.server->read(buf, 1, sizeof buf, -1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pair.server->shutdown(), 1);
    reader.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error_text(*pair.server), "socket not opened");

    socket_t* accepted = pair.client.get();
    std::thread acceptor([&] { accepted = pair.listener->accept(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pair.listener->cancel_accept(), 1);
    acceptor.join();
    EXPECT_EQ(accepted, nullptr);
}

TEST(LocalWinSocketLifecycle, CloseTwiceAndOperationsWithoutAConnection) {
    socket_pair pair = local_pair();
    ASSERT_TRUE(pair.client->is_ok() && pair.server);
    int ip = 0, port = 0;
    char buf[4];
    EXPECT_EQ(pair.client->sendto(0x7f000001, 9, "x", 1), 0);
    EXPECT_EQ(error_text(*pair.client), "invalid access mode");
    EXPECT_EQ(pair.client->recvfrom(ip, port, buf, sizeof buf), -1);
    EXPECT_EQ(pair.client->accept(), nullptr);
    EXPECT_EQ(error_text(*pair.client), "invalid access mode");
    EXPECT_EQ(pair.client->get_port(), -1);
    EXPECT_EQ(pair.client->close(), 1);
    EXPECT_EQ(pair.client->close(), 1);
    EXPECT_EQ(error_text(*pair.client), "socket not opened");
    EXPECT_EQ(pair.client->write("x", 1), 0);
    EXPECT_FALSE(pair.client->is_ok());  // the write keeps the error
    EXPECT_EQ(pair.client->read(buf, 1, sizeof buf, 0), -1);
}
