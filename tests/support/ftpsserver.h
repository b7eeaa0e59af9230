// A real FTPS server on loopback: Debian's pyftpdlib with its TLS handler
// (explicit AUTH TLS, TLS required on the control and data connections) and
// a self-signed certificate made by openssl, serving a folder with one user
// who may write. The certificate's fingerprint is read back with openssl, so
// a test compares against OpenSSL's answer, not the client's.
#pragma once

#include <fstream>
#include <string>

#include "sshserver.h"  // RunProgram, FileText

class TFtpsServer : public TServerProcess {
 public:
  static constexpr const char* kUser = "engineer";
  static constexpr const char* kPassword = "exchange";

  // dir holds the certificate and the script; root is served (both must exist).
  TFtpsServer(const std::string& dir, const std::string& root) : Dir(dir) {
    RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", Dir + "/key.pem", "-out",
                Dir + "/cert.pem", "-days", "2", "-subj", "/CN=127.0.0.1"});
    std::ofstream(Dir + "/server.pem") << FileText(Dir + "/key.pem") << FileText(Dir + "/cert.pem");
    std::ofstream(Dir + "/ftps.py") << kScript;
    std::vector<std::string> words = {"/usr/bin/python3", Dir + "/ftps.py", root, std::to_string(Port),
                                      Dir + "/server.pem", kUser, kPassword};
    Start(words, Dir + "/ftps.log");
  }

  // "AB:CD:..." as openssl x509 -fingerprint -sha256 prints it.
  std::string Fingerprint() const {
    std::string out;
    RunProgram({"openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", Dir + "/cert.pem"}, &out);
    const std::size_t equals = out.find('=');
    std::string fingerprint = equals == std::string::npos ? "" : out.substr(equals + 1);
    while (!fingerprint.empty() && (fingerprint.back() == '\n' || fingerprint.back() == '\r')) fingerprint.pop_back();
    return fingerprint;
  }

 private:
  // `python3 -m pyftpdlib` has no TLS switches; the handler is set up here.
  static constexpr const char* kScript = R"(import sys
from OpenSSL import SSL
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler, TLS_DTPHandler
from pyftpdlib.servers import FTPServer

class EarlyHandshakeDTP(TLS_DTPHandler):
    # curl starts TLS on a data connection as soon as it is made, before the
    # transfer command; the stock handler takes that for a hang-up.
    def readable(self):
        if self._ssl_accepting or self._ssl_want_read:
            return True
        return super().readable()

root, port, cert, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
handler = TLS_FTPHandler
handler.certfile = cert
handler.authorizer = authorizer
handler.dtp_handler = EarlyHandshakeDTP
handler.tls_control_required = True
handler.tls_data_required = True
# pyftpdlib 1.5 loses TLS 1.3 data connections (session tickets); 1.2 it handles.
handler.ssl_options = handler.ssl_options | SSL.OP_NO_TLSv1_3
FTPServer(("127.0.0.1", port), handler).serve_forever()
)";

  std::string Dir;
};
