// One client connection of the HTTP front; see Connection.h. Each
// connection is an object of its own that lives as long as an operation on
// it is pending (shared_ptr held by its handlers), all of whose handlers run
// on its strand. A deadline timer guards every read and write: when it fires
// it cancels the operation, and the connection answers 408 (a head or body
// too slow) or simply ends (an idle keep-alive, a client that does not read).
#include "server/Connection.h"

#include <malloc.h>

#include <array>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "platform/SysUtils.h"
#include "server/AccessLog.h"
#include "server/Answers.h"
#include "server/RequestParser.h"
#include "server/ServerErrors.h"

namespace qvr::server {

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

// Bytes asked of the socket at a time.
constexpr std::size_t kReadSize = 64 * 1024;
// After a refusal the client may still be sending; what it sends is read and
// dropped for this long (at most kDrainBytes), so that it sees the answer
// instead of a reset connection.
constexpr std::chrono::milliseconds kDrainTime{2000};
constexpr std::size_t kDrainBytes = 1 << 20;
// How long a request waits for the memory budget before it gets 503.
constexpr std::chrono::milliseconds kMemoryWait{2000};
constexpr std::chrono::milliseconds kMemoryRetry{20};
// A request body from this size on is followed by a trim of the heap.
constexpr std::size_t kTrimAfter = 1 << 20;

// Admission of ARequest on a worker thread. It may wait for the store,
// which may fail (a database away): that is a refusal like any other (503
// for a store that cannot be reached), never an exception out of a worker.
std::optional<THttpAnswer> Admit(TFrontServices& AServices, const THttpRequest& ARequest,
                                 TRequestContext& AContext) {
  try {
    return AServices.Admission.Admit(ARequest, AContext);
  } catch (const EHttpError& AError) {
    return ErrorAnswer(AError.Status(), AError.Message());
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "qvr-server: internal error: %s\n", AError.what());
    return ErrorAnswer(500, std::string("Internal error: ") + AError.what());
  }
}

tcp::socket& Socket(tcp::socket& AStream) { return AStream; }
tcp::socket& Socket(ssl::stream<tcp::socket>& AStream) { return AStream.next_layer(); }

// The Date field's value, made once a second at most.
std::string HttpDate() {
  thread_local std::time_t last = 0;
  thread_local std::string text;
  const std::time_t now = std::time(nullptr);
  if (now != last) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    text = buffer;
    last = now;
  }
  return text;
}

template <class TStream>
class TConnection : public std::enable_shared_from_this<TConnection<TStream>> {
 public:
  TConnection(TFrontServices& AServices, TStream AStream, std::string AAddress, bool ATls)
      : FServices(AServices),
        FStream(std::move(AStream)),
        FTimer(Socket(FStream).get_executor()),
        FBuffer(AServices.Limits.MaxTargetBytes + AServices.Limits.MaxHeaderBytes +
                2 * AServices.Limits.MaxHeaderCount + 1024 + kReadSize),
        FAddress(std::move(AAddress)),
        FTls(ATls) {}

  void Start(TConnectionTable::TSlot ASlot) {
    FSlot.emplace(std::move(ASlot));
    if constexpr (std::is_same_v<TStream, ssl::stream<tcp::socket>>) {
      Arm(FServices.Limits.HandshakeTimeout, TWait::Quiet);
      FStream.async_handshake(ssl::stream_base::server,
                              Bind([](TConnection& AThis, error_code AError) {
                                AThis.FTimer.cancel();
                                if (AError) return AThis.Close();
                                AThis.NextRequest();
                              }));
    } else {
      NextRequest();
    }
  }

  // Ends the connection if it waits for a request; one at work ends after
  // its answer (it sees Stopping).
  // Answers 503 and ends: the connection is beyond the caps.
  void Busy() {
    FContext = NewContext();
    Answer(ErrorAnswer(503, "The server has too many connections; try again later"), true);
  }

  void Stop() {
    net::post(Socket(FStream).get_executor(), [self = this->shared_from_this()] {
      if (self->FPhase == TPhase::Idle) self->Close();
    });
  }

 private:
  enum class TPhase { Idle, Head, Body, Admitting, Working, Writing, Closing };
  // What a fired deadline means for the operation it guarded.
  enum class TWait { Quiet, Answer408 };

  // A completion handler on this connection's strand that keeps it alive.
  template <class F>
  auto Bind(F AFunction) {
    return net::bind_executor(Socket(FStream).get_executor(),
                              [self = this->shared_from_this(), AFunction](auto... AArgs) {
                                AFunction(*self, AArgs...);
                              });
  }

