// The attempt loop of TRestHTTP: one exchange as a series of attempts, each
// one transfer (detail/Transfer.h), until a final answer. A 401 or 407, a
// redirect and a refused server certificate each call for another attempt,
// and each has a method of its own; what they share between attempts is the
// loop's state, one member each. The loop sees the transfer only through
// detail::ITransfer and its outcomes, never curl. A private class of
// TRestHTTP, defined in detail/ so that it stays out of the installed
// headers, implemented in rest/http/AttemptLoop.cpp; the rules it follows are
// in docs/http-client.md. Used only by the HTTP object's .cpp files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Streams.h"
#include "rest/http/RestHTTP.h"
#include "rest/http/detail/Transfer.h"

namespace qvr::rest {

class TRestHTTP::TAttemptLoop {
 public:
  // One exchange of AOwner: AMethod on AURL with the body ASource (null:
  // none); the final answer's body goes into AResponse (null: none is read).
  // The attempts run on ATransfer. AURL must outlive the loop.
  TAttemptLoop(TRestHTTP& AOwner, detail::ITransfer& ATransfer, const std::string& AMethod,
               const std::string& AURL, TStream* ASource, TStream* AResponse);
  TAttemptLoop(const TAttemptLoop&) = delete;
  TAttemptLoop& operator=(const TAttemptLoop&) = delete;

  // Runs attempts until a final answer and keeps it as the owner's last
  // response. A final status of 300 or more raises EHTTPProtocolException
  // after the answer's body was written into AResponse. A failed attempt
  // raises its failure (detail::RaiseTransferFailure), a server certificate
  // that no event accepts ENetHTTPCertificateException, a redirect beyond
  // MaxRedirects ENetHTTPRequestException, and an exchange that would need
  // more than 50 attempts ENetHTTPClientException "Execution of request
  // terminated with unknown error".
  void Run();

 private:
  // A user name and password as an attempt sends them.
  struct TPair {
    std::string UserName;
    std::string Password;
    bool operator==(const TPair&) const = default;
  };

  // How far the answer to one 401 or 407 sequence has gone: through the
  // schemes the challenges offer, tried in the order of THTTPAuthScheme
  // (Negotiate once, then each pair with NTLM, Digest and Basic in turn),
  // and through the sources of pairs, which are tried in this order.
  struct TChallenge {
    enum class TStage { RequestCredentials, Store, Handler } Stage = TStage::RequestCredentials;
    // The stored credentials that match the challenge, looked up at the
    // sequence's first turn of the store, and the next one to try.
    std::optional<std::vector<TCredential>> Stored;
    std::size_t NextStored = 0;
    // Every scheme the sequence's challenges offered, and every scheme its
    // attempts carried (the preemptive Basic included): what a final
    // refusal reports.
    THTTPAuthSchemes Offered;
    THTTPAuthSchemes Tried;
    // The schemes the current pair (TAuthParty::Sent) was refused with.
    THTTPAuthSchemes PairTried;
  };

  // One party that may ask for credentials: the server with a 401, the proxy
  // with a 407. Both answer their challenges the same way; only where the
  // pair travels differs (the Authorization header, curl's proxy
  // credentials).
  struct TAuthParty {
    TAuthParty(TAuthTargetType ATarget, std::string_view AChallengeHeader)
        : Target(ATarget), ChallengeHeader(AChallengeHeader) {}

    const TAuthTargetType Target;
    // The header whose challenge names the realm.
    const std::string_view ChallengeHeader;
    // The pair the exchange brings for this party (the header set's for the
    // server, the proxy settings' for the proxy): offered before any
    // challenge and tried first when one comes.
    TPair Requested;
    // The pair the next attempt carries with a scheme that takes one; none:
    // no pair. It stays from attempt to attempt (an attempt with Negotiate
    // included), which is how a pair just refused is known.
    std::optional<TPair> Sent;
    // The scheme the next attempt answers with; None: no credentials.
    THTTPAuthScheme Scheme = THTTPAuthScheme::None;
    TChallenge Challenge;
  };

  // Which proxy the attempts go through (the environment's while the proxy
  // settings name no host), and the pair those settings bring for it.
  void UseProxySettings();
  // Sets up the next attempt: the credentials offered ahead of any
  // challenge, the header lines, the body rewound.
  void PrepareAttempt();
  // The first attempt to each URL offers the request's credentials ahead of
  // any challenge (preemptive authentication).
  void OfferCredentials();
  std::optional<TPair> Offer(const TAuthParty& AParty) const;
  // The next attempt's header lines: the header set's entries, then its
  // credentials, then what keeps curl from adding headers of its own.
  std::vector<std::string> HeaderLines() const;
  // The header set's custom entries, then its standard ones, as this attempt
  // sends them; true when one of them is a Content-Type.
  bool AddHeaderSetLines(std::vector<std::string>& ALines) const;

  // Whether the attempt calls for another one; raises when it failed.
  bool RetryDue(const detail::TAttemptResult& AResult);

  // The reasons to retry. Each sets up the next attempt and returns true, or
  // returns false when the answer is final.
  bool AnswerChallenge(const detail::TAttemptResult& AResult);
  bool FollowRedirect(const detail::TAttemptResult& AResult);
  // Raises when the certificate cannot be held to or no event accepts it.
  void AcceptServerCertificate(const detail::TAttemptResult& AResult);

  // Answering a challenge of AParty: Negotiate when offered and not yet
  // tried, else the current pair with the next scheme it was not refused
  // with, else the next pair from the request's credentials, the store, then
  // OnAuthentication with the first scheme; none ends the sequence.
  bool Answer(TAuthParty& AParty, const detail::TAttemptResult& AResult);
  // The schemes AParty's challenges are answered with: Basic, and those of
  // the integrated authentication that the transfer can do.
  THTTPAuthSchemes Answerable() const;
  // How the next attempt authenticates to both parties, as FSetup carries it.
  void SetUpAuthentication();
  std::optional<TPair> NextPair(TAuthParty& AParty, const std::string& ARealm);
  std::optional<TPair> NextStoredPair(TAuthParty& AParty, const std::string& ARealm);
  std::optional<TPair> PairFromHandler(TAuthParty& AParty, const std::string& ARealm);

  // The certificate events in their order; false when none is assigned.
  bool ServerCertificateAccepted(const TX509Certificate& ACertificate) const;
  bool AtRequestOrigin(const std::string& AURL);
  void KeepFinalAnswer(detail::TAttemptResult& AResult);

  TRestHTTP& FOwner;
  detail::ITransfer& FTransfer;
  // The URL the caller asked for: credentials go to its origin only.
  const std::string& FRequestURL;
  TStream* const FResponse;
  // The origin of FRequestURL, worked out only once a redirect leads
  // elsewhere: parsing every request URL would cost each exchange measurably.
  std::optional<std::string> FRequestOrigin;
  // What the next attempt sends. A redirect changes method, URL and body; an
  // accepted certificate turns verification off and pins the certificate's
  // key; the credentials and header lines are set before each attempt.
  detail::TAttemptSetup FSetup;
  // FSetup.URL is at the request's origin, where credentials may go.
  bool FAtOrigin = true;
  // A switch to GET dropped the body, so its Content-Type goes too.
  bool FBodyDropped = false;
  // The next attempt is the first to its URL.
  bool FOfferDue = true;
  // The next attempt starts a scheme that authenticates its connection.
  bool FFreshConnectionDue = false;
  // Redirects followed so far, against MaxRedirects.
  std::int32_t FRedirects = 0;
  TAuthParty FServer;
  TAuthParty FProxy;
};

}  // namespace qvr::rest
