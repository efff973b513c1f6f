#include "serialchannel.h"

#include <QLoggingCategory>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

Q_LOGGING_CATEGORY(lcSerial, "parvault.serial")

namespace parvault {

namespace {

inline constexpr DWORD kQueueBytes = 8192; // the driver's queues, each way
inline constexpr DWORD kReadStallMs = 200;    // the longest a read of queued bytes may take

// Raw, transparent 8N1 without flow control: the frames carry every byte
// value, so nothing may be taken as a signal or a flow-control character.
void applyLineSettings(DCB& dcb, uint32_t baud) {
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

// One write of one frame on its own thread, overlapped, so that it waits on
// the write and on the stop event at once and a close ends it promptly.
struct Writer {
    std::vector<uint8_t> bytes;
    std::unique_ptr<Writer> previous; // a write still running when this one was started
    std::atomic<bool> done{false};
    std::thread thread;

    void run(HANDLE port, HANDLE stop) {
        // Frames go out one after the other: the earlier one is finished (or stopped) first.
        if (previous) {
            previous->thread.join();
            previous.reset();
        }
        writeAll(port, stop);
        done = true;
    }

    void writeAll(HANDLE port, HANDLE stop) {
        OVERLAPPED ov{};
        ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!ov.hEvent)
            return;
        DWORD written = 0;
        if (!::WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &ov) &&
            ::GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[2] = {ov.hEvent, stop};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
                ::CancelIoEx(port, &ov);
            ::GetOverlappedResult(port, &ov, &written, TRUE);
        }
        ::CloseHandle(ov.hEvent);
    }
};

} // namespace

QString systemErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                     nullptr);
    QString result = n ? QString::fromWCharArray(text, static_cast<qsizetype>(n)).trimmed()
                       : QStringLiteral("ошибка %1").arg(error);
    if (text)
        ::LocalFree(text);
    return result;
}

ComOpenFailure openFailureFromSystemError(int error) {
    switch (static_cast<DWORD>(error)) {
    case 0:
        return ComOpenFailure::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
        return ComOpenFailure::NoDevice;
    // A COM port another program holds answers "access denied": Windows opens
    // serial devices for one handle at a time.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return ComOpenFailure::Busy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE:
        return ComOpenFailure::NotTerminal;
    default:
        return ComOpenFailure::Other;
    }
}

struct SerialChannel::Private {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr; // manual-reset event: set to stop the running writer
    DCB found{};           // the line settings before our open, put back at the close
    COMMTIMEOUTS foundTimeouts{};
    std::unique_ptr<Writer> writer;

    void endWriter() {
        if (!writer)
            return;
        ::SetEvent(stop);
        writer->thread.join(); // the writer waits on the stop event too, so this is prompt
        writer.reset();
    }
};

SerialChannel::SerialChannel(PortNaming naming) : naming_(std::move(naming)), d_(std::make_unique<Private>()) {}

SerialChannel::~SerialChannel() { close(); }

bool SerialChannel::isOpen() const { return d_->port != INVALID_HANDLE_VALUE; }

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
    auto failed = [this](DWORD error) {
        lastOpenError_.error = static_cast<int>(error);
        lastOpenError_.failure = openFailureFromSystemError(static_cast<int>(error));
        return COM_OPEN_FAILED;
    };
    auto path = portDevicePath(port, naming_);
    if (!path) {
        lastOpenError_.failure = ComOpenFailure::NoPortNumber;
        return COM_OPEN_FAILED;
    }
    lastOpenError_.device = "COM" + std::to_string(port);
    // No sharing: one program at a time, as the system does for serial devices anyway.
    HANDLE h = ::CreateFileW(path->wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return failed(::GetLastError());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommState(h, &dcb) || !::GetCommTimeouts(h, &timeouts)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(h);
        return failed(error ? error : ERROR_INVALID_FUNCTION);
    }
    d_->found = dcb;
    d_->foundTimeouts = timeouts;
    ::SetupComm(h, kQueueBytes, kQueueBytes);
    // A speed the driver refuses leaves the line at its old speed.
    applyLineSettings(dcb, speed);
    if (!::SetCommState(h, &dcb))
        qCDebug(lcSerial) << "line settings refused:" << systemErrorText(static_cast<int>(::GetLastError()));
    // Whatever waits in the line is from before this program opened it: no
    // request of ours asked for it.
    ::PurgeComm(h, PURGE_RXCLEAR);
    // Reads return at once with whatever is queued; writes have no time-out of
    // their own (a close ends them).
    COMMTIMEOUTS ours{};
    ours.ReadIntervalTimeout = MAXDWORD;
    ::SetCommTimeouts(h, &ours);

    d_->stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!d_->stop) {
        ::SetCommState(h, &d_->found);
        ::SetCommTimeouts(h, &d_->foundTimeouts);
        ::CloseHandle(h);
        return COM_OPEN_NO_STOP;
    }
    d_->port = h;
    openPort_ = port;
    openSpeed_ = speed;
    notePortHeld(port, true);
    return COM_OPEN_OK;
}

