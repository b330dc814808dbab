#include "host/registry/string_rules.h"

namespace hostreg {

std::string StoredData(StringRules rules, DWORD type, std::string_view data) {
  if (!ReadsOtherwise(rules, type)) return std::string(data);
  return std::string(data.substr(0, data.find('\0')));
}

std::string_view StringOf(const std::string& data) {
  return std::string_view(data).substr(0, data.find('\0'));
}

std::string ReadData(StringRules rules, DWORD type, const std::string& data) {
  if (!ReadsOtherwise(rules, type)) return data;
  std::string read(StringOf(data));
  read.push_back('\0');
  return read;
}

}  // namespace hostreg
