#pragma once

// TCustomFtpCli: the FTP protocol engine. It owns a control connection and a
// data connection, sends commands, assembles replies into lines, decides from
// each final reply whether a request succeeded and reports completion through
// a message posted to its own hidden window (never from inside the socket
// event that finished the request).

#include "ftp/ftpdatachannel.h"
#include "ftp/ftplisting.h"
#include "ftp/ftplocalfile.h"
#include "ftp/ftptypes.h"
#include "net/ssltruststore.h"
#include "net/wsocket.h"
#include "platform/hiddenwindow.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr unsigned WM_FTP_REQUEST_DONE = WM_USER + 1;
constexpr unsigned WM_FTP_SENDDATA = WM_USER + 2;
// Continues an upload whose last block went to the network at once.
constexpr unsigned WM_FTP_SENDNEXT = WM_USER + 3;

// Asked when a server certificate failed verification and neither this
// session nor the trust store accepts it; the answer decides the handshake.
using TFtpCertificateCheck = std::function<TSslTrustAnswer(TCustomFtpCli* sender, const TSslTrustQuestion& question)>;

// The class name shown in messages about an exception ("ESocketException").
std::string ExceptionClassName(const Exception& e);

class TCustomFtpCli {
public:
    using TFtpNextProc = void (TCustomFtpCli::*)();

    // Size of the control connection's reply buffer; a reply line with its
    // line end must fit in one byte less.
    static constexpr int ReplyBufferSize = 4096;
    // Bytes read from the data connection per receive, and read from the
    // local file per upload block.
    static constexpr int DataReceiveSize = 256 * 1024;
    static constexpr int UploadBlockSize = 256 * 1024;

    TCustomFtpCli();
    virtual ~TCustomFtpCli();

    TCustomFtpCli(const TCustomFtpCli&) = delete;
    TCustomFtpCli& operator=(const TCustomFtpCli&) = delete;

