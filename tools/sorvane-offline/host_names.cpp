// Readable UTF-8 forms of names and their exact bytes in Base64.
#include "tools/sorvane-offline/host_names.h"

#include <openssl/evp.h>

#include <vector>

#include "platform/emu/text_codec.h"

namespace names {

std::string Readable(const std::string& bytes) {
  std::u16string units;
  if (emu::DecodeUtf8(bytes, &units)) return bytes;
  return emu::EncodeUtf8(emu::WidenAnsi(bytes));
}

std::string Base64(const std::string& bytes) {
  std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  return std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(n));
}

bool FromBase64(const std::string& text, std::string* bytes) {
  if (text.size() % 4 != 0) return false;
  std::vector<unsigned char> out(text.size() / 4 * 3 + 1);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return false;
  // EVP_DecodeBlock counts the padding as bytes.
  size_t length = static_cast<size_t>(n);
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) --length;
  bytes->assign(reinterpret_cast<char*>(out.data()), length);
  return true;
}

}  // namespace names