  void Arm(std::chrono::milliseconds AAfter, TWait AWait) {
    ArmAt(std::chrono::steady_clock::now() + AAfter, AWait);
  }
  void ArmAt(std::chrono::steady_clock::time_point AWhen, TWait AWait) {
    FTimedOut = false;
    FTimer.expires_at(AWhen);
    FTimer.async_wait(Bind([AWait](TConnection& AThis, error_code AError) {
      if (AError) return;  // cancelled: the operation ended in time
      AThis.FTimedOut = true;
      AThis.FTimeoutAnswer = AWait == TWait::Answer408;
      error_code ignored;
      Socket(AThis.FStream).cancel(ignored);
    }));
  }

  // ---------------------------------------------------------- reading

  TRequestContext NewContext() const {
    TRequestContext context;
    context.RemoteAddress = FAddress;
    context.Tls = FTls;
    return context;
  }

  void NextRequest() {
    if (FServices.Stopping) return Close();
    FParser = std::make_unique<TRequestParser>(FServices.Limits);
    FContext = NewContext();
    FBodyMemory.Release();
    FBodyMemory = FServices.Memory.Open();
    FHeadChecked = false;
    FAdmitted = false;
    if (FBuffer.size() > 0) {
      // A pipelined request already waits in the buffer.
      BeginHead();
      return Parse();
    }
    FPhase = TPhase::Idle;
    Arm(FServices.Limits.IdleTimeout, TWait::Quiet);
    Read();
  }

  void BeginHead() {
    FPhase = TPhase::Head;
    FContext.Start = TFrontClock::now();
    FHeadDeadline = std::chrono::steady_clock::now() + FServices.Limits.HeadTimeout;
  }

  void Read() {
    // The buffer never grows beyond its bound; the head's limits refuse a
    // request before it fills (Parse).
    const std::size_t room = std::min(kReadSize, FBuffer.max_size() - FBuffer.size());
    FStream.async_read_some(FBuffer.prepare(room),
                            Bind([](TConnection& AThis, error_code AError, std::size_t ABytes) {
                              AThis.OnRead(AError, ABytes);
                            }));
  }

  void OnRead(error_code AError, std::size_t ABytes) {
    FTimer.cancel();
    if (AError) {
      if (FTimedOut && FTimeoutAnswer && !FTls) {
        return Refuse({408, "The request did not arrive in time"});
      }
      // The client went, or an idle connection timed out: nothing to answer.
      return Close();
    }
    FBuffer.commit(ABytes);
    if (FPhase == TPhase::Idle) BeginHead();
    Parse();
  }

  void Parse() {
    const auto data = FBuffer.data();
    const std::size_t used =
        FParser->Put(std::string_view(static_cast<const char*>(data.data()), data.size()));
    FBuffer.consume(used);
    if (FParser->Refusal()) return Refuse(*FParser->Refusal());
    if (!FParser->HeadDone()) {
      if (FBuffer.size() >= FBuffer.max_size() - kReadSize / 2) {
        return Refuse({431, "The request headers are too large"});
      }
      ArmAt(FHeadDeadline, TWait::Answer408);
      return Read();
    }
    if (!FHeadChecked) return CheckHead();
    if (!FParser->Done()) {
      // A chunked body reserves its memory as it grows.
      if (!FParser->ContentLength() && FParser->BodyBytes() + kReadSize > FBodyMemory.Bytes() &&
          !FBodyMemory.Grow(kReadSize)) {
        return Refuse({503, "The server is busy; try again shortly"});
      }
      FPhase = TPhase::Body;
      const auto& limits = FServices.Limits;
      const auto allowed = std::chrono::milliseconds(1000 * FParser->BodyBytes() /
                                                     std::max<std::size_t>(1, limits.MinBodyRate));
      ArmAt(FBodyStart + limits.BodyGrace + allowed, TWait::Answer408);
      return Read();
    }
    Dispatch();
  }

  // The head is complete: what can be refused before the body is read is.
  void CheckHead() {
    FHeadChecked = true;
    THttpRequest& request = FParser->Request();
    if (!TRoutes::Serves(request.Path())) {
      return Refuse(
          {404, "Nothing is served at " + LogText(request.Path()) + "; remote calls go to " +
                    RestBase() + " and the cache area is " + CacheBase()},
          !FParser->Done());
    }
    if (auto refused = FServices.Admission.CheckOrigin(request)) {
      return Answer(std::move(*refused), !FParser->Done());
    }
    if (FParser->Done()) return Dispatch();
    // A body is due: its memory first, then who sends it, then the body.
    ReserveBody(std::chrono::steady_clock::now() + kMemoryWait);
  }

