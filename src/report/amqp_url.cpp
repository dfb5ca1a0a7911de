#include "report/amqp_url.h"

#include <charconv>

namespace stampwright {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace

std::string AmqpUrl::HostPort() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<AmqpUrl> ParseAmqpUrl(std::string_view text, std::string* error) {
  AmqpUrl url;
  std::string_view rest;
  if (text.starts_with("amqp://")) {
    rest = text.substr(7);
  } else if (text.starts_with("amqps://")) {
    rest = text.substr(8);
    url.tls = true;
    url.port = 5671;
  } else {
    *error = "not an amqp:// or amqps:// URL: " + UrlWithoutPassword(text);
    return std::nullopt;
  }
  const size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  url.address = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash));
  if (url.address.size() <= 1) {
    *error = "the URL names no target address (e.g. amqp://host/exchange/amq.topic): " +
             UrlWithoutPassword(text);
    return std::nullopt;
  }
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userinfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const size_t colon = userinfo.find(':');
    const auto user = PercentDecode(userinfo.substr(0, colon));
    const auto password =
        colon == std::string_view::npos ? std::optional<std::string>("") : PercentDecode(userinfo.substr(colon + 1));
    if (!user || !password) {
      *error = "a bad percent escape in the URL's user or password: " + UrlWithoutPassword(text);
      return std::nullopt;
    }
    url.user = *user;
    url.password = *password;
  }
  std::string_view port;
  if (authority.starts_with("[")) {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      *error = "a bad host in the URL: " + UrlWithoutPassword(text);
      return std::nullopt;
    }
    url.host = std::string(authority.substr(1, close - 1));
    const std::string_view after = authority.substr(close + 1);
    if (after.starts_with(":")) port = after.substr(1);
  } else {
    const size_t colon = authority.rfind(':');
    url.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (url.host.empty()) {
    *error = "the URL names no host: " + UrlWithoutPassword(text);
    return std::nullopt;
  }
  if (!port.empty()) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535) {
      *error = "a bad port in the URL: " + UrlWithoutPassword(text);
      return std::nullopt;
    }
    url.port = static_cast<uint16_t>(value);
  }
  return url;
}

std::string UrlWithoutPassword(std::string_view text) {
  const size_t scheme = text.find("://");
  const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  // The last '@' of all, not of the authority: a password may hold an unescaped '/' or '@', and
  // cutting too much from a text that is only shown costs nothing.
  const size_t at = text.rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(text);
  const std::string_view userinfo = text.substr(start, at - start);
  const size_t colon = userinfo.find(':');
  if (colon == std::string_view::npos) return std::string(text);
  return std::string(text.substr(0, start + colon)) + std::string(text.substr(at));
}

}  // namespace stampwright
