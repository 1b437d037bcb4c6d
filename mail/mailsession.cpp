#include "mailsession.h"

#include "neterror.h"

MailSession::MailSession(Transport* injected)
    : socket_(injected == nullptr ? std::make_unique<MailSocket>() : nullptr),
      transport_(injected == nullptr ? socket_.get() : injected), reader_(*transport_)
{
}

bool MailSession::Connect(const std::string& host, int port, std::chrono::milliseconds timeout,
                          bool implicitTls, const std::string& pin)
{
    reader_.SetTimeout(timeout);
    reader_.Reset();
    owed_ = 0;
    if (!socket_) {
        if (!transport_->IsOpen())
            return SetNetError(neterr::kNotConnected, NetCategory::ConnectFailed,
                               "cannot connect to " + transport_->PeerName() + ": not connected");
    } else {
        socket_->SetPinnedCertificate(pin);
        if (!socket_->Connect(host, port, timeout,
                              implicitTls ? MailSocket::Security::ImplicitTls
                                          : MailSocket::Security::Plain))
            return false;
    }
    owed_ = 1;
    return true;
}

bool MailSession::Send(std::string_view bytes, int replies)
{
    owed_ += replies;
    lastSend_ = std::chrono::steady_clock::now();
    return transport_->Send(bytes);
}

int MailSession::ReadReply(Pop3ReplyParser::Kind kind, Pop3Reply& out)
{
    int r = reader_.ReadReply(kind, out);
    if (r >= 0)
        --owed_;
    return r;
}

int MailSession::ReadTagged(std::string_view expected, ImapReply& out)
{
    int r = reader_.ReadTagged(expected, out);
    if (r >= 0)
        --owed_;
    return r;
}

int MailSession::ReadContinuation(std::string_view tag, ImapReply& out)
{
    int r = reader_.ReadContinuation(tag, out);
    if (r == 0 || (r == 1 && !out.continuation))
        --owed_;
    return r;
}

bool MailSession::StartTls()
{
    if (owed_ != 0) {
        transport_->Close();
        return SetNetError(neterr::kProtocol, NetCategory::Tls,
                           "TLS refused: a reply is still owed in plain text");
    }
    return reader_.StartTls();
}

void MailSession::Close()
{
    reader_.Reset();
    transport_->Close();
    owed_ = 0;
}

int MailSession::Fail(int result, const std::string& what)
{
    const NetError& error = LastNetError();
    // A server that drips its replies is cut off as "too slow" whatever the step: the check
    // failed, though the server could be reached.
    if (error.category == NetCategory::TooSlow)
        result = kCheckFailed;
    report_.result = result;
    report_.category = error.category;
    report_.code = error.code;
    report_.certificate = error.certificate;
    if (what.empty())
        report_.message = error.message;
    else
        report_.message = error.message.empty() ? what : what + ": " + error.message;
    return result;
}

int MailSession::Fail(int result, NetCategory category, int code, const std::string& message)
{
    SetNetError(code, category, message);
    report_.result = result;
    report_.category = category;
    report_.code = code;
    report_.message = message;
    return result;
}

int MailSession::Refused(int result, const std::string& command, std::string_view serverLine)
{
    return Fail(result, NetCategory::NegativeReply, neterr::kNegativeReply,
                command + " failed, server replied: " + QuoteServerLine(serverLine));
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string QuoteServerLine(std::string_view text)
{
    return QuoteServerText(text);
}
