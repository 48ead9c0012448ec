#include "certificate.h"

#include <winpr/tools/makecert.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace rdpserver {

bool MakeCertificate(const std::string &dir, Certificate *c, std::string *error) {
  if (dir.empty()) {
    const char *temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/quorv-rdp-server.XXXXXX";
    if (!mkdtemp(pattern.data())) return *error = "cannot make a folder for the certificate in " + pattern, false;
    c->dir = pattern;
    c->ownDir = true;
  } else {
    c->dir = dir;
    if (mkdir(dir.c_str(), 0700) != 0 && access(dir.c_str(), W_OK) != 0)
      return *error = "cannot write the certificate in " + dir, false;
  }
  MAKECERT_CONTEXT *make = makecert_context_new();
  if (!make) return *error = "cannot make a certificate: no memory", false;
  // A self-signed certificate for a Remote Desktop server, valid for a year, no questions asked.
  const char *argv[] = {"makecert", "-rdp", "-live", "-silent", "-y", "1", "-n", "quorv-rdp-server"};
  bool ok =
      makecert_context_process(make, static_cast<int>(sizeof argv / sizeof *argv), const_cast<char **>(argv)) >= 0 &&
      makecert_context_set_output_file_name(make, const_cast<char *>("server")) == 1 &&
      makecert_context_output_certificate_file(make, const_cast<char *>(c->dir.c_str())) == 1 &&
      makecert_context_output_private_key_file(make, const_cast<char *>(c->dir.c_str())) == 1;
  makecert_context_free(make);
  c->certificateFile = c->dir + "/server.crt";
  c->keyFile = c->dir + "/server.key";
  if (!ok || access(c->certificateFile.c_str(), R_OK) != 0 || access(c->keyFile.c_str(), R_OK) != 0) {
    RemoveCertificate(*c);
    return *error = "cannot make the TLS certificate in " + c->dir, false;
  }
  return true;
}

void RemoveCertificate(const Certificate &c) {
  if (!c.certificateFile.empty()) unlink(c.certificateFile.c_str());
  if (!c.keyFile.empty()) unlink(c.keyFile.c_str());
  if (c.ownDir) rmdir(c.dir.c_str());
}

}  // namespace rdpserver
