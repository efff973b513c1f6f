#include "serialchannel.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

Q_LOGGING_CATEGORY(lcSerial, "parvault.serial")

namespace parvault {

namespace {

std::optional<speed_t> speedConstant(uint32_t baud) {
    switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return std::nullopt;
    }
}

// Raw, transparent 8N1: the frames carry every byte value, so nothing may be
// translated, echoed, taken as a signal or used for flow control.
void applyLineSettings(int fd, uint32_t baud) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                          IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    // CLOCAL: the lines of a bare cable or an optical head say nothing about
    // whether the device is there.
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads return at once with whatever is queued.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    // A speed the driver does not know leaves the line at its old speed, as a
    // refused line setting would.
    if (auto speed = speedConstant(baud)) {
        ::cfsetispeed(&tio, *speed);
        ::cfsetospeed(&tio, *speed);
    }
    ::tcsetattr(fd, TCSANOW, &tio);
}

// Modem-control calls fail on devices without modem lines (a pseudo-terminal);
// the line then simply has no such signal, which is not an error.
void setModemLine(int fd, int line, bool on) {
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

// The group owning the device a path leads to, for telling the user which
// group to join.
std::string deviceGroup(const std::string& path) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::to_string(info.st_gid);
    return found->gr_name;
}

// The device a port path leads to, as the user knows it: the device node
// behind a link (/dev/ttyUSB0 rather than ~/.parvault2/ports/COM5), or the
// link's target when that is not there.
std::string shownDevice(const std::filesystem::path& path) {
    std::error_code ec;
    auto device = std::filesystem::canonical(path, ec);
    if (!ec)
        return device.string();
    auto target = std::filesystem::read_symlink(path, ec);
    if (!ec)
        return target.string();
    return path.string();
}

bool stopSignalled(int stopFd) {
    pollfd p{stopFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

} // namespace

namespace {

// One write of one frame on its own thread. It never blocks anywhere but in a
// poll that also wakes on the stop signal, so a close ends it promptly.
struct Writer {
    std::vector<uint8_t> bytes;
    std::unique_ptr<Writer> previous; // a write still running when this one was started
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread thread;

    void run(int portFd, int stopFd) {
        // Writes to one port go out one frame after the other, as on a
        // synchronous port handle: the earlier frame is finished (or stopped) first.
        if (previous) {
            previous->thread.join();
            previous.reset();
        }
        writeAll(portFd, stopFd);
        std::lock_guard lock(mutex);
        done = true;
        doneChanged.notify_all();
    }

    void writeAll(int portFd, int stopFd) {
        size_t offset = 0;
        while (offset < bytes.size()) {
            ssize_t written = ::write(portFd, bytes.data() + offset, bytes.size() - offset);
            if (written > 0) {
                offset += static_cast<size_t>(written);
                if (offset == bytes.size() || stopSignalled(stopFd))
                    return;
                continue;
            }
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return; // the device is gone or refuses: the answer will not come
            pollfd fds[2] = {{portFd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
            int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno != EINTR)
                return;
            if (fds[1].revents & POLLIN)
                return;
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLOUT))
                return; // hung up: writing again would only fail again
        }
    }

    bool finished() {
        std::lock_guard lock(mutex);
        return done;
    }
};

} // namespace

QString systemErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

ComOpenFailure openFailureFromSystemError(int error) {
    switch (error) {
    case 0:
        return ComOpenFailure::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ELOOP:
        return ComOpenFailure::NoDevice;
    case EACCES:
    case EPERM:
    case EROFS:
        return ComOpenFailure::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
        return ComOpenFailure::Busy;
    case ENOTTY:
    case EISDIR:
    case EINVAL:
        return ComOpenFailure::NotTerminal;
    default:
        return ComOpenFailure::Other;
    }
}

struct SerialChannel::Private {
    int portFd = -1;
    int stopRead = -1; // the stop signal: a pipe, readable once signalled
    int stopWrite = -1;
    termios found{};   // the line settings before our open, put back at the close
    std::unique_ptr<Writer> writer;

    void signalStop();
    void resetStop();
    void endWriter();
};

SerialChannel::SerialChannel(PortNaming naming) : naming_(std::move(naming)), d_(std::make_unique<Private>()) {}

SerialChannel::~SerialChannel() { close(); }

bool SerialChannel::isOpen() const { return d_->portFd >= 0; }

int SerialChannel::open(uint16_t port, uint32_t speed) {
    if (port == openPort_) {
        if (!isOpen())
            lastOpenError_ = ComOpenError{}; // port 0 while closed: nothing failed
        return COM_OPEN_OK;
    }
    if (isOpen())
        return COM_OPEN_BUSY;

    lastOpenError_ = ComOpenError{};
    lastOpenError_.port = port;
    auto failed = [this](int error) {
        lastOpenError_.error = error;
        lastOpenError_.failure = openFailureFromSystemError(error);
        if (lastOpenError_.failure == ComOpenFailure::NoPermission)
            lastOpenError_.group = deviceGroup(lastOpenError_.device);
        return COM_OPEN_FAILED;
    };
    auto path = portDevicePath(port, naming_);
    if (!path) {
        lastOpenError_.failure = ComOpenFailure::NoPortNumber;
        return COM_OPEN_FAILED;
    }
    lastOpenError_.device = shownDevice(*path);
    int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(errno);
    // Only serial devices are ports; and one program at a time: the lock keeps
    // out every cooperating opener, TIOCEXCL all but the superuser.
    termios found{};
    if (::tcgetattr(fd, &found) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    ::ioctl(fd, TIOCEXCL);

    applyLineSettings(fd, speed);
    // Whatever waits in the line is from before this program opened it (an
    // answer that came after the last one closed the port): no request of
    // ours asked for it.
    ::tcflush(fd, TCIFLUSH);
    setModemLine(fd, TIOCM_DTR, true);
    setModemLine(fd, TIOCM_RTS, true);

    int stopPipe[2];
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::tcsetattr(fd, TCSANOW, &found);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return COM_OPEN_NO_STOP;
    }
    d_->portFd = fd;
    d_->found = found;
    d_->stopRead = stopPipe[0];
    d_->stopWrite = stopPipe[1];
    openPort_ = port;
    openSpeed_ = speed;
    notePortHeld(port, true);
    return COM_OPEN_OK;
}

