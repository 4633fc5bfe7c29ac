#include "support/Communication/TCommSocket/socket.h"

#include "support/Communication/TCommSocket/tsocketerror.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* CheckSource = "Source\\Communication\\TCommSocket\\_Socket";

// poll() for one event, restarted after signals; the remaining time is kept.
int WaitFor(int handle, short events, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd entry{handle, events, 0};
        int wait = timeoutMs;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int result = ::poll(&entry, 1, wait);
        if (result < 0 && errno == EINTR)
            continue;
        return result;
    }
}

} // namespace

Socket::~Socket()
{
    close();
}

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_)
{
    other.handle_ = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

void Socket::Require(bool open, const char* check) const
{
    if (IsOpen() != open)
        throw TSocketError(CheckSource, check, TSocketError::Check, 0);
}

void Socket::create(int family)
{
    Require(false, "m_hSocket == NULL");
    handle_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle_ < 0) {
        const int code = errno;
        handle_ = -1;
        throw TSocketError("Socket::create", "create", TSocketError::Create, code);
    }
}

void Socket::bind(const SockAddr& local)
{
    Require(true, "m_hSocket != NULL");
    const int yes = 1;
    ::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(handle_, local.Raw(), local.Size()) != 0)
        throw TSocketError("Socket::bind", "bind", TSocketError::Bind, errno);
}

void Socket::listen()
{
    Require(true, "m_hSocket != NULL");
    if (::listen(handle_, Backlog) != 0)
        throw TSocketError("Socket::listen", "listen", TSocketError::Listen, errno);
}

bool Socket::accept(Socket& target, SockAddr& peer)
{
    Require(true, "m_hSocket != NULL");
    if (target.IsOpen())
        throw TSocketError(CheckSource, "sConnect.m_hSocket == NULL", TSocketError::Check, 0);
    for (;;) {
        socklen_t size = SockAddr::Capacity();
        const int handle = ::accept4(handle_, peer.Raw(), &size, SOCK_CLOEXEC);
        if (handle >= 0) {
            target.handle_ = handle;
            return true;
        }
        const int code = errno;
        if (code == EINTR || code == ECONNABORTED)
            continue;
        // A shut-down listening socket reports EINVAL: the wait was ended on purpose.
        if (code == EINVAL)
            return false;
        throw TSocketError("Socket::accept", "accept", TSocketError::Accept, code);
    }
}

void Socket::connect(const SockAddr& remote, int timeoutMs, const std::function<bool()>& cancel)
{
    Require(true, "m_hSocket != NULL");
    const int flags = ::fcntl(handle_, F_GETFL);
    ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
    int code = 0;
    if (::connect(handle_, remote.Raw(), remote.Size()) != 0) {
        code = errno;
        if (code == EINPROGRESS || code == EINTR) {
            // Wait in short slices so that a stop request is noticed.
            constexpr int Slice = 50;
            code = ETIMEDOUT;
            for (int waited = 0; waited < timeoutMs; waited += Slice) {
                if (cancel && cancel()) {
                    code = ECANCELED;
                    break;
                }
                const int ready = WaitFor(handle_, POLLOUT, Slice);
                if (ready < 0) {
                    code = errno;
                    break;
                }
                if (ready > 0) {
                    socklen_t size = sizeof code;
                    ::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &code, &size);
                    break;
                }
            }
        }
    }
    ::fcntl(handle_, F_SETFL, flags);
    if (code != 0)
        throw TSocketError("Socket::connect", "connect", TSocketError::Connect, code);
}

int Socket::send(const void* bytes, int count, int timeoutSeconds)
{
    Require(true, "m_hSocket != NULL");
    const int ready = WaitFor(handle_, POLLOUT, timeoutSeconds * 1000);
    if (ready == 0)
        throw TSocketError("Socket::send", "timeout", TSocketError::SendTimeout, 0);
    // MSG_NOSIGNAL: a closed peer is an error here, not a SIGPIPE for the process.
    const ssize_t sent = ready < 0 ? -1 : ::send(handle_, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    if (sent < 0)
        throw TSocketError("Socket::send", "connection", TSocketError::SendFailed, errno);
    return static_cast<int>(sent);
}

int Socket::receive(void* place, int size, int timeoutSeconds)
{
    Require(true, "m_hSocket != NULL");
    const int ready = WaitFor(handle_, POLLIN, timeoutSeconds < 0 ? -1 : timeoutSeconds * 1000);
    if (ready < 0)
        throw TSocketError("Socket::receive", "error", TSocketError::ReceiveFailed, errno);
    if (ready == 0) {
        if (timeoutSeconds < 0)
            throw TSocketError("Socket::receive", "select error --> endless", TSocketError::ReceiveEndless, 0);
        throw TSocketError("Socket::receive", "timeout", TSocketError::ReceiveTimeout, 0);
    }
    for (;;) {
        const ssize_t got = ::recv(handle_, place, size, 0);
        if (got >= 0)
            return static_cast<int>(got);
        if (errno == EINTR)
            continue;
        throw TSocketError("Socket::receive", "error", TSocketError::ReceiveFailed, errno);
    }
}

bool Socket::peerClosed()
{
    Require(true, "m_hSocket != NULL");
    // The peer never sends on this connection: bytes are discarded, a bounded amount per look.
    char scratch[1024];
    for (int look = 0; look < 64; ++look) {
        const ssize_t got = ::recv(handle_, scratch, sizeof scratch, MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
    return false;
}

int Socket::unacknowledged() const
{
    int bytes = 0;
    if (!IsOpen() || ::ioctl(handle_, SIOCOUTQ, &bytes) != 0)
        return 0;
    return bytes;
}

void Socket::setNoDelay()
{
    Require(true, "m_hSocket != NULL");
    const int yes = 1;
    ::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

void Socket::shutdown()
{
    if (IsOpen())
        ::shutdown(handle_, SHUT_RDWR);
}

void Socket::close()
{
    if (IsOpen()) {
        ::close(handle_);
        handle_ = -1;
    }
}
