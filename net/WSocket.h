#pragma once
// TWSocket: one non-blocking TCP socket that connects out or listens, with
// every network event delivered as a handler call from the event loop.
//
// Handlers may close or destroy this socket, or another one; after a handler
// returns the socket checks a liveness token before it touches itself again.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/Component.h"
#include "net/EventLoop.h"
#include "net/Resolver.h"
#include "net/SendQueue.h"
#include "net/SocketErrors.h"

namespace vantrel::net {

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsSocksConnected,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2, wsoSIO_RCVALL = 4 };
using TWSocketOptions = unsigned;

class TWSocket;
using TSocketEvent = std::function<void(TWSocket* sender, uint16_t errCode)>;
using TSocketErrorEvent = std::function<void(TWSocket* sender)>;
using TBgExceptionEvent =
    std::function<void(TWSocket* sender, const std::exception& e, bool& canClose)>;
using TChangeStateEvent =
    std::function<void(TWSocket* sender, TSocketState oldState, TSocketState newState)>;

class TWSocket : public TComponent {
 public:
  explicit TWSocket(TComponent* owner = nullptr);
  ~TWSocket() override;

  // Addr, Port and Proto are trimmed; empty means not assigned. All five
  // change only while closed (setting the same text again is always fine).
  const std::string& Addr() const { return Endpoints().addr; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return Endpoints().port; }
  void SetPort(const std::string& value);
  const std::string& Proto() const { return Endpoints().proto; }
  void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return Endpoints().localAddr; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return Endpoints().localPort; }
  void SetLocalPort(const std::string& value);

  TSocketState State() const { return state_; }
  int LastError() const { return lastError_; }
  void SetLastError(int code) { lastError_ = code; }
  int64_t ReadCount() const { return readCount_; }
  // Bytes handed to the system by this socket over its whole life: a queue
  // whose count stands still while bytes wait is making no progress.
  int64_t SentCount() const { return sentCount_; }
  int RcvdCount();
  const std::string& DnsResult() const { return Lookup().first; }
  const std::vector<std::string>& DnsResultList() const { return Lookup().all; }
  // The last lookup failed with No Data because the name has IPv6 addresses
  // only.
  bool DnsIPv6Only() const { return Lookup().ipv6Only; }
  std::string PeerAddr() { return GetPeerAddr(); }
  std::string PeerPort() { return GetPeerPort(); }

  int ListenBacklog = 5;
  // Half-close: the peer's orderly end is reported through OnPeerEnded once
  // every byte before it has been handed to OnDataAvailable, and the socket
  // stays open for sending until its owner closes it. Errors and resets
  // still close it as ever.
  bool HalfClose = false;
  TSocketLingerOnOff LingerOnOff = wsLingerOn;
  int LingerTimeout = 0;
  TWSocketOptions ComponentOptions = 0;
  bool LineMode = false;

  // The peer has ended its sending (reported through OnPeerEnded).
  bool PeerEnded() const { return peerEnded_; }
  // Our sending side has been shut down (Shutdown with how 1 or 2).
  bool WriteShut() const { return writeShut_; }
  bool SendQueueEmpty() const { return sendQueue_.Empty(); }
  size_t BufferedBytes() const { return sendQueue_.Bytes(); }
  int Handle() const { return fd_; }
  bool LookupPending() const { return lookupId_ != 0; }
  // The port a listening socket is bound to (useful with Port "0").
  int BoundPort() const;

  void Connect();
  // A connect still under way ends as a failed one does (OnSessionConnected
  // with errCode, then the close), for one that took too long.
  void GiveUpConnect(uint16_t errCode);
  void Listen();
  int Accept();
  // Accept that also gives the peer's address and port, as the accept itself
  // saw them: a connection reset while it waited has no peer to ask later.
  int Accept(std::string& peerAddr, std::string& peerPort);
  virtual void Dup(int handle);
  int Send(const void* data, size_t length);
  int SendText(std::string_view text);
  int Receive(void* buffer, size_t maximum);
  std::string ReceiveText();
  // Moves up to maximum waiting bytes on to `to` inside the system, through
  // a pipe and never through this program's memory; what `to` cannot take
  // at once is queued on it, as Send would. Returns what Receive would: the
  // bytes moved, 0 at the peer's end, -1 on failure. When `to` still has
  // bytes queued (or no pipe can be had) they are read and sent instead, so
  // the order always holds.
  int ReceiveTo(TWSocket& to, size_t maximum);
  void Close();
  void Abort();
  // Abort that also resets the connection: the peer sees a reset and no
  // TIME_WAIT is left behind. For connections abandoned on purpose.
  void AbortWithReset();
  void Shutdown(int how);
  void CloseLater();
  void DnsLookup(const std::string& host);
  void CancelLookup();
  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();

  // Back-pressure: stop taking bytes from the peer until resumed. A peer's
  // orderly end waits for the resume with the bytes before it; a reset or a
  // hang-up is reported at once.
  void PauseReading();
  void ResumeReading();
  bool ReadingPaused() const { return paused_; }

  // A handler of this socket is running further up the stack, whether the
  // loop or a call of the program (Close, Abort, Send...) raised it.
  virtual bool IsBusy() const { return busy_ > 0; }

  // How many queued blocks one send call (writev) may hand to the system.
  // The bytes, their order and the events are the same for any value; only
  // the number of system calls differs. 1 sends one block per call.
  static constexpr int kDefaultSendBlocksPerCall = 32;
  static int SendBlocksPerCall;

  TSocketEvent OnSessionAvailable;
  TSocketEvent OnSessionConnected;
  TSocketEvent OnDataAvailable;
  TSocketEvent OnDataSent;
  TSocketEvent OnSessionClosed;
  TSocketEvent OnPeerEnded;
  TSocketEvent OnDnsLookupDone;
  TSocketErrorEvent OnError;
  TBgExceptionEvent OnBgException;
  TChangeStateEvent OnChangeState;

 protected:
  using AliveToken = std::shared_ptr<bool>;
  AliveToken Alive() const { return alive_; }

  // Marks the socket busy while one of its handlers runs, so nothing frees it
  // under that handler even when it pumps the loop. Safe if the handler
  // destroys the socket.
  class HandlerFrame {
   public:
    explicit HandlerFrame(TWSocket& socket) : socket_(socket), alive_(socket.alive_) {
      ++socket_.busy_;
    }
    ~HandlerFrame() {
      if (*alive_) --socket_.busy_;
    }
    HandlerFrame(const HandlerFrame&) = delete;
    HandlerFrame& operator=(const HandlerFrame&) = delete;

   private:
    TWSocket& socket_;
    AliveToken alive_;
  };
  bool Destroying() const { return destroying_; }

  virtual void NotifyDataSent(uint16_t errCode);
  // Raises OnSessionClosed at most once per connection.
  virtual void TriggerSessionClosed(uint16_t errCode);
  virtual void TriggerSessionAvailable(uint16_t errCode);
  // Accept found the descriptor table full: true when something was freed
  // and the accept may be tried again at once.
  virtual bool FreeDescriptorsForAccept();

  // Reports a failure: to OnError when assigned, else thrown as ESocketException.
  void RaiseException(const std::string& message);
  // A failed system call: the table's message, and for 10054/10057 the close first.
  void SocketError(const std::string& label, int code);
  // Runs fn as the loop would run one of this socket's events: busy marked,
  // escaping exceptions handed to OnBgException.
  void RunFromLoop(const std::function<void()>& fn);
  void HandleBackgroundException(const std::exception& e);

 private:
  void HandleIo(uint32_t events);
  void ProcessIo(uint32_t events);
  void ConnectComplete(uint16_t errCode);
  void ReceiveRound(uint16_t errCode, bool ignoreNoReceiveLoop);
  void HandleWritable(uint16_t errCode);
  void HandleClosed(uint16_t errCode);
  void HandlePeerEnded(uint32_t events);
  // Reads and drops what the peer sent and nobody read: closing over unread
  // bytes makes the system reset the connection, and the reset destroys
  // what it still holds for the peer.
  void DiscardUnread();
  void TryToSend();
  // One send of these slices: what the system took (0 when it takes nothing
  // now), or -1 after a failure was handled (the socket may be closed).
  ssize_t SendToSystem(const iovec* iov, int count);
  // A send the system refused for good (errno): handled as SendToSystem does.
  ssize_t SendFailed(int error);
  // Marks the socket as read: its data events flow again.
  void NoteReceive();
  void PostWritable();
  void InternalClose(bool shutdownFirst, bool raise);
  void ForgetHandle();
  // Starts a new connection on the handle: every per-connection flag fresh.
  void AdoptHandle(int fd);
  void ResetSettings();
  void ChangeState(TSocketState newState);
  uint32_t Interest() const;
  void UpdateInterest();
  bool Register(const char* label);
  // freshSocket: made here, so the system's defaults still hold.
  void ApplyLinger(bool freshSocket);
  bool SetOption(int level, int name, int value, const char* label);
  void ArmAccept(bool on);

  // Where to connect or listen. Kept apart, and made by the first setter:
  // an accepted connection never needs them.
  struct TEndpoints {
    std::string addr, port, proto = "tcp";
    std::string localAddr = "0.0.0.0", localPort = "0";
    bool addrAssigned = false, portAssigned = false, protoAssigned = true;
  };
  // What the last lookup found; made by the first lookup.
  struct TLookupResult {
    std::string first;
    std::vector<std::string> all;
    bool ipv6Only = false;
  };
  static const TEndpoints kDefaultEndpoints;
  static const TLookupResult kNoLookup;
  const TEndpoints& Endpoints() const { return endpoints_ ? *endpoints_ : kDefaultEndpoints; }
  TEndpoints& EditEndpoints();
  const TLookupResult& Lookup() const { return lookup_ ? *lookup_ : kNoLookup; }

  int fd_ = -1;
  TSocketState state_ = wsClosed;
  std::unique_ptr<TEndpoints> endpoints_;
  int lastError_ = 0;
  int64_t readCount_ = 0;
  int64_t sentCount_ = 0;
  std::unique_ptr<TLookupResult> lookup_;
  SendQueue sendQueue_;
  bool closeReported_ = false;
  uint16_t peerError_ = 0;     // a reset seen by a read or by the loop
  uint16_t connectError_ = 0;  // a connect refused inside connect() itself
  bool destroying_ = false;
  bool paused_ = false;
  bool peerEnded_ = false;
  bool writeShut_ = false;
  bool readArmed_ = true;  // a data event waits for the handler to read again
  bool receiveCalled_ = false;
  bool acceptArmed_ = true;
  bool writablePosted_ = false;
  uint64_t connection_ = 0;  // changes with every new handle
  int busy_ = 0;
  Resolver::QueryId lookupId_ = 0;
  EventLoop::TimerId acceptRetry_ = 0;
  EventLoop::Clock::time_point shortageReported_{};
  AliveToken alive_ = std::make_shared<bool>(true);
};

}  // namespace vantrel::net