int SerialChannel::write(const TxFrameBlock& txFrame) {
    if (!isOpen())
        return 1;
    size_t length = static_cast<size_t>(txFrame[0] | (txFrame[1] << 8));
    // The block holds no more than this; a larger length field is a caller's
    // fault and must not make us send memory that is not the frame.
    if (length > static_cast<size_t>(kTxFrameMax))
        length = kTxFrameMax;

    d_->resetStop();
    auto next = std::make_unique<Writer>();
    next->bytes.assign(txFrame.begin() + 2, txFrame.begin() + 2 + static_cast<std::ptrdiff_t>(length));
    next->previous = std::move(d_->writer);
    Writer* raw = next.get();
    try {
        next->thread = std::thread([raw, fd = d_->portFd, stop = d_->stopRead] { raw->run(fd, stop); });
    } catch (const std::system_error&) {
        d_->writer = std::move(next->previous);
        return 3;
    }
    d_->writer = std::move(next);
    return 0;
}

int SerialChannel::read(RxBufferBlock& rxBuffer) {
    if (!isOpen())
        return 0;
    size_t total = 0;
    while (total < static_cast<size_t>(kRxReadMax)) {
        ssize_t got = ::read(d_->portFd, rxBuffer.data() + total, kRxReadMax - total);
        if (got > 0) {
            total += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        // Nothing queued (EAGAIN), end of file or an error of a vanished
        // device: nothing more to take now. The caller polls again later.
        break;
    }
    rxBuffer[total] = 0;
    return static_cast<int>(total);
}

int SerialChannel::setLines(uint8_t lineFlags) {
    if (!isOpen())
        return 0;
    setModemLine(d_->portFd, TIOCM_DTR, lineFlags & kLineDtr);
    // "RTS under handshake control" means: raised while we can take input,
    // which with our large input queue is always.
    setModemLine(d_->portFd, TIOCM_RTS, lineFlags & kLineRts);
    return 0;
}

void SerialChannel::Private::signalStop() {
    if (stopWrite < 0)
        return;
    const char one = 1;
    ssize_t ignored = ::write(stopWrite, &one, 1);
    (void)ignored; // a full pipe is signalled already
}

void SerialChannel::Private::resetStop() {
    char drain[64];
    while (::read(stopRead, drain, sizeof drain) > 0) {
    }
}

void SerialChannel::Private::endWriter() {
    if (!writer)
        return;
    bool ended;
    {
        std::unique_lock lock(writer->mutex);
        ended = writer->doneChanged.wait_for(lock, std::chrono::milliseconds(kWriterStopWaitMs),
                                             [this] { return writer->done; });
    }
    if (!ended) {
        // Cannot happen while the writer only blocks in its poll; should it
        // ever, put /dev/null under the descriptor so its write completes
        // without touching the device, instead of killing the thread.
        qCWarning(lcSerial) << "writer did not stop within" << kWriterStopWaitMs << "ms";
        int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (devNull >= 0) {
            ::dup2(devNull, portFd);
            ::close(devNull);
        }
    }
    writer->thread.join();
    writer.reset();
}

int SerialChannel::close() {
    if (!isOpen())
        return 1;
    d_->signalStop();
    d_->endWriter();
    ::close(d_->stopRead);
    ::close(d_->stopWrite);
    d_->stopRead = d_->stopWrite = -1;
    notePortHeld(openPort_, false);
    openPort_ = 0;
    // Throw away what the line has not sent yet: a close would otherwise wait
    // for it to drain (up to 30 s on most drivers, longer on a stalled USB
    // modem-class device), and the window waits with it on Stop or exit. The
    // writer has ended, so nothing is added after this.
    ::tcflush(d_->portFd, TCOFLUSH);
    // The next program finds the line as we found it, and may open it.
    ::tcsetattr(d_->portFd, TCSANOW, &d_->found);
    ::ioctl(d_->portFd, TIOCNXCL);
    ::close(d_->portFd);
    d_->portFd = -1;
    return 0;
}

int SerialChannel::writerBusy() {
    if (!isOpen() || !d_->writer)
        return 0;
    return d_->writer->finished() ? 0 : 1;
}

int SerialChannel::modemStatus(uint32_t& status) {
    if (!isOpen())
        return 0;
    int lines = 0;
    if (::ioctl(d_->portFd, TIOCMGET, &lines) != 0)
        lines = 0;
    status = static_cast<uint32_t>(lines & (TIOCM_CTS | TIOCM_DSR | TIOCM_RI | TIOCM_CD));
    return 0;
}

} // namespace parvault
