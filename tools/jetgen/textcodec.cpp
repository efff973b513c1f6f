#include "textcodec.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace jetgen {

namespace {

Bytes convert(const std::string &utf8, const char *to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == iconv_t(-1)) throw std::runtime_error(std::string("no converter to ") + to);
  Bytes out(utf8.size() * 4 + 4);
  char *in = const_cast<char *>(utf8.data());
  size_t inLeft = utf8.size();
  char *o = reinterpret_cast<char *>(out.data());
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (rc == size_t(-1)) {
    throw std::runtime_error("text cannot be stored in " + std::string(to) + ": \"" + utf8 + "\"");
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

Bytes encodeText(const std::string &utf8, JetVersion v) {
  return convert(utf8, v == JetVersion::Jet3 ? "CP1251" : "UCS-2LE");
}

}  // namespace jetgen
