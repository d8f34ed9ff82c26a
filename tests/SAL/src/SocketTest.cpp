#include "SocketTestSupport.h"
#include "localsock.h"
#include "w32sock.h"

#include <cerrno>

using namespace sockettest;

namespace {

bool is_local(socket_t* sock) { return dynamic_cast<local_win_socket*>(sock) != nullptr; }
bool is_tcp(socket_t* sock) { return dynamic_cast<win_socket*>(sock) != nullptr; }

} // namespace

TEST(SocketFactory, AnyDomainChoosesTheTransportByTheAddress) {
    // One attempt of no time: each gives up at once.
    refusing_port port;
    socket_ptr localhost(socket_t::connect("localhost:2020", sock_any_domain, 1, 0));
    socket_ptr plain_name(socket_t::connect(unique_name("frontend").c_str(), sock_any_domain, 1, 0));
    socket_ptr other_host(socket_t::connect(port.address().c_str(), sock_any_domain, 1, 0));
    EXPECT_TRUE(is_local(localhost.get()));
    EXPECT_EQ(error_text(*localhost), "connection timeout expired");
    EXPECT_TRUE(is_local(plain_name.get()));
    EXPECT_TRUE(is_tcp(other_host.get()));
    EXPECT_EQ(error_text(*other_host), "exceed limit of attempts of connection to server");
}

TEST(SocketFactory, ExplicitDomainOverridesTheAddress) {
    refusing_port port;
    std::string localhost = "localhost:" + std::to_string(port.port);
    socket_ptr tcp(socket_t::connect(localhost.c_str(), sock_global_domain, 1, 0));
    EXPECT_TRUE(is_tcp(tcp.get()));
    EXPECT_EQ(error_text(*tcp), "exceed limit of attempts of connection to server");
    socket_ptr local(socket_t::connect(port.address().c_str(), sock_local_domain, 1, 0));
    EXPECT_TRUE(is_local(local.get()));
}

TEST(SocketFactory, ListeningFactoriesMakeTheirTransport) {
    socket_ptr global(socket_t::create_global("localhost:0", 5));
    socket_ptr local(socket_t::create_local(unique_name("listen").c_str(), 5));
    socket_ptr dgram(socket_t::create_dgram("localhost:0", 0));
    EXPECT_TRUE(is_tcp(global.get()) && global->is_ok());
    EXPECT_TRUE(is_local(local.get()) && local->is_ok());
    EXPECT_TRUE(is_tcp(dgram.get()) && dgram->is_ok());
    EXPECT_EQ(global->get_state(), socket_t::ss_open);
}

TEST(SocketFactoryDeathTest, ConnectWithoutAddressIsAnAssertion) {
    EXPECT_DEATH(socket_t::connect(nullptr, sock_any_domain, 1, 0),
                 "^Assertion failed: address != NULL, file src/w32sock, line 202\n");
}

TEST(SocketFactory, IpOfDottedTextAndHostName) {
    EXPECT_EQ(socket_t::get_ip("127.0.0.1"), 0x7f000001);
    EXPECT_EQ(socket_t::get_ip("10.1.2.3"), 0x0a010203);
    EXPECT_EQ(socket_t::get_ip("localhost"), 0x7f000001);
    EXPECT_EQ(socket_t::get_ip(""), -1);
    EXPECT_EQ(socket_t::get_ip(nullptr), -1);
}

TEST(SocketErrorText, PlatformNumbersAndCutting) {
    char text[64];
    sal::platform_error_text(ECONNREFUSED, text, sizeof text);
    EXPECT_STREQ(text, "Connection refused");
    sal::platform_error_text(100000, text, sizeof text);
    EXPECT_STREQ(text, "unknown error code 100000");
    sal::platform_error_text(-4, text, sizeof text);
    EXPECT_STREQ(text, "unknown error code 4294967292");
    sal::copy_error_text("connection is broken", text, 5);
    EXPECT_STREQ(text, "conn");
    text[0] = 'x';
    sal::copy_error_text("ok", text, 0);
    EXPECT_EQ(text[0], 'x');
}