  void ReserveBody(std::chrono::steady_clock::time_point AGiveUp) {
    const auto length = FParser->ContentLength();
    const std::size_t bytes = length ? static_cast<std::size_t>(*length) : kReadSize;
    if (FBodyMemory.Grow(bytes)) return AdmitBeforeBody();
    if (std::chrono::steady_clock::now() >= AGiveUp) {
      return Refuse({503, "The server is busy; try again shortly"});
    }
    FPhase = TPhase::Admitting;
    FTimer.expires_after(kMemoryRetry);
    FTimer.async_wait(Bind([AGiveUp](TConnection& AThis, error_code AError) {
      if (AError) return AThis.Close();
      AThis.ReserveBody(AGiveUp);
    }));
  }

  void AdmitBeforeBody() {
    FPhase = TPhase::Admitting;
    auto self = this->shared_from_this();
    // The I/O threads must not run out of work while a worker holds the request.
    auto work = net::make_work_guard(Socket(FStream).get_executor());
    const bool queued = FServices.Workers.TryEnqueue([self, work] {
      auto refused = Admit(self->FServices, self->FParser->Request(), self->FContext);
      net::post(Socket(self->FStream).get_executor(), [self, refused = std::move(refused)]() mutable {
        if (refused) return self->Answer(std::move(*refused), true);
        self->FAdmitted = true;
        self->StartBody();
      });
    });
    if (!queued) Refuse({503, "The server is busy; try again shortly"});
  }

  void StartBody() {
    FBodyStart = std::chrono::steady_clock::now();
    FParser->ContinueBody();
    const std::string* expect = FParser->Request().Field("Expect");
    if (expect != nullptr && SameText(*expect, "100-continue")) {
      FPhase = TPhase::Writing;
      static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      Arm(FServices.Limits.WriteTimeout, TWait::Quiet);
      return net::async_write(FStream, net::buffer(kContinue),
                              Bind([](TConnection& AThis, error_code AError, std::size_t) {
                                AThis.FTimer.cancel();
                                if (AError) return AThis.Close();
                                AThis.Parse();
                              }));
    }
    Parse();
  }

  // ---------------------------------------------------------- handling

  void Dispatch() {
    FPhase = TPhase::Working;
    FRequest = FParser->TakeRequest();
    // A quick call whose caller memory alone admits is answered here: a hop
    // to a worker and back would cost more than the call.
    if (!FAdmitted && FServices.Routes.IsQuick(FRequest) &&
        FServices.Admission.AdmitFromMemory(FRequest, FContext)) {
      return Answer(FServices.Routes.Serve(FRequest, FContext));
    }
    auto self = this->shared_from_this();
    auto work = net::make_work_guard(Socket(FStream).get_executor());
    const bool queued = FServices.Workers.TryEnqueue([self, work] {
      THttpAnswer answer;
      std::optional<THttpAnswer> refused;
      if (!self->FAdmitted && TRoutes::NeedsAdmission(self->FRequest)) {
        refused = Admit(self->FServices, self->FRequest, self->FContext);
      }
      answer = refused ? std::move(*refused)
                       : self->FServices.Routes.Serve(self->FRequest, self->FContext);
      net::post(Socket(self->FStream).get_executor(),
                [self, answer = std::move(answer)]() mutable { self->Answer(std::move(answer)); });
    });
    if (!queued) Answer(ErrorAnswer(503, "The server is busy; try again shortly"));
  }

  // ---------------------------------------------------------- writing

  void Refuse(const TRefusal& ARefusal, bool AClose = true) {
    Answer(ErrorAnswer(ARefusal.Status, ARefusal.Message), AClose);
  }

  void Answer(THttpAnswer AAnswer, bool AClose = false) {
    FPhase = TPhase::Writing;
    // The request of this answer: taken when it was dispatched, still with
    // the parser when it was refused on the way.
    const THttpRequest& request =
        FRequest.Method.empty() && FParser ? FParser->Request() : FRequest;
    FClose = AClose || AAnswer.Close || !request.KeepAlive || FServices.Stopping;
    FLogMethod = request.Method.empty() ? std::string("-") : request.Method;
    FLogPath = request.Target.empty() ? std::string("-") : std::string(request.Path());
    FStatus = AAnswer.Status;
    FAnswer = std::move(AAnswer);
    // What admission adds to every answer (the server's Negotiate token).
    for (const auto& field : FContext.AnswerFields) FAnswer.Fields.push_back(field);
    const std::size_t bodySize = FAnswer.Body ? FAnswer.Body->size() : 0;
    FHead =
        "HTTP/1.1 " + std::to_string(FAnswer.Status) + " " + ReasonPhrase(FAnswer.Status) + "\r\n";
    for (const auto& [name, value] : FAnswer.Fields) FHead += name + ": " + value + "\r\n";
    FHead += "Content-Length: " + std::to_string(bodySize) + "\r\nDate: " + HttpDate() + "\r\n";
    if (FClose) FHead += "Connection: close\r\n";
    FHead += "\r\n";
    const bool head = request.Method == "HEAD";
    std::array<net::const_buffer, 2> buffers{
        net::buffer(FHead),
        head || bodySize == 0 ? net::const_buffer() : net::buffer(FAnswer.Body->data(), bodySize)};
    Arm(FServices.Limits.WriteTimeout, TWait::Quiet);
    net::async_write(FStream, buffers, Bind([](TConnection& AThis, error_code AError, std::size_t) {
                       AThis.OnWritten(AError);
                     }));
  }

