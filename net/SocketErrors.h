#pragma once
// Socket failures use the classic Windows socket numbering (10004...11004),
// because log lines and peers of this program speak in those numbers. Every
// platform code is translated here and nowhere else.

#include <stdexcept>
#include <string>

namespace vantrel::net {

class ESocketException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The description of a socket error code ("Connection refused", ...).
std::string ErrorDescription(int code);

// "Error " + code + " in function " + label + CR LF + description.
std::string SocketErrorMessage(int code, const std::string& label);

int TranslateErrno(int err);          // errno of a socket call
int TranslateResolverStatus(int st);  // c-ares status
int TranslateGaiError(int err);       // getaddrinfo result

constexpr int kWsaEINTR = 10004;
constexpr int kWsaEINVAL = 10022;
constexpr int kWsaEMFILE = 10024;
constexpr int kWsaEWOULDBLOCK = 10035;
constexpr int kWsaEINPROGRESS = 10036;
constexpr int kWsaENOTSOCK = 10038;
constexpr int kWsaEADDRINUSE = 10048;
constexpr int kWsaECONNABORTED = 10053;
constexpr int kWsaECONNRESET = 10054;
constexpr int kWsaENOTCONN = 10057;
constexpr int kWsaETIMEDOUT = 10060;
constexpr int kWsaECONNREFUSED = 10061;
constexpr int kWsaNOTINITIALISED = 10093;
constexpr int kWsaHOST_NOT_FOUND = 11001;
constexpr int kWsaTRY_AGAIN = 11002;
constexpr int kWsaNO_RECOVERY = 11003;
constexpr int kWsaNO_DATA = 11004;

}  // namespace vantrel::net
