#pragma once

// Line mode: received bytes are collected and handed to OnDataAvailable one
// complete line (terminator included) at a time, with optional echo and
// backspace/tab editing for terminal-like peers.

#include "net/customsslwsocket.h"

#include <vector>

class TCustomLineWSocket : public TCustomSslWSocket {
public:
    TCustomLineWSocket() = default;
    ~TCustomLineWSocket() override = default;

    // Declared for completeness; nothing in this layer limits a line.
    TSocketNotifyEvent OnLineTooLong;

    bool LineMode() const { return FLineMode; }
    const std::string& LineEnd() const { return FLineEnd; }
    void SetLineEnd(const std::string& Value) { FLineEnd = Value; }
    bool LineEcho() const { return FLineEcho; }
    void SetLineEcho(bool Value) { FLineEcho = Value; }
    bool LineEdit() const { return FLineEdit; }
    void SetLineEdit(bool Value) { FLineEdit = Value; }

    virtual void SetLineMode(bool Value);
    std::int64_t GetRcvdCount() override;

protected:
    void WndProc(TMessage& MsgRec) override;
    int DoRecv(void* Buffer, int BufferSize, int Flags) override;
    bool TriggerDataAvailable(std::uint16_t Error) override;
    void TriggerSessionClosed(std::uint16_t Error) override;
    virtual void EditLine(std::int64_t& Len);

    void WMTriggerDataAvailable(TMessage& msg);

    // Outcome of offering the current line to the handler.
    enum class TOffer {
        Done,
        Stalled,
        Gone
    };
    // Offers the current line (FLineLength bytes at the front) until the
    // handler has read it, no handler takes it (dropped), line mode goes off,
    // or the handler reads nothing (Stalled: the line stays for later).
    TOffer OfferCurrentLine();
    // Finds complete lines from SearchFrom on and offers each in turn.
    TOffer DeliverLines(std::int64_t SearchFrom);
    // Delivers what is held: the pending line, then every complete line.
    TOffer DeliverHeld();
    // At close: delivers everything held, as lines while line mode is on
    // (the unterminated rest last) and as plain data while it is off, until
    // nothing is held or the handler stops taking bytes.
    TOffer DeliverAtClose();
    void ReserveLineBuffer(std::int64_t Size);
    void ConsumeFront(std::int64_t Count);

    bool FLineMode = false;
    std::string FLineEnd = "\r\n";
    bool FLineEcho = false;
    bool FLineEdit = false;
    // Held bytes followed by a zero byte; its size is the allocated size.
    std::vector<char> FLineBuffer;
    std::int64_t FLineBufferCount = 0;
    std::int64_t FLineLength = 0;
    bool FLineReceived = false;
};
