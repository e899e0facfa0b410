#include "platform/crypto/password_hash.h"

#include <sodium.h>

#include <stdexcept>

namespace oapx1 {
namespace {

constexpr std::string_view kPrefix = "$argon2id$";

// libsodium picks its fastest implementations once, before first use; it is
// safe to call from several threads.
void ensure_sodium() {
  static const int ready = sodium_init();
  if (ready < 0) throw std::runtime_error("the password hashing library cannot start");
}

}  // namespace

std::string hash_password(std::string_view password) {
  ensure_sodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw std::runtime_error("not enough memory to hash a password");
  }
  return out;
}

bool is_password_hash(std::string_view stored) {
  return stored.starts_with(kPrefix) && stored.size() < crypto_pwhash_STRBYTES;
}

bool verify_password(std::string_view stored, std::string_view password) {
  if (!is_password_hash(stored)) return false;
  try {
    ensure_sodium();
  } catch (const std::runtime_error&) {
    return false;
  }
  // The library reads a terminated string.
  const std::string text(stored);
  return crypto_pwhash_str_verify(text.c_str(), password.data(), password.size()) == 0;
}

bool password_hash_outdated(std::string_view stored) {
  if (!is_password_hash(stored)) return false;
  const std::string text(stored);
  return crypto_pwhash_str_needs_rehash(text.c_str(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0;
}

std::string password_seal(std::string_view stored) {
  ensure_sodium();
  // A keyed BLAKE2b under a key of this use alone, so that the mark is no
  // plain digest another system might keep of the same value.
  static constexpr unsigned char kKey[crypto_generichash_KEYBYTES] = "oapx1 account seal";
  unsigned char digest[16];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(stored.data()), stored.size(),
                     kKey, sizeof kKey);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

}  // namespace oapx1
