#include "sockio.h"

#include "localsock.h"
#include "w32sock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The local transport serves addresses without a port and the "localhost:"
// ones; every other "host:port" goes over TCP.
bool is_local_address(const char* address) {
    return std::strchr(address, ':') == nullptr || std::strncmp(address, "localhost:", 10) == 0;
}

} // namespace

socket_t* socket_t::connect(const char* address, socket_domain domain, int max_attempts,
                            time_t timeout) {
    bool local = domain == sock_local_domain
                 || (domain == sock_any_domain && address != nullptr && is_local_address(address));
    if (local) {
        auto* sock = new local_win_socket(address);
        sock->connect(max_attempts, timeout);
        return sock;
    }
    auto* sock = new win_socket(address);
    sock->connect(max_attempts, timeout);
    return sock;
}

socket_t* socket_t::create_global(const char* address, int listen_queue_size) {
    auto* sock = new win_socket(address);
    sock->open(listen_queue_size);
    return sock;
}

socket_t* socket_t::create_local(const char* address, int) {
    auto* sock = new local_win_socket(address);
    sock->open();
    return sock;
}

socket_t* socket_t::create_dgram(const char* address, int flags) {
    auto* sock = new win_socket(address);
    sock->open_dgram(flags);
    return sock;
}

int socket_t::get_ip(const char* address) {
    uint32_t ip = 0;
    if (address == nullptr || !win_socket::lookup_ipv4(address, ip)) return -1;
    return static_cast<int>(ip);
}

namespace sal {

void error_text(int code, const error_text_entry* table, size_t entries, char* buf, size_t buf_size) {
    for (size_t i = 0; i < entries; ++i) {
        if (table[i].code == code) {
            copy_error_text(table[i].text, buf, buf_size);
            return;
        }
    }
    platform_error_text(code, buf, buf_size);
}

void copy_error_text(const char* text, char* buf, size_t buf_size) {
    if (buf_size == 0) return;
    size_t length = std::min(std::strlen(text), buf_size - 1);
    std::memcpy(buf, text, length);
    buf[length] = '\0';
}

void platform_error_text(int code, char* buf, size_t buf_size) {
    // The description alone, in English whatever the locale, so that the
    // texts a program prints do not depend on the environment.
    const char* text = code > 0 ? strerrordesc_np(code) : nullptr;
    if (text != nullptr) {
        copy_error_text(text, buf, buf_size);
    } else if (buf_size > 0) {
        std::snprintf(buf, buf_size, "unknown error code %u", static_cast<unsigned>(code));
    }
}

} // namespace sal
