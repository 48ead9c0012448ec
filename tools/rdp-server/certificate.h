// The server's TLS certificate: made at start, self-signed, for this run only.
#pragma once

#include <string>

namespace rdpserver {

struct Certificate {
  std::string dir;  // the folder it was made in; removed by RemoveCertificate when it was ours
  std::string certificateFile, keyFile;
  bool ownDir = false;
};

// Makes a certificate and key in `dir` (empty: a fresh folder under the temporary directory).
bool MakeCertificate(const std::string &dir, Certificate *certificate, std::string *error);
void RemoveCertificate(const Certificate &certificate);

}  // namespace rdpserver
