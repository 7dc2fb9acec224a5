// Negotiate through GSS-API; see NegotiateAcceptor.h.
#include "server/NegotiateAcceptor.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

#include "platform/Base64Encoding.h"
#include "platform/StrUtils.h"

namespace qvr::server {

namespace {

// GSS-API's own text for a status: the major code's, then the mechanism's.
std::string StatusText(OM_uint32 AMajor, OM_uint32 AMinor) {
  std::string text;
  const auto append = [&](OM_uint32 ACode, int AType) {
    OM_uint32 context = 0;
    do {
      OM_uint32 minor = 0;
      gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
      if (GSS_ERROR(gss_display_status(&minor, ACode, AType, GSS_C_NO_OID, &context, &message))) {
        break;
      }
      if (!text.empty()) text += "; ";
      text.append(static_cast<const char*>(message.value), message.length);
      gss_release_buffer(&minor, &message);
    } while (context != 0);
  };
  append(AMajor, GSS_C_GSS_CODE);
  if (AMinor != 0) append(AMinor, GSS_C_MECH_CODE);
  return text;
}

std::string NameText(gss_name_t AName) {
  OM_uint32 minor = 0;
  gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
  if (GSS_ERROR(gss_display_name(&minor, AName, &text, nullptr))) return {};
  std::string result(static_cast<const char*>(text.value), text.length);
  gss_release_buffer(&minor, &text);
  return result;
}

// The realm of a principal's text ("HTTP/host@REALM"), empty without one.
std::string RealmOf(const std::string& APrincipal) {
  const auto at = APrincipal.rfind('@');
  return at == std::string::npos ? std::string() : APrincipal.substr(at + 1);
}

// Owners of GSS-API's handles, each released once.
struct TName {
  gss_name_t Handle = GSS_C_NO_NAME;
  ~TName() {
    OM_uint32 minor = 0;
    if (Handle != GSS_C_NO_NAME) gss_release_name(&minor, &Handle);
  }
};
struct TCredential {
  gss_cred_id_t Handle = GSS_C_NO_CREDENTIAL;
  ~TCredential() {
    OM_uint32 minor = 0;
    if (Handle != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &Handle);
  }
};
struct TContext {
  gss_ctx_id_t Handle = GSS_C_NO_CONTEXT;
  ~TContext() {
    OM_uint32 minor = 0;
    if (Handle != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &Handle, GSS_C_NO_BUFFER);
  }
};
struct TBuffer {
  gss_buffer_desc Buffer = GSS_C_EMPTY_BUFFER;
  ~TBuffer() {
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &Buffer);
  }
};

// SPNEGO's object identifier (1.3.6.1.5.5.2).
gss_OID_desc kSpnego = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};

}  // namespace

struct TNegotiateAcceptor::TImpl {
  TCredential Credential;
  bool OwnPrincipal = false;
};

TNegotiateAcceptor::TNegotiateAcceptor(const std::string& AKeytab, const std::string& APrincipal)
    : FImpl(std::make_unique<TImpl>()) {
  const auto fail = [&](const std::string& AReason) {
    return Exception("Cannot use the Kerberos keytab " + AKeytab + ": " + AReason);
  };
  // GSS-API reads the keytab only when a ticket comes: a file that cannot
  // be read would otherwise show first as every client refused.
  std::ifstream file(AKeytab, std::ios::binary);
  if (!file) throw fail(std::strerror(errno));
  char version = 0;
  // A keytab starts with the byte 5.
  if (!file.get(version) || version != 5) throw fail("not a keytab");
  OM_uint32 minor = 0;
  TName name;
  if (!APrincipal.empty()) {
    gss_buffer_desc text{APrincipal.size(), const_cast<char*>(APrincipal.data())};
    const OM_uint32 major =
        gss_import_name(&minor, &text, GSS_KRB5_NT_PRINCIPAL_NAME, &name.Handle);
    if (GSS_ERROR(major)) throw fail(StatusText(major, minor));
    FImpl->OwnPrincipal = true;
  }
  // The keytab is named for this credential alone: nothing else of the
  // process (KRB5_KTNAME) decides which keys the server holds.
  const std::string keytab = "FILE:" + AKeytab;
  gss_key_value_element_desc element{"keytab", keytab.c_str()};
  gss_key_value_set_desc store{1, &element};
  // Kerberos, directly or inside SPNEGO; no other mechanism the platform may
  // have registered.
  gss_OID_desc mechanisms[] = {*gss_mech_krb5, kSpnego};
  gss_OID_set_desc desired{2, mechanisms};
  OM_uint32 major =
      gss_acquire_cred_from(&minor, name.Handle, GSS_C_INDEFINITE, &desired, GSS_C_ACCEPT, &store,
                            &FImpl->Credential.Handle, nullptr, nullptr);
  if (GSS_ERROR(major)) throw fail(StatusText(major, minor));
  // Inside SPNEGO, too, only Kerberos is negotiated.
  gss_OID_set_desc krb5{1, mechanisms};
  major = gss_set_neg_mechs(&minor, FImpl->Credential.Handle, &krb5);
  if (GSS_ERROR(major)) throw fail(StatusText(major, minor));
}

TNegotiateAcceptor::~TNegotiateAcceptor() = default;

TNegotiateAcceptor::TResult TNegotiateAcceptor::Accept(std::string_view AToken,
                                                       const std::string& AHost) const {
  TResult result;
  const std::string token = TBase64Encoding::Base64().Decode(Trim(AToken));
  if (token.empty()) {
    result.Error = "The Negotiate token is empty or not base64";
    return result;
  }
  OM_uint32 minor = 0;
  TContext context;
  gss_buffer_desc input{token.size(), const_cast<char*>(token.data())};
  TName client;
  gss_OID mechanism = GSS_C_NO_OID;
  TBuffer output;
  TCredential delegated;
  const OM_uint32 major = gss_accept_sec_context(
      &minor, &context.Handle, FImpl->Credential.Handle, &input, GSS_C_NO_CHANNEL_BINDINGS,
      &client.Handle, &mechanism, &output.Buffer, nullptr, nullptr, &delegated.Handle);
  if (GSS_ERROR(major)) {
    result.Error = "The Kerberos ticket was not accepted (" + StatusText(major, minor) + ")";
    return result;
  }
  if (major != GSS_S_COMPLETE) {
    result.Error = "Negotiate is taken with Kerberos in one round trip only";
    return result;
  }
  TName target;
  if (GSS_ERROR(gss_inquire_context(&minor, context.Handle, nullptr, &target.Handle, nullptr,
                                    nullptr, nullptr, nullptr, nullptr))) {
    result.Error = "The service of the Kerberos ticket is unknown";
    return result;
  }
  const std::string service = NameText(target.Handle);
  if (!FImpl->OwnPrincipal) {
    // Any key of the keytab decrypts, so the ticket must be for this host
    // as the client named it.
    const std::string wanted = "HTTP/" + AHost + "@";
    if (service.size() < wanted.size() || !SameText(service.substr(0, wanted.size()), wanted)) {
      result.Error = "The Kerberos ticket is for " + service + ", not for HTTP/" + AHost;
      return result;
    }
  }
  result.Accepted = true;
  result.Client = NameText(client.Handle);
  result.ServiceRealm = RealmOf(service);
  if (output.Buffer.length > 0) {
    result.Token = TBase64Encoding::Base64().EncodeLine(
        std::string_view(static_cast<const char*>(output.Buffer.value), output.Buffer.length));
  }
  return result;
}

}  // namespace qvr::server