  void OnWritten(error_code AError) {
    FTimer.cancel();
    LogRequest(FContext, FLogMethod, FLogPath, FStatus);
    const bool large = FRequest.Body.size() >= kTrimAfter;
    FAnswer = THttpAnswer();
    FRequest = THttpRequest();
    FBodyMemory.Release();
    // What the request's parsing and decoding left free in the heap goes
    // back to the system (large buffers were mapped on their own and went
    // already).
    if (large) malloc_trim(0);
    if (AError) return Close();
    if (FClose) return Drain();
    NextRequest();
  }

  // ---------------------------------------------------------- ending

  // After a refusal the rest of what the client sends is read and dropped
  // for a while, so that a client still sending sees the answer.
  void Drain() {
    FPhase = TPhase::Closing;
    FParser.reset();
    if constexpr (std::is_same_v<TStream, ssl::stream<tcp::socket>>) {
      Arm(std::chrono::milliseconds(1000), TWait::Quiet);
      FStream.async_shutdown(Bind([](TConnection& AThis, error_code) {
        AThis.FTimer.cancel();
        AThis.Close();
      }));
    } else {
      error_code ignored;
      Socket(FStream).shutdown(tcp::socket::shutdown_send, ignored);
      FDrained = 0;
      Arm(kDrainTime, TWait::Quiet);
      DrainSome();
    }
  }

  void DrainSome() {
    FBuffer.clear();
    Socket(FStream).async_read_some(
        FBuffer.prepare(kReadSize),
        Bind([](TConnection& AThis, error_code AError, std::size_t ABytes) {
          AThis.FDrained += ABytes;
          if (AError || AThis.FDrained > kDrainBytes) {
            AThis.FTimer.cancel();
            return AThis.Close();
          }
          AThis.DrainSome();
        }));
  }

  void Close() {
    FPhase = TPhase::Closing;
    FTimer.cancel();
    error_code ignored;
    Socket(FStream).shutdown(tcp::socket::shutdown_both, ignored);
    Socket(FStream).close(ignored);
  }

  TFrontServices& FServices;
  TStream FStream;
  net::steady_timer FTimer;
  boost::beast::flat_buffer FBuffer;
  const std::string FAddress;
  const bool FTls;
  std::optional<TConnectionTable::TSlot> FSlot;

  TPhase FPhase = TPhase::Idle;
  bool FTimedOut = false;
  bool FTimeoutAnswer = false;
  std::unique_ptr<TRequestParser> FParser;
  THttpRequest FRequest;
  TRequestContext FContext;
  TMemoryBudget::TReservation FBodyMemory;
  bool FHeadChecked = false;
  bool FAdmitted = false;
  std::chrono::steady_clock::time_point FHeadDeadline;
  std::chrono::steady_clock::time_point FBodyStart;

  THttpAnswer FAnswer;
  std::string FHead;
  bool FClose = false;
  int FStatus = 0;
  std::string FLogMethod;
  std::string FLogPath;
  std::size_t FDrained = 0;
};

template <class TStream>
void Serve(TFrontServices& AServices, TStream AStream, std::string AAddress, bool ATls) {
  auto connection =
      std::make_shared<TConnection<TStream>>(AServices, std::move(AStream), AAddress, ATls);
  std::weak_ptr<TConnection<TStream>> weak = connection;
  auto slot = AServices.Connections.Enter(AAddress, [weak] {
    if (auto alive = weak.lock()) alive->Stop();
  });
  if (slot) return connection->Start(std::move(*slot));
  // A TLS client could only be answered after a handshake, which is what the
  // caps are to spare; it is closed at once.
  if constexpr (std::is_same_v<TStream, tcp::socket>) connection->Busy();
}

}  // namespace

void ServeConnection(TFrontServices& AServices, tcp::socket ASocket, ssl::context* ATls) {
  error_code error;
  const auto endpoint = ASocket.remote_endpoint(error);
  if (error) return;
  ASocket.set_option(tcp::no_delay(true), error);
  const std::string address = endpoint.address().to_string();
  if (ATls == nullptr) return Serve(AServices, std::move(ASocket), address, false);
  Serve(AServices, ssl::stream<tcp::socket>(std::move(ASocket), *ATls), address, true);
}

}  // namespace qvr::server
