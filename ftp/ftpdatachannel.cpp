#include "ftp/ftpdatachannel.h"

#include "platform/tickcount.h"

#include <algorithm>
#include <linux/sockios.h>

namespace {

// How often an upload looks at what the peer has taken.
constexpr int SampleIntervalMs = 250;

} // namespace

TFtpDataChannel::TFtpDataChannel() : FSocket(std::make_unique<TWSocket>())
{
    FSampler.setInterval(SampleIntervalMs);
    QObject::connect(&FSampler, &QTimer::timeout, [this] {
        if (OnSample)
            OnSample();
    });
}

TFtpDataChannel::~TFtpDataChannel()
{
    FSampler.stop();
    FLocal.reset();
}

void TFtpDataChannel::Begin(TDirection direction)
{
    FDirection = direction;
    FLocal.reset();
    FMoved = 0;
    FTaken = 0;
    FLastMoveTick = 0;
    FCompleted = false;
    FFailCode = 0;
    FFailMessage.clear();
    StartTick = 0;
    StopTick = 0;
    Announced = -1;
    ToSend = 0;
    ServerDone = false;
    DataClosed = false;
    EndOfFile = false;
    ReplySeen = false;
    DataOpen = false;
    AbortRequested = false;
    CopyThroughBlocks = false;
    LocalOpened = false;
    CloseError = 0;
    ServerFailCode = 0;
    ServerFailLine.clear();
    TlsStage = TTlsStage::None;
    if (direction == TDirection::Send)
        FSampler.start();
    else
        FSampler.stop();
}

void TFtpDataChannel::End()
{
    FSampler.stop();
    FLocal.reset();
    FPhase = TFtpDataPhase::Idle;
}

void TFtpDataChannel::OpenForWrite(const std::string& fileName, std::int64_t resumeAt)
{
    FLocal.reset();
    if (resumeAt > 0) {
        FLocal = std::make_unique<TFtpLocalFile>(fileName, TFtpLocalFile::Mode::Update);
        FLocal->Seek(resumeAt);
    } else {
        FLocal = std::make_unique<TFtpLocalFile>(fileName, TFtpLocalFile::Mode::Create);
    }
}

void TFtpDataChannel::OpenForRead(const std::string& fileName, std::int64_t resumeAt)
{
    FLocal.reset();
    FLocal = std::make_unique<TFtpLocalFile>(fileName, TFtpLocalFile::Mode::Read);
    if (resumeAt > 0)
        FLocal->Seek(resumeAt);
    const std::int64_t size = TFtpLocalFile::FileSize(fileName);
    ToSend = size < 0 ? -1 : std::max<std::int64_t>(0, size - std::max<std::int64_t>(0, resumeAt));
}

std::vector<char>& TFtpDataChannel::Block(std::size_t size)
{
    if (FBlock.size() != size)
        FBlock.resize(size);
    return FBlock;
}

void TFtpDataChannel::AddMoved(std::int64_t count)
{
    FMoved += count;
    if (FDirection == TDirection::Receive && count > 0) {
        FTaken = FMoved;
        FLastMoveTick = GetTickCount64();
    }
}

std::int64_t TFtpDataChannel::KernelQueued() const
{
    const SOCKET fd = FSocket->HSocket();
    if (fd == INVALID_SOCKET)
        return -1;
    std::uint32_t queued = 0;
    if (WSocket_ioctlsocket(fd, long(SIOCOUTQ), &queued) != 0)
        return -1;
    return std::int64_t(queued);
}

int TFtpDataChannel::BrokenBy() const
{
    const SOCKET fd = FSocket->HSocket();
    if (fd == INVALID_SOCKET)
        return 0;
    char probe = 0;
    if (WSocket_recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) >= 0)
        return 0;
    const int error = WSocket_WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : error;
}

bool TFtpDataChannel::Sample()
{
    if (FDirection != TDirection::Send)
        return false;
    const std::int64_t kernel = KernelQueued();
    if (kernel < 0)
        return false;
    const std::int64_t taken = std::clamp<std::int64_t>(FMoved - FSocket->BufferedByteCount() - kernel, 0, FMoved);
    if (taken <= FTaken)
        return false;
    FTaken = taken;
    FLastMoveTick = GetTickCount64();
    return true;
}

bool TFtpDataChannel::ReadyToComplete()
{
    if (FCompleted || !ServerDone || !DataClosed)
        return false;
    FCompleted = true;
    return true;
}

void TFtpDataChannel::Fail(std::uint16_t code, const std::string& message)
{
    if (FFailCode != 0)
        return;
    FFailCode = code == 0 ? 426 : code;
    FFailMessage = message;
}