int SerialChannel::write(const TxFrameBlock& txFrame) {
    if (!isOpen())
        return 1;
    size_t length = static_cast<size_t>(txFrame[0] | (txFrame[1] << 8));
    if (length > static_cast<size_t>(kTxFrameMax))
        length = kTxFrameMax;

    ::ResetEvent(d_->stop);
    auto next = std::make_unique<Writer>();
    next->bytes.assign(txFrame.begin() + 2, txFrame.begin() + 2 + static_cast<std::ptrdiff_t>(length));
    next->previous = std::move(d_->writer);
    Writer* raw = next.get();
    try {
        next->thread = std::thread([raw, port = d_->port, stop = d_->stop] { raw->run(port, stop); });
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
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (ov.hEvent && total < static_cast<size_t>(kRxReadMax)) {
        // Only what the driver holds already is asked for, so the read ends at
        // once on any driver: the "return at once" time-outs set at the open
        // are not kept by every driver (Wine's, for one) for overlapped reads.
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(d_->port, &errors, &status) || status.cbInQue == 0)
            break;
        const DWORD want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(kRxReadMax - total));
        DWORD got = 0;
        ::ResetEvent(ov.hEvent);
        if (!::ReadFile(d_->port, rxBuffer.data() + total, want, &got, &ov)) {
            if (::GetLastError() != ERROR_IO_PENDING)
                break;
            // Bounded all the same: a read that does not end is given up.
            if (::WaitForSingleObject(ov.hEvent, kReadStallMs) != WAIT_OBJECT_0)
                ::CancelIoEx(d_->port, &ov);
            if (!::GetOverlappedResult(d_->port, &ov, &got, TRUE) && got == 0)
                break;
        }
        if (got == 0)
            break;
        total += got;
    }
    if (ov.hEvent)
        ::CloseHandle(ov.hEvent);
    rxBuffer[total] = 0;
    return static_cast<int>(total);
}

int SerialChannel::setLines(uint8_t lineFlags) {
    if (!isOpen())
        return 0;
    ::EscapeCommFunction(d_->port, (lineFlags & kLineDtr) ? SETDTR : CLRDTR);
    ::EscapeCommFunction(d_->port, (lineFlags & kLineRts) ? SETRTS : CLRRTS);
    return 0;
}

int SerialChannel::close() {
    if (!isOpen())
        return 1;
    d_->endWriter();
    ::CloseHandle(d_->stop);
    d_->stop = nullptr;
    notePortHeld(openPort_, false);
    openPort_ = 0;
    // Throw away what the line has not sent yet, then leave the line as found.
    ::PurgeComm(d_->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR);
    ::SetCommState(d_->port, &d_->found);
    ::SetCommTimeouts(d_->port, &d_->foundTimeouts);
    ::CloseHandle(d_->port);
    d_->port = INVALID_HANDLE_VALUE;
    return 0;
}

int SerialChannel::writerBusy() {
    if (!isOpen() || !d_->writer)
        return 0;
    return d_->writer->done ? 0 : 1;
}

int SerialChannel::modemStatus(uint32_t& status) {
    if (!isOpen())
        return 0;
    DWORD lines = 0;
    if (!::GetCommModemStatus(d_->port, &lines))
        lines = 0;
    status = static_cast<uint32_t>(lines);
    return 0;
}

} // namespace parvault
