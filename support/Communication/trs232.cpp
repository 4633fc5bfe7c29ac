#include "support/Communication/trs232.h"

#include "support/Communication/trs232error.h"

#include <QSerialPort>
#include <QString>

namespace {

bool ParityFor(char letter, QSerialPort::Parity& parity)
{
    switch (letter) {
    case 'N': case 'n': parity = QSerialPort::NoParity; return true;
    case 'E': case 'e': parity = QSerialPort::EvenParity; return true;
    case 'O': case 'o': parity = QSerialPort::OddParity; return true;
    case 'M': case 'm': parity = QSerialPort::MarkParity; return true;
    case 'S': case 's': parity = QSerialPort::SpaceParity; return true;
    default: return false;
    }
}

} // namespace

TAString TRs232::DevicePath(const TAString& port)
{
    if (port.Find("/") >= 0)
        return port;
    if (port.IsEmpty() || !port.IsNumber() || port.Find(".") >= 0 || port.Find("-") >= 0 || port.Find("+") >= 0)
        return TAString();
    const uint32_t number = port.AsUInt32(TAString::nmDec, 0);
    if (number < 1)
        return TAString();
    return TAString("/dev/ttyS") + TAString(static_cast<int32_t>(number - 1));
}

TRs232::TRs232(const TAString& port, uint32_t bitRate, int dataBits, char parityLetter)
{
    const TAString device = DevicePath(port);
    const TAString where = "COM port '" + port + "'" + (device.IsEmpty() || device == port ? TAString() : " (" + device + ")");
    const auto fail = [&](const TAString& why) { return TRs232Error("TRs232::TRs232", "ConnectError", where + ": " + why); };
    QSerialPort::Parity parity = QSerialPort::NoParity;
    if (device.IsEmpty())
        throw fail("not a port number from 1 or a device path");
    if (dataBits < 5 || dataBits > 8)
        throw fail("bad settings: " + TAString(static_cast<int32_t>(dataBits)) + " data bits (5 to 8 are possible)");
    if (!ParityFor(parityLetter, parity))
        throw fail("bad settings: parity '" + TAString(parityLetter) + "' (N, E, O, M or S)");
    if (bitRate < 1 || bitRate > 0x7FFFFFFF)
        throw fail("bad settings: bit rate " + TAString(std::to_string(bitRate)));

    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(QString::fromUtf8(device.c_str()));
    if (!port_->open(QIODevice::ReadWrite)) {
        const auto error = port_->error();
        const TAString text(port_->errorString().toStdString());
        port_.reset();
        switch (error) {
        case QSerialPort::DeviceNotFoundError: throw fail("missing: no such device (" + text + ")");
        case QSerialPort::PermissionError: throw fail("busy or not permitted: in use by another program, or no permission (" + text + ")");
        default: throw fail("does not open (" + text + ")");
        }
    }
    const char* setting = nullptr;
    if (!port_->setBaudRate(static_cast<qint32>(bitRate)))
        setting = "bit rate";
    else if (!port_->setDataBits(static_cast<QSerialPort::DataBits>(dataBits)))
        setting = "data bits";
    else if (!port_->setParity(parity))
        setting = "parity";
    else if (!port_->setStopBits(QSerialPort::OneStop))
        setting = "stop bits";
    else if (!port_->setFlowControl(QSerialPort::NoFlowControl))
        setting = "flow control";
    if (setting) {
        const TAString text(port_->errorString().toStdString());
        port_.reset();
        throw fail(TAString("bad settings: the device refuses the ") + setting + " (" + text + ")");
    }
}

TRs232::~TRs232() = default;

bool TRs232::Check()
{
    const auto error = port_->error();
    if (error == QSerialPort::TimeoutError)
        port_->clearError();
    else if (error != QSerialPort::NoError)
        failed_ = true;
    return !failed_;
}

TAString TRs232::ErrorText() const
{
    return TAString(port_->errorString().toStdString());
}

int TRs232::Handle() const
{
    return static_cast<int>(port_->handle());
}

int64_t TRs232::Pending() const
{
    return port_->bytesToWrite();
}

int TRs232::Write(const void* bytes, int count)
{
    if (failed_ || !Check())
        return -1;
    const qint64 taken = port_->write(static_cast<const char*>(bytes), count);
    if (taken < 0 || !Check())
        return -1;
    Flush();
    return failed_ ? -1 : static_cast<int>(taken);
}

void TRs232::Flush()
{
    if (failed_ || port_->bytesToWrite() == 0)
        return;
    port_->waitForBytesWritten(0);
    Check();
}

int TRs232::Read(void* destination, int count)
{
    if (failed_ || !Check())
        return -1;
    // Without an event loop, the port's buffer is filled by a wait that finds the device readable.
    if (port_->bytesAvailable() == 0) {
        port_->waitForReadyRead(0);
        if (!Check())
            return -1;
    }
    const qint64 got = port_->read(static_cast<char*>(destination), count);
    if (got < 0 || !Check())
        return -1;
    return static_cast<int>(got);
}
