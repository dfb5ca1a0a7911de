#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stampwright {

// amqp://[user[:password]@]host[:port]/ADDRESS or amqps://...; the path is the AMQP target (or
// source) address verbatim, e.g. "/exchange/cfx". User and password may be percent-encoded.
struct AmqpUrl {
  bool tls = false;
  std::string user;
  std::string password;
  std::string host;
  uint16_t port = 5672;
  std::string address;

  // "host:port", as the container connects to it ("[::1]:5672" for an IPv6 literal).
  std::string HostPort() const;
};

// The URL, or nothing with the reason in *error (which never holds the password).
std::optional<AmqpUrl> ParseAmqpUrl(std::string_view text, std::string* error);

// The URL as it may be printed, logged or recorded: without its password, whatever else it holds.
std::string UrlWithoutPassword(std::string_view text);

}  // namespace stampwright
