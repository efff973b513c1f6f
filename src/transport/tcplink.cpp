#include "tcplink.h"

#include "sockets.h"
#include "telnetcodec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace parvault {

struct TcpLink::Private {
    SocketHandle socket = kNoSocket;
    bool telnet = false; // RFC 2217: Telnet on the stream
    telnet::Decoder decoder;
    std::vector<uint8_t> data;  // line bytes of one read, unescaped
    std::vector<uint8_t> reply; // what the server's Telnet requests want back
};

namespace {

ServerFailure serverFailureOf(ConnectFailure f) {
    switch (f) {
    case ConnectFailure::None:
        return ServerFailure::None;
    case ConnectFailure::NameNotFound:
        return ServerFailure::NameNotFound;
    case ConnectFailure::Refused:
        return ServerFailure::Refused;
    case ConnectFailure::Unreachable:
        return ServerFailure::Unreachable;
    case ConnectFailure::TimedOut:
        return ServerFailure::TimedOut;
    case ConnectFailure::Other:
        break;
    }
    return ServerFailure::Other;
}

QString hostPort(const ServerConnectError& e) {
    const QString host = QString::fromStdString(e.host);
    // An IPv6 address is bracketed so that its colons do not run into the port's.
    return (host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(e.port);
}

} // namespace

QString serverFailureText(const ServerConnectError& e) {
    switch (e.failure) {
    case ServerFailure::None:
        return {};
    case ServerFailure::NoServer:
        return QStringLiteral("сервер портов не задан в настройках связи");
    case ServerFailure::NameNotFound:
        return QStringLiteral("имя %1 не найдено").arg(QString::fromStdString(e.host));
    case ServerFailure::Refused:
        return QStringLiteral("сервер портов %1 отказал в соединении: порт не слушается или занят другим клиентом")
            .arg(hostPort(e));
    case ServerFailure::Unreachable:
        return QStringLiteral("сервер портов %1 недоступен: нет пути к сети или узлу").arg(hostPort(e));
    case ServerFailure::TimedOut:
        return QStringLiteral("сервер портов %1 не ответил за %2 с").arg(hostPort(e)).arg(kServerConnectTimeoutMs / 1000);
    case ServerFailure::Other:
        break;
    }
    return QStringLiteral("нет соединения с сервером портов %1: %2")
        .arg(hostPort(e), QString::fromStdString(socketErrorText(e.error)));
}

TcpLink::TcpLink() : d_(std::make_unique<Private>()) {}

TcpLink::~TcpLink() { close(); }

bool TcpLink::connected() const { return d_->socket != kNoSocket; }

LinkStart TcpLink::connect(const LinkRequest& request) {
    close();
    // For the sign-on the server's line follows over RFC 2217; over raw TCP
    // the line keeps the speed the server gives it.
    if (!reopen(request.opening(), request.display))
        return LinkStart::Failed;
    return request.signOn ? LinkStart::SignOn : LinkStart::Now;
}

bool TcpLink::reopen(const ConnectionSettings& settings, ExchangeDisplay& display) {
    const DeviceServer& target = settings.deviceServer;
    const uint32_t baud = static_cast<uint32_t>(settings.baudRate().value_or(0));
    bool ok = false;
    if (connected() && target == server_) {
        baud_ = baud;
        ok = !d_->telnet || baud == 0 || writeAll(telnet::lineSettings(baud));
    } else {
        ok = open(target, baud);
    }
    display.setPortStatusText(ok ? texts::Blank : texts::NoPort);
    display.setPortStatusToolTip(ok ? QString() : serverFailureText(lastError_));
    return ok;
}

bool TcpLink::open(const DeviceServer& server, uint32_t baud) {
    close();
    server_ = server;
    baud_ = baud;
    lastError_ = ServerConnectError{ServerFailure::None, 0, server.host, server.port};
    if (!server.inUse() || server.host.empty() || server.port == 0) {
        lastError_.failure = ServerFailure::NoServer;
        return false;
    }
    ConnectFailure failure = ConnectFailure::None;
    int error = 0;
    const SocketHandle s = connectStream(server.host, server.port, kServerConnectTimeoutMs, failure, error);
    if (s == kNoSocket) {
        lastError_.failure = serverFailureOf(failure);
        lastError_.error = error;
        return false;
    }
    d_->socket = s;
    d_->telnet = server.mode == DeviceServer::Mode::Rfc2217;
    d_->decoder.reset();
    if (!d_->telnet)
        return true;
    std::vector<uint8_t> hello = telnet::opening();
    if (baud != 0) {
        const auto line = telnet::lineSettings(baud);
        hello.insert(hello.end(), line.begin(), line.end());
    }
    return writeAll(hello);
}

void TcpLink::close() {
    closeSocket(d_->socket);
    d_->socket = kNoSocket;
}

void TcpLink::release() { close(); }

bool TcpLink::writeAll(const uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (done < size && connected()) {
        const int n = sendStream(d_->socket, bytes + done, static_cast<int>(size - done));
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && socketWouldBlock(lastSocketError())) {
            // The stream is full: wait for room, but not without end.
            pollfd p{d_->socket, POLLOUT, 0};
            if (pollSockets(&p, 1, kServerSendWaitMs) > 0)
                continue;
        }
        // The connection is gone (or stuck): the request's own wait runs
        // out, and the next one connects again.
        close();
        note(ExchangeEvent::LinkDropped);
        return false;
    }
    return done == size;
}

bool TcpLink::writeAll(const std::vector<uint8_t>& bytes) { return writeAll(bytes.data(), bytes.size()); }

void TcpLink::send(ExchangeShared& shared) {
    if (!connected()) {
        if (!server_.inUse())
            return;
        const bool ok = open(server_, baud_);
        note(ExchangeEvent::LinkReconnected, ok ? 1 : 0);
        if (!ok)
            return;
    }
    const int length = std::min(shared.txLength(), kTxFrameMax);
    const uint8_t* frame = shared.txFrame.data() + 2;
    if (d_->telnet)
        writeAll(telnet::escape({frame, static_cast<size_t>(length)}));
    else
        writeAll(frame, static_cast<size_t>(length));
}

// Bytes are looked for while any of the three requests is out.
int TcpLink::takeArrived(ExchangeShared& shared) {
    shared.rxLength = 0;
    shared.rxBuffer[0] = 0;
    if (!connected())
        return 0;
    std::array<uint8_t, kRxReadMax> raw;
    const int n = receiveStream(d_->socket, raw.data(), static_cast<int>(raw.size()));
    if (n <= 0) {
        if (n == 0 || !socketWouldBlock(lastSocketError())) {
            // Closed by the server (or reset): made again for the next request.
            close();
            note(ExchangeEvent::LinkDropped);
        }
        return 0;
    }
    const uint8_t* bytes = raw.data();
    size_t count = static_cast<size_t>(n);
    if (d_->telnet) {
        d_->data.clear();
        d_->reply.clear();
        d_->decoder.feed({raw.data(), count}, d_->data, d_->reply);
        if (!d_->reply.empty())
            writeAll(d_->reply);
        bytes = d_->data.data();
        count = d_->data.size(); // never more than was read
    }
    // Telnet commands alone leave no data, and an empty vector may have no storage.
    if (count > 0)
        std::memcpy(shared.rxBuffer.data(), bytes, count);
    shared.rxBuffer[count] = 0;
    shared.rxLength = static_cast<int32_t>(count);
    return static_cast<int>(count);
}

} // namespace parvault