    // --- properties -------------------------------------------------------
    const std::string& HostName() const { return FHostName; }
    void SetHostName(const std::string& v) { FHostName = v; }
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& v) { FPort = v; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& v) { FUserName = v; }
    const std::string& PassWord() const { return FPassWord; }
    void SetPassWord(const std::string& v) { FPassWord = v; }
    const std::string& HostDirName() const { return FHostDirName; }
    void SetHostDirName(const std::string& v) { FHostDirName = v; }
    const std::string& HostFileName() const { return FHostFileName; }
    void SetHostFileName(const std::string& v) { FHostFileName = v; }
    const std::string& LocalFileName() const { return FLocalFileName; }
    void SetLocalFileName(const std::string& v) { FLocalFileName = v; }
    bool DisplayFileFlag() const { return FDisplayFileFlag; }
    void SetDisplayFileFlag(bool v) { FDisplayFileFlag = v; }
    bool Binary() const { return FTransferType == 'I'; }
    void SetBinary(bool v) { FTransferType = v ? 'I' : 'A'; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    TFtpShareMode ShareMode() const;
    void SetShareMode(TFtpShareMode v);
    TFtpOptions Options() const { return FOptions; }
    void SetOptions(TFtpOptions v) { FOptions = v; }
    bool Passive() const { return FPassive; }
    void SetPassive(bool v) { FPassive = v; }
    TFtpState State() const { return FState; }
    bool Connected() const { return GetConnected(); }
    bool GetConnected() const;
    int StatusCode() const { return FStatusCode; }
    const std::string& LastResponse() const { return FLastResponse; }
    std::int64_t SizeResult() const { return FSizeResult; }
    const std::string& DirResult() const { return FDirResult; }
    std::int64_t ResumeAt() const { return FResumeAt; }
    void SetResumeAt(std::int64_t v) { FResumeAt = v; }
    std::int64_t ByteCount() const { return FByteCount; }
    const std::string& DnsResult() const { return FDnsResult; }
    TFtpRequest RequestType() const { return FRequestType; }
    TWSocket* ControlSocket() const { return FControlSocket.get(); }
    TWSocket* DataSocket() const { return FData->Socket(); }
    HWND Handle() const { return FWindow ? FWindow->Handle() : 0; }
    TFtpDisplayFileMode DisplayFileMode() const { return GetDisplayFileMode(); }
    TFtpDisplayFileMode GetDisplayFileMode() const { return FDisplayFileMode; }
    void SetDisplayFileMode(TFtpDisplayFileMode v);
    char TransferType() const { return FTransferType; }
    TFtpEncryption Encryption() const { return FEncryption; }
    void SetEncryption(TFtpEncryption v) { FEncryption = v; }
    TFtpServerEncoding ServerEncoding() const { return FServerEncoding; }
    void SetServerEncoding(TFtpServerEncoding v) { FServerEncoding = v; }
    // Keep modification times: downloads take the server's time, uploads
    // set it on the server (MFMT) when the server offers that.
    bool PreserveTimes() const { return FPreserveTimes; }
    void SetPreserveTimes(bool v) { FPreserveTimes = v; }
    // What the server's FEAT reply offered on this connection.
    const TFtpFeatures& Features() const { return FFeatures; }
    // The encoding names travel in on this connection: ServerEncoding, with
    // Auto read as UTF-8 (bytes that are not UTF-8 kept as escapes).
    TFtpServerEncoding WireEncoding() const;
    // The modification time (Unix seconds, UTC) of the file a download
    // fetches, when the caller already knows it (from an MLSD listing): the
    // download then asks no MDTM. 0: not known. Used by the next download.
    void SetHostFileTime(std::int64_t v) { FHostFileTime = v; }
    // The time the last MDTM (or the caller) gave for the downloaded file.
    std::int64_t RemoteFileTime() const { return FRemoteFileTime; }
    std::uint16_t ShareFlags() const { return FShareFlags; }

    // --- TLS (FTPS) ---------------------------------------------------------
    // Authorities trusted besides the system's store (PEM file).
    const std::string& SslCAFile() const { return FSslCAFile; }
    void SetSslCAFile(const std::string& v) { FSslCAFile = v; }
    // Off: any certificate is accepted (said in the log at every connection).
    bool SslVerifyPeer() const { return FSslVerifyPeer; }
    void SetSslVerifyPeer(bool v) { FSslVerifyPeer = v; }
    // Certificates remembered with "always trust" count as trusted.
    bool SslUseTrustStore() const { return FSslUseTrustStore; }
    void SetSslUseTrustStore(bool v) { FSslUseTrustStore = v; }
    TSslVersion SslMinVersion() const { return FSslMinVersion; }
    void SetSslMinVersion(TSslVersion v) { FSslMinVersion = v; }
    TSslVersion SslMaxVersion() const { return FSslMaxVersion; }
    void SetSslMaxVersion(TSslVersion v) { FSslMaxVersion = v; }
    // The fingerprint of the certificate accepted on this connection (by
    // verification, the trust store or the certificate question).
    const std::string& TlsAcceptedFingerprint() const { return FTlsAcceptedFingerprint; }
    // The control connection runs TLS now.
    bool ControlTlsActive() const;
    // Data connections are protected (PROT P accepted on this session).
    bool DataProtected() const { return FDataProtected; }
    // The port the control connection uses: 990 for implicit TLS unless
    // another one was given.
    std::string ControlPort() const;
    TFtpCertificateCheck OnCertificateCheck;

    // --- events -----------------------------------------------------------
    TFtpDisplay OnDisplay;
    TFtpDisplay OnDisplayFile;
    TFtpDisplay OnError;
    TFtpCommand OnCommand;
    TFtpNotifyEvent OnResponse;
    TFtpProgress OnProgress;
    TFtpSessionEvent OnSessionConnected;
    TFtpSessionEvent OnSessionClosed;
    TFtpRequestDone OnRequestDone;
    TFtpNotifyEvent OnStateChange;
    TFtpReadyToTransmit OnReadyToTransmit;
    TFtpBgExceptionEvent OnBgException;

    // --- virtual operations, in the order callers know them -----------------
    virtual void SendCommand(const std::string& cmd);
    virtual void TriggerDisplay(const std::string& msg);
    virtual void TriggerReadyToTransmit(bool& cancel);
    virtual void TriggerDisplayFile(const std::string& msg);
    virtual void TriggerError(const std::string& msg);
    virtual bool Progress();
    virtual void PortAsync();
    virtual void TransfertStats();
    virtual void WndProc(TMessage& msg);
    virtual void HandleBackGroundException(const std::exception& e);
    virtual void OpenAsync();
    virtual void UserAsync();
    virtual void PassAsync();
    virtual void ConnectAsync();
    virtual void QuitAsync();
    virtual void AbortAsync();
    virtual void GetAsync();
    virtual void ExecGetAsync();
    virtual void ReceiveAsync();
    virtual void PutAsync();
    virtual void ExecPutAsync();
    virtual void TransmitAsync();
    virtual void AppendAsync();
    virtual void ExecAppendAsync();
    virtual void AppendFileAsync();
    virtual void ExecDirAsync();
    virtual void DirAsync();
    virtual void ExecLsAsync();
    virtual void LsAsync();
    virtual void TypeSetAsync();
    virtual void TypeBinaryAsync();
    virtual void TypeAsciiAsync();
    virtual void PwdAsync();
    virtual void CwdAsync();
    virtual void CDupAsync();
    virtual void DirectoryAsync();
    virtual void ListAsync();
    virtual void SystAsync();
    virtual void SystemAsync();
    virtual void SizeAsync();
    virtual void FileSizeAsync();
    virtual void MkdAsync();
    virtual void MkdirAsync();
    virtual void RmdAsync();
    virtual void RmdirAsync();
    virtual void DeleAsync();
    virtual void DeleteAsync();
    virtual void RenFromAsync();
    virtual void RenToAsync();
    virtual void RenAsync();
    virtual void RenameAsync();
    virtual void QuoteAsync();
    virtual void DoQuoteAsync();
    virtual void RestAsync();
    virtual void RestGetAsync();
    virtual void RestartGetAsync();
    virtual void RestPutAsync();
    virtual void RestartPutAsync();
    virtual void AuthAsync();
    virtual void PbszAsync();
    virtual void ProtAsync();
    // PBSZ 0 and PROT P as one request.
    virtual void ProtectAsync();
    // FEAT on its own (login runs it by itself once per connection).
    virtual void FeatAsync();
    // A machine listing (MLSD, RFC 3659) of HostFileName or of the current
    // folder, into LocalFileName or OnDisplayFile as LIST would.
    virtual void MlsdAsync();
    virtual void ExecMlsdAsync();

    // Also used by the tests and by derived classes.
    static std::int64_t ReadNumber(const std::string& text, std::size_t& pos);
    static std::string ReadQuoted(const std::string& text, std::size_t& pos);

protected:
    virtual void TriggerStateChange();
    virtual void TriggerRequestDone(std::uint16_t error);

    void StateChange(TFtpState newState);
    void DisplayLastResponse();
    void SetErrorMessage();
    void HandleError(const std::string& msg);
    // The completion value for a request result; one that does not fit in
    // 16 bits must not narrow into a success.
    static std::uint16_t ErrorValue(std::int64_t result);
    bool CheckReady();

    // Request engine.
    void ExecAsync(TFtpRequest rqType, const std::string& cmd, std::initializer_list<std::uint16_t> okResponses,
                   TFtpNextProc doneAsync = nullptr);
    void NextExecAsync();
    void ExtractMoreResults();
    bool IsFinalLine() const;
    void QuitDone();

    // Chained operations.
    void HighLevelAsync(TFtpRequest rqType, TFtpFctSet fcts);
    void DoHighLevelAsync();
    void RunChainStep(TFtpFct fct, TFtpFct previous);
    void EndRefusedChain(const std::string& why);

    // Control connection.
    void ControlSocketDnsLookupDone(std::uint16_t error);
    void ControlSocketSessionConnected(std::uint16_t error);
    void ControlSocketDataAvailable(std::uint16_t error);
    void ControlSocketSessionClosed(std::uint16_t error);
    void ReplyLineTooLong();
    // Whether the line in LastResponse ends a reply; sets StatusCode and
    // the number the line starts with.
    bool EndsReply(std::int64_t& number);
    void CloseControlLater(bool onPurpose);

    // How a failing request leaves its text: as the reply line (LastResponse,
    // and ErrorMessage when that is still empty), as a local failure
    // (ErrorMessage replaced and displayed), or only when nothing failed
    // before it (ErrorMessage when empty, nothing displayed).
    enum class TFailText : std::uint8_t {
        Reply,
        Local,
        IfNone
    };
    // The one way a request ends in failure: result code, error text, the
    // data connection and the local file released, one completion.
    void EndWithFailure(std::uint16_t code, const std::string& text, TFailText how, int status = 0);

    // FEAT, OPTS UTF8 and the steps a chain adds by itself (ftpfeatures.cpp,
    // ftpmlsd.cpp, ftptimes.cpp).
    void ResetSessionFeatures();
    void AddImpliedSteps(TFtpFctSet& fcts);
    void AddLoginFollowUps(TFtpFct previous);
    bool HandledWithoutCommand(TFtpFct fct);
    void RunModernStep(TFtpFct fct);
    void NextFeatAsync();
    void OptsUtf8Async();
    // A step whose refusal is no failure: its done handler turns a refusal
    // (anything but a lost connection) into success.
    void ExecTolerantAsync(TFtpRequest rqType, const std::string& cmd, std::initializer_list<std::uint16_t> ok,
                           TFtpNextProc done);
    bool ForgiveRefusal();
    void FeatDone();
    void OptsUtf8Done();
    void ListPwdDone();
    void ListCwdDone();
    void MdtmDone();
    void MfmtDone();
    void RunMfmtStep();
    void ApplyKeptTime();
    // Display text (UTF-8, U+EF80.. escapes) to the server's bytes and back.
    bool ToWire(const std::string& display, std::string& wire, std::string& error) const;
    std::string FromWire(const std::string& wire) const;
    // The LIST/NLST/MLSD/RETR command line, with the listed folder's name
    // left out when the chain changed into it.
    std::string TransferCommandLine() const;

    // EPSV/PASV and EPRT/PORT (ftpextendeddata.cpp).
    std::string DataPortCommand(const sockaddr_storage& local, std::uint16_t dataPort) const;
    void PortReplyDone();
    static bool ExtendedPassivePort(const std::string& reply, std::string& port);

    // Data connection.
    void ExecTransferAsync(TFtpRequest rqType);
    void ExecUploadAsync();
    bool PassivePortFromReply(std::string& port);
    bool ConnectPassive(std::uint16_t failCode);
    SOCKET AcceptFromControlPeer();
    void DataSocketSessionAvailable(std::uint16_t error);
    void AdoptDataConnection(SOCKET accepted);
    void SetDataHandlers();
    bool DataConnectionToDrain();
    void DataSocketSessionConnected(std::uint16_t error);
    void DataSocketSessionClosed(std::uint16_t error);
    void DataSocketGetDataAvailable(std::uint16_t error);
    bool OpenDownloadFile();
    void DataSocketPutDataSent(std::uint16_t error);
    void WMFtpSendData();
    void SendUploadBlock(std::int64_t len);
    // Hands the next part of the file to the socket straight from the file;
    // false when this transfer has to read blocks instead.
    bool TransmitFromFile();
    void FinishUpload();
    void EndDrainedUpload();
    void SampleUpload();
    void Next1GetAsync();
    void Next2GetAsync();
    void Next1PutAsync();
    void Next2PutAsync();
    void CheckTransferDone();
    void DeliverDisplayFile(const char* data, std::int64_t len);
    void CloseDataSocket();
    void TakeEarlyDataConnection();
    void FreeLocalStream() { FData->CloseLocalFile(); }
    // TLS on the control and data connections (ftptls.cpp).
    void SetTlsHandlers();
    void PrepareControlTls();
    void AuthDone();
    void ProtDone();
    void ControlSslHandshakeDone(std::uint16_t error);
    void ControlSslError(std::uint16_t error);
    void FailControlTls(std::uint16_t code, const std::string& text);
    void ControlVerifyPeer(const TSslCertInfo& cert, bool& accept);
    std::string TlsFailureText(TWSocket* socket, std::uint16_t error) const;
    bool RefuseClearLogin();
    bool SkipTlsStep(TFtpFct fct) const;
    void AddTlsSteps(TFtpFctSet& fcts) const;
    void StartDataTls();
    void CheckDataTlsClose(std::uint16_t error);
    // What failed on the TLS data connection (error: its TLS error code).
    std::string DataTlsFailureText(std::uint16_t error) const;
    // A failing reply to a transfer told in terms of its TLS data
    // connection ("" when TLS has nothing to do with it).
    std::string DataTlsReplyFailureText() const;
    // Tick for StartTick/StopTick, never 0.
    static std::int64_t TransferTick();
    static std::string LocalFailureReason(const Exception& e);

    // Properties.
    std::string FHostName;
    std::string FPort = "ftp";
    std::string FUserName;
    std::string FPassWord;
    std::string FHostDirName;
    std::string FHostFileName;
    std::string FLocalFileName;
    bool FDisplayFileFlag = false;
    std::string FErrorMessage;
    TFtpOptions FOptions{ftpAcceptLF};
    bool FPassive = false;
    TFtpState FState = ftpReady;
    int FStatusCode = 0;
    std::string FLastResponse;
    std::int64_t FSizeResult = 0;
    std::string FDirResult;
    std::int64_t FResumeAt = 0;
    std::int64_t FByteCount = 0;
    std::string FDnsResult;
    TFtpRequest FRequestType = ftpNone;
    TFtpDisplayFileMode FDisplayFileMode = ftpLineByLine;
    TFtpEncryption FEncryption = TFtpEncryption::None;
    TFtpServerEncoding FServerEncoding = TFtpServerEncoding::Auto;
    bool FPreserveTimes = true;
    TFtpFeatures FFeatures;
    std::int64_t FHostFileTime = 0;
    std::int64_t FRemoteFileTime = 0;

    // Per connection: FEAT answered, the encoding it decided, what the
    // server refused of the extended data commands.
    bool FFeatDone = false;
    bool FCollectReply = false;
    std::string FCollectedReply;
    TFtpServerEncoding FWireEncoding = TFtpServerEncoding::Utf8;
    bool FEpsvRefused = false;
    bool FPortRefused = false;
    std::string FPortCommand;
    std::uint16_t FDataPort = 0;
    sockaddr_storage FDataLocal{};
    std::string FPortSavedError;
    std::string FForgivenError;
    // Listing a folder by name: the folder to return to, and whether the
    // chain changed into the listed folder.
    std::string FListReturnDir;
    bool FListCanReturn = false;
    bool FListInPlace = false;

    // Internal state.
    char FTransferType = 'I';
    std::uint16_t FShareFlags = 0x0010;
    std::array<char, ReplyBufferSize> FReplyBuffer{};
    int FReplyLen = 0;
    std::array<std::uint16_t, 16> FAcceptedCodes{};
    TFtpNextProc FNext = nullptr;
    TFtpNextProc FDoneAsync = nullptr;
    TFtpNextProc FChainStep = nullptr;
    int FRequestResult = 0;
    bool FDoneReported = false;
    bool FHighLevelMode = false;
    int FHighLevelResult = 0;
    TFtpFctSet FPendingFcts;
    TFtpFct FLastFct = ftpFctNone;
    std::string FSavedResponse;
    int FSavedStatusCode = -1;
    bool FControlConnected = false;
    bool FClosingOnPurpose = false;
    // The closing of the current control connection was handled; the socket
    // may report it twice when it is closed from inside its own close event.
    bool FControlCloseHandled = true;
    // A close of the control connection is on its way: what still arrives
    // is read and dropped.
    bool FDiscardReplies = false;
    // The message of the last refusal (HandleError), for a chain step that
    // was refused without an exception.
    std::string FRefusal;
    // Completions posted and not yet delivered to OnRequestDone.
    int FDonePending = 0;
    // Completions posted since construction.
    std::int64_t FDonePosted = 0;

    std::string FPasvReply;
    std::string FTransferCommand;
    bool FAppendMode = false;
    // The server connected to the listening socket before the transfer
    // command was issued (some servers connect as soon as PORT arrives).
    bool FEarlyDataConnection = false;
    // The file the last successful SIZE was about: its size is what a
    // binary download of that file must deliver.
    std::string FSizeFileName;
    bool FSizeKnown = false;
    // The code of a multi-line reply in progress (0: none); only a line
    // with this code followed by a space ends it.
    int FMultiLineCode = 0;

    std::string FSslCAFile;
    bool FSslVerifyPeer = true;
    bool FSslUseTrustStore = true;
    TSslVersion FSslMinVersion = sslVersionDefault;
    TSslVersion FSslMaxVersion = sslVersionDefault;
    // AUTH TLS was accepted; its handshake is running.
    bool FAuthHandshake = false;
    bool FDataProtected = false;
    // The data connection of the current transfer runs TLS.
    bool FDataTls = false;
    // The fingerprint of the control connection's certificate once it was
    // accepted (verified, trusted or allowed by the user): the data
    // connections must show the same one.
    std::string FTlsAcceptedFingerprint;
    // The session the next data connection offers, and the data socket's
    // newest session before the current data connection started.
    TSslSession FDataResumeSession;
    TSslSession FDataSessionBefore;

    std::unique_ptr<THiddenWindow> FWindow;
    std::unique_ptr<TWSocket> FControlSocket;
    std::unique_ptr<TFtpDataChannel> FData;
};
